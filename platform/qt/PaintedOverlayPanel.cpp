#include "platform/qt/PaintedOverlayPanel.h"

#include "platform/qt/OverlayPainting.h"

#include <QImage>
#include <QPainter>
#include <QTimer>
#include <utility>

namespace varnu::qt {

PaintedOverlayPanel::PaintedOverlayPanel(const OverlayDescription& description)
    : description_(description)
    , context_(std::make_unique<QObject>()) {
    fade_ = std::make_unique<OverlayFade>(
        context_.get(), [this] { return alpha_; },
        [this](double alpha) {
            alpha_ = alpha;
            scheduleDraw();
        });
}

void PaintedOverlayPanel::setIconImage(std::optional<SymbolImage> image) {
    icon_ = std::move(image);
    scheduleDraw();
}

void PaintedOverlayPanel::setFillFrame(const Rect& frame) {
    fill_ = frame;
    scheduleDraw();
}

void PaintedOverlayPanel::setAlphaValue(double alpha) {
    fade_->stop();
    alpha_ = alpha;
    scheduleDraw();
}

void PaintedOverlayPanel::animateAlphaValue(double target, std::chrono::milliseconds duration,
                                            std::function<void()> completion) {
    fade_->start(target, duration, std::move(completion));
}

void PaintedOverlayPanel::scheduleDraw() {
    changed_ = true;
    if (drawQueued_) {
        return;
    }
    drawQueued_ = true;
    QTimer::singleShot(0, context_.get(), [this] {
        drawQueued_ = false;
        if (std::exchange(changed_, false)) {
            draw();
        }
    });
}

void PaintedOverlayPanel::drawNow() {
    changed_ = false;
    draw();
}

void PaintedOverlayPanel::paint(QImage& picture) const {
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    paintOverlay(painter, description_, icon_, fill_, alpha_);
}

} // namespace varnu::qt
