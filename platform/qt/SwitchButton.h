#pragma once

// An on/off switch: a rounded track with a sliding knob, checkable like a check box.

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>

namespace varnu::qt {

class SwitchButton final : public QAbstractButton {
public:
    explicit SwitchButton(QWidget* parent = nullptr)
        : QAbstractButton(parent) {
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return {38, 22}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) {
            painter.setOpacity(0.45);
        }
        const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
        const double radius = track.height() / 2;
        const QColor on = palette().color(QPalette::Highlight);
        const QColor off = palette().color(QPalette::Mid);
        QPainterPath trackPath;
        trackPath.addRoundedRect(track, radius, radius);
        painter.fillPath(trackPath, isChecked() ? on : off);
        if (hasFocus()) {
            painter.setPen(QPen(on.darker(130), 1.5));
            painter.drawPath(trackPath);
        }
        const double knobDiameter = track.height() - 4;
        const double knobX = isChecked() ? track.right() - 2 - knobDiameter : track.left() + 2;
        const QRectF knob(knobX, track.top() + 2, knobDiameter, knobDiameter);
        painter.setPen(QPen(QColor(0, 0, 0, 40), 0.8));
        painter.setBrush(QColor(255, 255, 255));
        painter.drawEllipse(knob);
    }

    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};

} // namespace varnu::qt
