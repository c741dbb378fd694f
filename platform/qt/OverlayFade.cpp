#include "platform/qt/OverlayFade.h"

#include <QTimer>

namespace varnu::qt {

OverlayFade::OverlayFade(QObject* owner, std::function<double()> current,
                         std::function<void(double)> apply)
    : owner_(owner)
    , animation_(new QVariantAnimation(owner))
    , current_(std::move(current)) {
    QObject::connect(
        animation_.data(), &QVariantAnimation::valueChanged, owner,
        [apply = std::move(apply)](const QVariant& value) { apply(value.toDouble()); });
    QObject::connect(animation_.data(), &QAbstractAnimation::finished, owner, [this] { finish(); });
}

OverlayFade::~OverlayFade() {
    if (animation_) {
        animation_->stop();
        delete animation_.data();
    }
}

void OverlayFade::start(double target, std::chrono::milliseconds duration,
                        std::function<void()> completion) {
    stop();
    completion_ = std::move(completion);
    animation_->setDuration(static_cast<int>(duration.count()));
    animation_->setStartValue(current_());
    animation_->setEndValue(target);
    animation_->start();
}

void OverlayFade::stop() {
    if (isRunning()) {
        animation_->stop();
        finish();
    }
}

bool OverlayFade::isRunning() const {
    return animation_ && animation_->state() == QAbstractAnimation::Running;
}

void OverlayFade::finish() {
    if (!completion_ || !owner_) {
        return;
    }
    // The completion runs on a later turn of the main queue, never inside the caller.
    QTimer::singleShot(0, owner_.data(), std::move(completion_));
    completion_ = nullptr;
}

} // namespace varnu::qt
