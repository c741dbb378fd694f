#include "app/AppDelegate.h"

namespace varnu {

void AppDelegate::setAutostart(bool enabled) {
    auto error =
        enabled ? services_.loginItem->registerItem() : services_.loginItem->unregisterItem();
    if (!error) {
        refreshSettings();
        return;
    }
    // The switch goes back to the system's state at the next refresh.
    services_.alerts->runModal(isGerman() ? "Autostart konnte nicht geändert werden"
                                          : "Could not change the login item",
                               error->localizedDescription);
}

} // namespace varnu
