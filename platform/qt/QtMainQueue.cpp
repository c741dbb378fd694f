#include "platform/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>

namespace varnu::qt {

namespace {

class TimerWork final : public Cancellable {
public:
    explicit TimerWork(QTimer* timer)
        : timer_(timer) {}
    ~TimerWork() override = default;

    void cancel() override {
        cancelled_ = true;
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
        }
    }
    bool isCancelled() const override { return cancelled_; }

private:
    QPointer<QTimer> timer_;
    std::atomic<bool> cancelled_{false};
};

} // namespace

QtMainQueue::QtMainQueue()
    : context_(new QObject) {}

QtMainQueue::~QtMainQueue() {
    delete context_;
}

void QtMainQueue::async(Job job) {
    QMetaObject::invokeMethod(context_, std::move(job), Qt::QueuedConnection);
}

std::shared_ptr<Cancellable> QtMainQueue::asyncAfter(std::chrono::milliseconds delay, Job job) {
    auto* timer = new QTimer(context_);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    auto work = std::make_shared<TimerWork>(timer);
    // The timer holds its work weakly: cancelling after the job ran, or dropping the handle,
    // changes nothing.
    QObject::connect(timer, &QTimer::timeout, timer,
                     [timer, job = std::move(job), weak = std::weak_ptr<TimerWork>(work)] {
                         timer->deleteLater();
                         auto current = weak.lock();
                         if (!current || !current->isCancelled()) {
                             job();
                         }
                     });
    timer->start(delay);
    return work;
}

std::shared_ptr<Cancellable> QtMainQueue::scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                                 Job job) {
    auto* timer = new QTimer(context_);
    timer->setSingleShot(false);
    QObject::connect(timer, &QTimer::timeout, timer, std::move(job));
    timer->start(interval);
    return std::make_shared<TimerWork>(timer);
}

} // namespace varnu::qt
