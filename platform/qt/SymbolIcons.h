#pragma once

// Varnu's own artwork for the symbol names the core uses, drawn as vector paths so it stays
// sharp at any size and does not depend on the desktop's icon theme.

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <optional>
#include <string>

class QPainter;

namespace varnu::qt {

// The tray's own mark, a monitor with a speaker.
constexpr const char* kTraySymbol = "varnu.tray";

struct SymbolShape {
    QPainterPath path; // one filled path
    QRectF viewBox;    // the frame the path was drawn in; fixes the symbol's aspect ratio
};

// Nothing for an unknown name. The application icon is not a single-colour shape.
std::optional<SymbolShape> symbolShape(const std::string& name);
bool isKnownSymbol(const std::string& name);

// Draws the symbol scaled proportionally into the target and centred in it. The application
// icon brings its own colours; the others are filled with the colour, and outlined when an
// outline colour is given.
void paintSymbol(QPainter& painter, const QRectF& target, const std::string& name,
                 const QColor& color, const std::optional<QColor>& outline = std::nullopt);

// An icon that paints the symbol anew at every requested size. Null icon for an unknown name.
QIcon symbolIcon(const std::string& name, const QColor& color,
                 const std::optional<QColor>& outline = std::nullopt);

// The symbol on a transparent square image of the given pixel size.
QImage symbolImage(const std::string& name, int pixels, const QColor& color);

// The symbol as a one-colour SVG document of 16 × 16 pixels, as icon themes hold "-symbolic"
// icons, which desktops draw in their panel's colour. Empty for an unknown name.
QByteArray symbolSvg(const std::string& name);

} // namespace varnu::qt
