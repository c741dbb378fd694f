#include "platform/qt/LinuxServices.h"

#include "platform/linux/LinuxBackend.h"
#include "platform/linux/files/PermissionsHelp.h"
#include "settings/Lang.h"

#include <QString>
#include <QUrl>

namespace varnu::qt {

std::string permissionsHelpURL() {
    const auto path = QString::fromStdString(linux_backend::permissionsHelpPage());
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString();
}

LinuxServices makeLinuxServices(const QtFront& front) {
    LinuxServices bundle;
    front.fill(bundle.services);
    bundle.defaults = linux_backend::addLinuxServices(bundle.services);
    bundle.services.accessibilitySettingsURL = permissionsHelpURL();
    front.statusBar->setLanguageRule(
        [defaults = bundle.services.defaults, languages = bundle.services.languages] {
            return Lang::isGerman(*defaults, *languages);
        });
    return bundle;
}

} // namespace varnu::qt
