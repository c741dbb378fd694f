#include "tests/platform/qt/QtTestEnvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>

#include <gtest/gtest.h>

namespace varnu::qt::test {

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application_ = new QApplication(argc_, argv_);
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    }
    void TearDown() override {
        pumpPosted();
        delete application_;
        application_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "varnu_qt_tests";
    char* argv_[2] = {name_, nullptr};
    QApplication* application_ = nullptr;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeout.count()) {
            return condition();
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < duration.count()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

void pumpPosted() {
    for (int turn = 0; turn < 5; ++turn) {
        QApplication::processEvents(QEventLoop::AllEvents);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace varnu::qt::test
