#include "app/AppDelegate.h"

#include "hud/HUD.h"
#include "settings/Lang.h"
#include "settings/SettingsModel.h"

#include <utility>

namespace varnu {

namespace {

constexpr const char* kDDCQueueLabel = "ddc";

} // namespace

std::shared_ptr<AppDelegate> AppDelegate::create(PlatformServices services) {
    return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(services)));
}

AppDelegate::AppDelegate(PlatformServices services)
    : services_(std::move(services))
    , statusItem(services_.statusBar->statusItem(kVariableStatusItemLength))
    , defaults(services_.defaults)
    , hud(HUD::create(services_.overlays, services_.screens, services_.mainQueue))
    , ddcQueue(services_.makeSerialQueue(kDDCQueueLabel))
    , settings(std::make_shared<SettingsModel>(defaults)) {}

AppDelegate::~AppDelegate() {
    // The timers' bodies would find the delegate gone anyway; this only spares the queue the work.
    for (const auto& pending : {timer_, quietTimer_}) {
        if (pending) {
            pending->cancel();
        }
    }
}

bool AppDelegate::isGerman() {
    return Lang::isGerman(*defaults, *services_.languages);
}

} // namespace varnu
