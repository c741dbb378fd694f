#include "platform/qt/SymbolIcons.h"

#include "platform/Image.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPixmap>
#include <QPolygonF>
#include <QTransform>
#include <utility>
#include <vector>

namespace varnu::qt {

namespace {

// Shapes are designed on a 24-unit grid and built at a finer scale, because the boolean
// operations on paths flatten curves at the path's own scale.
constexpr double kScale = 16;

QPointF at(double x, double y) {
    return {x * kScale, y * kScale};
}
QRectF box(double x, double y, double width, double height) {
    return {x * kScale, y * kScale, width * kScale, height * kScale};
}

// Speaker symbols share one frame, so the speaker keeps its place when the waves change.
const QRectF kSpeakerViewBox = box(0, 0, 26, 24);
const QRectF kGlyphViewBox = box(0, 0, 24, 24);
const QRectF kAppIconViewBox(0, 0, 64, 64);

// The area a round pen of the given width covers along the path. Filled as it is, its winding
// fill rule covers the overlaps; the shapes simplify it only to build on it further.
QPainterPath strokeArea(const QPainterPath& path, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width * kScale);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path);
}

QPainterPath stroked(const QPainterPath& path, double width) {
    return strokeArea(path, width).simplified();
}

QPainterPath line(QPointF from, QPointF to) {
    QPainterPath path(from);
    path.lineTo(to);
    return path;
}

QPainterPath circle(QPointF centre, double radius) {
    QPainterPath path;
    path.addEllipse(centre, radius * kScale, radius * kScale);
    return path;
}

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

QPainterPath roundedPolygon(std::initializer_list<QPointF> points, double rounding) {
    auto shape = polygon(points);
    return shape.united(stroked(shape, rounding)).simplified();
}

QPainterPath speaker() {
    QPainterPath body;
    body.addRoundedRect(box(2, 8.3, 5.2, 7.4), 1.2 * kScale, 1.2 * kScale);
    auto cone = roundedPolygon({at(6.6, 8.3), at(12.2, 3.9), at(12.2, 20.1), at(6.6, 15.7)}, 1.2);
    return body.united(cone).simplified();
}

