#include "platform/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <utility>

namespace varnu::qt {

namespace {

void stopNow(QTimer& timer) {
    timer.stop();
}

// A notifier switched off watches nothing more, even before it is deleted.
void stopNow(QSocketNotifier& notifier) {
    notifier.setEnabled(false);
}

// Work on the main thread's event loop, by the object that runs it: a timer or a notifier.
template <typename Object>
class ObjectWork final : public Cancellable {
public:
    explicit ObjectWork(Object* object)
        : object_(object) {}

    void cancel() override {
        cancelled_ = true;
        if (object_) {
            stopNow(*object_);
            object_->deleteLater();
        }
    }
    bool isCancelled() const override { return cancelled_; }

private:
    QPointer<Object> object_;
    std::atomic<bool> cancelled_{false};
};

using TimerWork = ObjectWork<QTimer>;
using NotifierWork = ObjectWork<QSocketNotifier>;

} // namespace

// Queued work and timers hang off a context object, a child of the application, so they die
// with the queue or with the application, whichever goes first. A job of a serial queue
// abandoned at quit may still hand work over from its own thread after that: the mutex makes
// "is the context there" and the posting one step, and such work is dropped.
struct QtMainQueue::Receiver {
    std::mutex mutex;
    QObject* context = nullptr;
};

QtMainQueue::QtMainQueue()
    : receiver_(std::make_shared<Receiver>()) {
    receiver_->context = new QObject(QCoreApplication::instance());
    QObject::connect(receiver_->context, &QObject::destroyed, [receiver = receiver_] {
        const std::lock_guard lock(receiver->mutex);
        receiver->context = nullptr;
    });
}

QtMainQueue::~QtMainQueue() {
    std::unique_lock lock(receiver_->mutex);
    QObject* const context = std::exchange(receiver_->context, nullptr);
    if (!context) {
        return;
    }
    if (context->thread() == QThread::currentThread()) {
        lock.unlock();
        delete context;
    } else {
        // The last owner was a job on another thread.
        context->deleteLater();
    }
}

void QtMainQueue::async(Job job) {
    const std::lock_guard lock(receiver_->mutex);
    if (receiver_->context) {
        QMetaObject::invokeMethod(receiver_->context, std::move(job), Qt::QueuedConnection);
    }
}

std::shared_ptr<Cancellable> QtMainQueue::asyncAfter(std::chrono::milliseconds delay, Job job) {
    const std::lock_guard lock(receiver_->mutex);
    if (!receiver_->context) {
        return std::make_shared<TimerWork>(nullptr);
    }
    auto* timer = new QTimer(receiver_->context);
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
    const std::lock_guard lock(receiver_->mutex);
    if (!receiver_->context) {
        return std::make_shared<TimerWork>(nullptr);
    }
    auto* timer = new QTimer(receiver_->context);
    timer->setSingleShot(false);
    QObject::connect(timer, &QTimer::timeout, timer, std::move(job));
    timer->start(interval);
    return std::make_shared<TimerWork>(timer);
}

std::shared_ptr<Cancellable> QtMainQueue::whenReadable(int fd, Job job) {
    const std::lock_guard lock(receiver_->mutex);
    if (!receiver_->context) {
        return std::make_shared<NotifierWork>(nullptr);
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, receiver_->context);
    auto work = std::make_shared<NotifierWork>(notifier);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [job = std::move(job), weak = std::weak_ptr<NotifierWork>(work)] {
                         auto current = weak.lock();
                         if (!current || !current->isCancelled()) {
                             job();
                         }
                     });
    return work;
}

} // namespace varnu::qt
