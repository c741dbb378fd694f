// The volume overlay of the Qt front, drawn by Qt's offscreen platform unless another is chosen.

#include "bench/LatencySamples.h"
#include "hud/HUD.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtOverlay.h"
#include "platform/qt/QtScreens.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>

namespace {

using namespace varnu;
using Clock = bench::LatencySamples::Clock;

constexpr int kPaintLimitMilliseconds = 2000;

// Makes the real panel and keeps hold of it, so that a benchmark can hide it between showings.
class KeepingOverlayFactory final : public OverlayFactory {
public:
    std::unique_ptr<OverlayPanel> makePanel(const OverlayDescription& description) override {
        auto panel = std::make_unique<qt::QtOverlayPanel>(description);
        panel_ = panel.get();
        return panel;
    }
    qt::QtOverlayPanel* panel() const { return panel_; }

private:
    qt::QtOverlayPanel* panel_ = nullptr;
};

// Counts the overlay's paints and ends the event loop that waits for one once it is done.
class PaintWatch final : public QObject {
public:
    std::uint64_t paints = 0;

    // Turns the event loop until the overlay has been painted since the count given; false when
    // it was not painted in time.
    bool paintedSince(std::uint64_t since) {
        if (paints != since) {
            return true;
        }
        QEventLoop loop;
        waiting_ = &loop;
        QTimer::singleShot(kPaintLimitMilliseconds, &loop, [&loop] { loop.quit(); });
        loop.exec();
        waiting_ = nullptr;
        return paints != since;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (waiting_) {
                // The loop returns once this event, and so the painting, is done.
                waiting_->quit();
            }
        }
        return false;
    }

private:
    QEventLoop* waiting_ = nullptr;
};

struct OverlayDesk {
    OverlayDesk()
        : overlays(std::make_shared<KeepingOverlayFactory>())
        , hud(HUD::create(overlays, std::make_shared<qt::QtScreens>(),
                          std::make_shared<qt::QtMainQueue>())) {
        widget()->installEventFilter(&watch);
    }

    qt::OverlayWidget* widget() const { return overlays->panel()->widget(); }

    // Shows the overlay at 0 and waits for its first paint, which creates its window.
    bool showFirst() {
        hud->show(0, false);
        return watch.paintedSince(0);
    }

    std::shared_ptr<KeepingOverlayFactory> overlays;
    std::shared_ptr<HUD> hud;
    PaintWatch watch;
};

enum class Showing {
    // A first press: the hidden overlay is shown and painted.
    FromHidden,
    // An auto-repeated press: the overlay on the screen is painted at the next level.
    WhileShown,
    // The same, painted at once instead of at Qt's next frame: the work alone.
    RepaintedAtOnce,
};

// Times showings at a new level each, from HUD::show until the overlay has been painted.
void timeShowings(benchmark::State& state, Showing showing) {
    OverlayDesk desk;
    if (!desk.showFirst()) {
        state.SkipWithError("the overlay was not painted");
        return;
    }
    bench::LatencySamples samples(state);
    std::int64_t volume = 6;
    for (auto _ : state) {
        if (showing == Showing::FromHidden) {
            desk.overlays->panel()->orderOut();
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        const std::uint64_t paints = desk.watch.paints;
        const auto start = Clock::now();
        desk.hud->show(volume, false);
        if (showing == Showing::RepaintedAtOnce) {
            desk.widget()->repaint();
        } else if (!desk.watch.paintedSince(paints)) {
            state.SkipWithError("the overlay was not painted");
            break;
        }
        samples.add(Clock::now() - start);
        volume = (volume + 6) % 101;
        // Lets any update the showing asked for go, outside the time.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void BM_QtOverlayShowFromHidden(benchmark::State& state) {
    timeShowings(state, Showing::FromHidden);
}
BENCHMARK(BM_QtOverlayShowFromHidden)->UseManualTime();

void BM_QtOverlayShowWhileShown(benchmark::State& state) {
    timeShowings(state, Showing::WhileShown);
}
BENCHMARK(BM_QtOverlayShowWhileShown)->UseManualTime();

void BM_QtOverlayShowAndRepaintAtOnce(benchmark::State& state) {
    timeShowings(state, Showing::RepaintedAtOnce);
}
BENCHMARK(BM_QtOverlayShowAndRepaintAtOnce)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
