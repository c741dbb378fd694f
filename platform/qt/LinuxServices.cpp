#include "platform/qt/LinuxServices.h"

#include "platform/SleepingPause.h"
#include "platform/ThreadSerialQueue.h"
#include "platform/linux/DrmDisplays.h"
#include "platform/linux/EvdevEventTap.h"
#include "platform/linux/JsonUserDefaults.h"
#include "platform/linux/LocaleLanguages.h"
#include "platform/linux/PermissionsHelp.h"
#include "platform/linux/PulseAudioHardware.h"
#include "platform/linux/XdgAutostart.h"

#include <QString>
#include <QUrl>

namespace varnu::qt {

std::string permissionsHelpURL() {
    const auto path = QString::fromStdString(linux_backend::permissionsHelpPage());
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString();
}

LinuxServices makeLinuxServices(const QtFront& front) {
    using namespace linux_backend;
    LinuxServices bundle;
    PlatformServices& services = bundle.services;
    front.fill(services);
    const auto environment = processEnvironment();
    bundle.defaults =
        std::make_shared<JsonUserDefaults>(defaultsFilePath(environment), front.mainQueue);
    services.defaults = bundle.defaults;
    services.languages = std::make_shared<LocaleLanguages>(environment);
    services.audio = std::make_shared<PulseAudioHardware>(front.mainQueue);
    services.displays = std::make_shared<DrmDisplays>(front.mainQueue);
    services.pause = std::make_shared<SleepingPause>();
    services.makeSerialQueue = [](const std::string& label) {
        return std::make_shared<ThreadSerialQueue>(label);
    };
    EvdevTapPaths tapPaths;
    tapPaths.helpPage = permissionsHelpPage();
    services.eventTaps = std::make_shared<EvdevEventTapService>(front.mainQueue, tapPaths);
    services.loginItem = std::make_shared<XdgAutostart>();
    services.systemDisplayName = "Linux";
    services.accessibilitySettingsURL = permissionsHelpURL();
    return bundle;
}

} // namespace varnu::qt
