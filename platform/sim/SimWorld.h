#pragma once

// One of each simulated backend, bundled the way a real backend bundles its services.
// Implements: the bundle over the simulated backends, on the scheduler's virtual time unless told
// to dispatch elsewhere; the permission to tap the volume keys, granted long ago.
// Does not: add screens, outputs or monitors: those are the owner's to set up.

#include "platform/Dispatch.h"
#include "platform/Pause.h"
#include "platform/PlatformServices.h"
#include "platform/sim/SimAlerts.h"
#include "platform/sim/SimApplication.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimEventTaps.h"
#include "platform/sim/SimLoginItem.h"
#include "platform/sim/SimOverlay.h"
#include "platform/sim/SimPause.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimRegistry.h"
#include "platform/sim/SimScheduler.h"
#include "platform/sim/SimStatusBar.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWindows.h"
#include "platform/sim/SimWorkspace.h"

#include <memory>

namespace varnu::sim {

// Where the world's work runs when not in the scheduler's virtual time, as for the demo on a
// real event loop. Each part left empty is the scheduler's.
struct SimDispatch {
    std::shared_ptr<MainQueue> mainQueue;
    SerialQueueFactory makeSerialQueue;
    std::shared_ptr<Pause> pause;
};

struct SimWorld {
    explicit SimWorld(SimDispatch dispatch = {});

    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;

    PlatformServices services() const;

    std::shared_ptr<SimScheduler> scheduler;
    std::shared_ptr<SimPause> pause;
    std::shared_ptr<SimApplication> application;
    std::shared_ptr<SimStatusBar> statusBar;
    std::shared_ptr<SimUserDefaults> defaults;
    std::shared_ptr<SimPreferredLanguages> languages;
    std::shared_ptr<SimAudioHardware> audio;
    std::shared_ptr<SimRegistry> registry;
    std::shared_ptr<SimOverlayFactory> overlays;
    std::shared_ptr<SimScreens> screens;
    std::shared_ptr<SimWindowFactory> windows;
    std::shared_ptr<SimAlerts> alerts;
    std::shared_ptr<SimWorkspace> workspace;
    std::shared_ptr<SimEventTaps> eventTaps;
    std::shared_ptr<SimLoginItem> loginItem;

private:
    SimDispatch dispatch_;
};

} // namespace varnu::sim
