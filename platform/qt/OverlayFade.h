#pragma once

// The overlay's fade, for any panel that can be given an opacity.
// Implements: animating the opacity from where it stands to a target over a duration, stopping
// where it is when the opacity is set meanwhile, and running the completion on a later turn of
// the event loop, once, however the fade ended.
// Does not: show or hide the panel.

#include <QObject>
#include <QPointer>
#include <QVariantAnimation>
#include <chrono>
#include <functional>

namespace varnu::qt {

class OverlayFade {
public:
    // apply receives each new opacity; owner bounds the animation's and the completion's life.
    OverlayFade(QObject* owner, std::function<double()> current, std::function<void(double)> apply);
    ~OverlayFade();

    OverlayFade(const OverlayFade&) = delete;
    OverlayFade& operator=(const OverlayFade&) = delete;

    void start(double target, std::chrono::milliseconds duration, std::function<void()> completion);
    // Stops a running fade where it is; its completion still runs.
    void stop();
    bool isRunning() const;

private:
    void finish();

    QPointer<QObject> owner_;
    QPointer<QVariantAnimation> animation_;
    std::function<double()> current_;
    std::function<void()> completion_;
};

} // namespace varnu::qt
