#include "platform/qt/ViewStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace varnu::qt {

QColor mix(const QColor& a, const QColor& b, double share) {
    return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - share) + b.redF() * share),
                            static_cast<float>(a.greenF() * (1 - share) + b.greenF() * share),
                            static_cast<float>(a.blueF() * (1 - share) + b.blueF() * share));
}

QColor colorFor(TextColor color) {
    const auto palette = QApplication::palette();
    switch (color) {
    case TextColor::Primary:
        return palette.color(QPalette::WindowText);
    case TextColor::Secondary:
        return mix(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.5);
    case TextColor::Green:
        return QColor(0x24, 0xA1, 0x48);
    case TextColor::Orange:
        return QColor(0xE8, 0x7B, 0x00);
    }
    return palette.color(QPalette::WindowText);
}

QFont fontFor(TextStyle style, bool bold) {
    QFont font = QApplication::font();
    const double scale = style == TextStyle::Title2    ? 1.6
                         : style == TextStyle::Callout ? 0.92
                                                       : 1.0;
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * scale);
    } else {
        font.setPixelSize(static_cast<int>(font.pixelSize() * scale + 0.5));
    }
    font.setBold(bold);
    return font;
}

void styleLabel(QLabel* label, TextStyle style, TextColor color, bool bold) {
    label->setFont(fontFor(style, bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colorFor(color));
    label->setPalette(palette);
}

Qt::Alignment horizontal(HorizontalAlignment alignment) {
    switch (alignment) {
    case HorizontalAlignment::Leading:
        return Qt::AlignLeft;
    case HorizontalAlignment::Center:
        return Qt::AlignHCenter;
    case HorizontalAlignment::Trailing:
        return Qt::AlignRight;
    }
    return Qt::AlignHCenter;
}

} // namespace varnu::qt
