#include "platform/sim/SimWorld.h"

#include <utility>

namespace varnu::sim {

SimWorld::SimWorld(SimDispatch dispatch)
    : scheduler(SimScheduler::create())
    , pause(std::make_shared<SimPause>(scheduler))
    , application(std::make_shared<SimApplication>())
    , statusBar(std::make_shared<SimStatusBar>())
    , defaults(std::make_shared<SimUserDefaults>())
    , languages(std::make_shared<SimPreferredLanguages>())
    , screens(std::make_shared<SimScreens>())
    , windows(std::make_shared<SimWindowFactory>())
    , alerts(std::make_shared<SimAlerts>())
    , workspace(std::make_shared<SimWorkspace>())
    , eventTaps(std::make_shared<SimEventTaps>())
    , loginItem(std::make_shared<SimLoginItem>())
    , dispatch_(std::move(dispatch)) {
    // The scheduler stands in for each part of the dispatch left empty.
    if (!dispatch_.mainQueue) {
        dispatch_.mainQueue = scheduler;
    }
    if (!dispatch_.makeSerialQueue) {
        dispatch_.makeSerialQueue = scheduler->serialQueueFactory();
    }
    if (!dispatch_.pause) {
        dispatch_.pause = pause;
    }
    audio = std::make_shared<SimAudioHardware>(dispatch_.mainQueue);
    registry = std::make_shared<SimRegistry>(dispatch_.mainQueue);
    overlays = std::make_shared<SimOverlayFactory>(dispatch_.mainQueue);
    // Unless told otherwise, the user granted the permission long ago.
    eventTaps->setTrusted(true);
}

PlatformServices SimWorld::services() const {
    PlatformServices services;
    services.application = application;
    services.statusBar = statusBar;
    services.defaults = defaults;
    services.languages = languages;
    services.audio = audio;
    services.registry = registry;
    services.pause = dispatch_.pause;
    services.mainQueue = dispatch_.mainQueue;
    services.makeSerialQueue = dispatch_.makeSerialQueue;
    services.overlays = overlays;
    services.screens = screens;
    services.windows = windows;
    services.alerts = alerts;
    services.workspace = workspace;
    services.eventTaps = eventTaps;
    services.loginItem = loginItem;
    return services;
}

} // namespace varnu::sim
