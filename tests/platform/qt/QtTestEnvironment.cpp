#include "tests/platform/qt/QtTestEnvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFont>
#include <memory>

#include <gtest/gtest.h>

namespace varnu::qt::test {

namespace {

struct QtEnvironment final : ::testing::Environment {
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    }
    void TearDown() override {
        pumpPosted();
        application.reset();
    }

    int argc = 1;
    char name[16] = "varnu_qt_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> application;
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
