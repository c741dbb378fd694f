#include "app/AppDelegate.h"

namespace varnu {

std::shared_ptr<AppDelegate> startApplication(const PlatformServices& services) {
    // A menu-bar utility: no Dock icon and no menu bar of its own, but windows may still show.
    services.application->setActivationPolicy(ActivationPolicy::Accessory);
    auto delegate = AppDelegate::create(services);
    services.application->setDelegate(delegate);
    return delegate;
}

int runApplication(PlatformServices services) {
    // The application holds its delegate weakly; this keeps it for as long as the loop runs.
    const auto delegate = startApplication(services);
    services.application->run();
    return 0;
}

} // namespace varnu