// An arc of the given radius around the speaker's mouth, spanning the angle either side of
// the horizontal.
QPainterPath wave(double radius, double halfAngleDegrees) {
    QPainterPath arc;
    const QRectF around = box(12.5 - radius, 12 - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(around, -halfAngleDegrees);
    arc.arcTo(around, -halfAngleDegrees, 2 * halfAngleDegrees);
    return stroked(arc, 2.0);
}

QPainterPath speakerWithWaves(int waves) {
    auto path = speaker();
    const double radii[] = {4.6, 8.1, 11.6};
    const double spans[] = {42, 46, 48};
    for (int index = 0; index < waves; ++index) {
        path = path.united(wave(radii[index], spans[index]));
    }
    return path.simplified();
}

QPainterPath speakerSlashed() {
    const auto slash = line(at(3.0, 3.2), at(21.0, 21.2));
    auto path = speaker().subtracted(stroked(slash, 4.6));
    return path.united(stroked(slash, 2.0)).simplified();
}

QPainterPath sliders() {
    QPainterPath path;
    const double rows[] = {6, 12, 18};
    const double knobs[] = {15.5, 8, 17};
    for (int index = 0; index < 3; ++index) {
        auto track = stroked(line(at(3, rows[index]), at(21, rows[index])), 2.0);
        path = path.united(track.subtracted(circle(at(knobs[index], rows[index]), 3.8)))
                   .united(circle(at(knobs[index], rows[index]), 2.7));
    }
    return path.simplified();
}

QPainterPath checkmarkCircle() {
    QPainterPath tick(at(7.3, 12.4));
    tick.lineTo(at(10.6, 15.7));
    tick.lineTo(at(16.8, 8.7));
    return circle(at(12, 12), 10.5).subtracted(stroked(tick, 2.3)).simplified();
}

QPainterPath exclamationTriangle() {
    auto triangle = roundedPolygon({at(12, 4.0), at(21.2, 20.0), at(2.8, 20.0)}, 3.0);
    auto bar = stroked(line(at(12, 9.2), at(12, 14.0)), 2.4);
    return triangle.subtracted(bar).subtracted(circle(at(12, 17.1), 1.35)).simplified();
}

// A monitor with a speaker on its screen: Varnu's mark in a panel, unlike the desktop's own
// volume indicator beside it.
QPainterPath monitorWithSpeaker() {
    QPainterPath screen;
    screen.addRoundedRect(box(2, 3, 20, 14), 2 * kScale, 2 * kScale);
    auto path = stroked(screen, 2.0);
    path = path.united(stroked(line(at(12, 17), at(12, 20)), 2.0));
    path = path.united(stroked(line(at(7.5, 21), at(16.5, 21)), 2.0));
    QTransform onScreen;
    onScreen.translate(at(6.2, 5.6).x(), at(6.2, 5.6).y());
    onScreen.scale(0.45, 0.45);
    return path.united(onScreen.map(speakerWithWaves(2))).simplified();
}

struct BuiltSymbol {
    std::string name;
    SymbolShape shape;
};

// Built from path unions and differences, which cost far more than filling the result; the
// overlay paints a symbol at every key press and every window's icon paints one, so each shape
// is built once, all at first use.
const BuiltSymbol* findSymbol(const std::string& name) {
    static const std::vector<BuiltSymbol> symbols{
        {"speaker.slash.fill", {speakerSlashed(), kSpeakerViewBox}},
        {"speaker.wave.1.fill", {speakerWithWaves(1), kSpeakerViewBox}},
        {"speaker.wave.2.fill", {speakerWithWaves(2), kSpeakerViewBox}},
        {"speaker.wave.3.fill", {speakerWithWaves(3), kSpeakerViewBox}},
        {"slider.horizontal.3", {sliders(), kGlyphViewBox}},
        {"checkmark.circle.fill", {checkmarkCircle(), kGlyphViewBox}},
        {"exclamationmark.triangle.fill", {exclamationTriangle(), kGlyphViewBox}},
        {kTraySymbol, {monitorWithSpeaker(), kGlyphViewBox}},
    };
    for (const auto& symbol : symbols) {
        if (symbol.name == name) {
            return &symbol;
        }
    }
    return nullptr;
}

void fitInto(QPainter& painter, const QRectF& target, const QRectF& viewBox) {
    const double scale =
        std::min(target.width() / viewBox.width(), target.height() / viewBox.height());
    const QSizeF drawn(viewBox.width() * scale, viewBox.height() * scale);
    painter.translate(target.x() + (target.width() - drawn.width()) / 2,
                      target.y() + (target.height() - drawn.height()) / 2);
    painter.scale(scale, scale);
    painter.translate(-viewBox.topLeft());
}

void paintApplicationIcon(QPainter& painter) {
    QLinearGradient background(0, 2, 0, 62);
    background.setColorAt(0, QColor(0x4F, 0x8C, 0xFF));
    background.setColorAt(1, QColor(0x1F, 0x47, 0xC0));
    QPainterPath tile;
    tile.addRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    painter.fillPath(tile, background);

    const QColor white(0xFF, 0xFF, 0xFF);
    QPainterPath screen;
    screen.addRoundedRect(QRectF(10, 12, 44, 30), 4, 4);
    painter.fillPath(screen, white);
    QPainterPath stand;
    stand.addPolygon(QPolygonF({{28.5, 42}, {35.5, 42}, {37, 48}, {27, 48}}));
    QPainterPath base;
    base.addRoundedRect(QRectF(20, 47.5, 24, 3.5), 1.75, 1.75);
    painter.fillPath(stand.united(base), QColor(0xE8, 0xEE, 0xFF));

    painter.save();
    fitInto(painter, QRectF(17, 15, 30, 24), kSpeakerViewBox);
    painter.fillPath(findSymbol("speaker.wave.2.fill")->shape.path, QColor(0x2A, 0x5C, 0xDB));
    painter.restore();
}

class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(std::string name, QColor color, std::optional<QColor> outline)
        : name_(std::move(name))
        , color_(color)
        , outline_(outline) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        if (mode == QIcon::Disabled) {
            painter->setOpacity(0.4);
        }
        paintSymbol(*painter, rect, name_, color_, outline_);
        painter->restore();
    }

    // The default pixmap is not cleared before painting.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap scaled = pixmap(size * scale, mode, state);
        scaled.setDevicePixelRatio(scale);
        return scaled;
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(name_, color_, outline_); }
    QString key() const override { return QStringLiteral("varnu-symbol"); }

