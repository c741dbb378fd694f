#include "platform/linux/LinuxBackend.h"

#include "platform/SleepingPause.h"
#include "platform/ThreadSerialQueue.h"
#include "platform/linux/ServiceDisplays.h"
#include "platform/linux/VolumeKeyTaps.h"
#include "platform/linux/audio/PulseAudioHardware.h"
#include "platform/linux/desktop/LocaleLanguages.h"
#include "platform/linux/desktop/XdgAutostart.h"
#include "platform/linux/displays/DrmDisplays.h"
#include "platform/linux/files/PermissionsHelp.h"
#include "platform/linux/files/XdgEnvironment.h"
#include "platform/linux/store/JsonUserDefaults.h"

namespace varnu::linux_backend {

std::shared_ptr<JsonUserDefaults> addLinuxServices(PlatformServices& services) {
    const auto& mainQueue = services.mainQueue;
    const auto environment = processEnvironment();
    auto defaults = std::make_shared<JsonUserDefaults>(defaultsFilePath(environment), mainQueue);
    services.defaults = defaults;
    services.languages = std::make_shared<LocaleLanguages>(environment);
    services.audio = std::make_shared<PulseAudioHardware>(mainQueue);
    services.pause = std::make_shared<SleepingPause>();
    services.makeSerialQueue = [](const std::string& label) {
        return std::make_shared<ThreadSerialQueue>(label);
    };
    VolumeKeyTapSettings keys;
    keys.local.helpPage = permissionsHelpPage();
    auto taps = std::make_shared<VolumeKeyTaps>(mainQueue, keys);
    services.eventTaps = taps;
    // The displays go the way the keys go: through the service where it serves Varnu.
    if (auto connection = taps->serviceConnection()) {
        services.displays = std::make_shared<ServiceDisplays>(connection, mainQueue);
    } else {
        services.displays = std::make_shared<DrmDisplays>(mainQueue);
    }
    services.loginItem = std::make_shared<XdgAutostart>();
    services.systemDisplayName = "Linux";
    return defaults;
}

} // namespace varnu::linux_backend