private:
    std::string name_;
    QColor color_;
    std::optional<QColor> outline_;
};

} // namespace

std::optional<SymbolShape> symbolShape(const std::string& name) {
    if (const auto* symbol = findSymbol(name)) {
        return symbol->shape;
    }
    return std::nullopt;
}

bool isKnownSymbol(const std::string& name) {
    return name == kApplicationIconSymbol || symbolShape(name).has_value();
}

void paintSymbol(QPainter& painter, const QRectF& target, const std::string& name,
                 const QColor& color, const std::optional<QColor>& outline) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (name == kApplicationIconSymbol) {
        fitInto(painter, target, kAppIconViewBox);
        paintApplicationIcon(painter);
    } else if (const auto* symbol = findSymbol(name)) {
        fitInto(painter, target, symbol->shape.viewBox);
        if (outline) {
            // Keeps a light symbol readable on a light panel, and a dark one on a dark panel.
            painter.fillPath(strokeArea(symbol->shape.path, 1.6), *outline);
        }
        painter.fillPath(symbol->shape.path, color);
    }
    painter.restore();
}

QIcon symbolIcon(const std::string& name, const QColor& color,
                 const std::optional<QColor>& outline) {
    if (!isKnownSymbol(name)) {
        return {};
    }
    return QIcon(new SymbolIconEngine(name, color, outline));
}

QImage symbolImage(const std::string& name, int pixels, const QColor& color) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintSymbol(painter, QRectF(0, 0, pixels, pixels), name, color);
    painter.end();
    return image;
}

} // namespace varnu::qt

namespace varnu::qt {

QByteArray symbolSvg(const std::string& name) {
    const auto shape = symbolShape(name);
    if (!shape) {
        return {};
    }
    QByteArray path;
    const auto number = [](double value) { return QByteArray::number(value / kScale, 'f', 3); };
    for (int index = 0; index < shape->path.elementCount(); ++index) {
        const auto element = shape->path.elementAt(index);
        if (element.isMoveTo()) {
            path += "M" + number(element.x) + "," + number(element.y);
        } else if (element.isLineTo()) {
            path += "L" + number(element.x) + "," + number(element.y);
        } else if (element.isCurveTo()) {
            const auto second = shape->path.elementAt(index + 1);
            const auto end = shape->path.elementAt(index + 2);
            path += "C" + number(element.x) + "," + number(element.y) + " " + number(second.x) +
                    "," + number(second.y) + " " + number(end.x) + "," + number(end.y);
            index += 2;
        }
    }
    const QRectF& view = shape->viewBox;
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\" viewBox=\"" +
           number(view.x()) + " " + number(view.y()) + " " + number(view.width()) + " " +
           number(view.height()) + "\">\n<path fill=\"#bebebe\" fill-rule=\"" +
           (shape->path.fillRule() == Qt::OddEvenFill ? "evenodd" : "nonzero") + "\" d=\"" + path +
           "Z\"/>\n</svg>\n";
}

} // namespace varnu::qt
