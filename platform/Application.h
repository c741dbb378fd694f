#pragma once

#include <memory>

namespace varnu {

enum class ActivationPolicy { Regular = 0, Accessory = 1, Prohibited = 2 };

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
    virtual void applicationWillTerminate() = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    // The application does not own its delegate.
    virtual void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) = 0;
    // Tells the delegate that launching has finished, then runs the event loop until terminate.
    virtual void run() = 0;
    virtual void activateIgnoringOtherApps(bool flag) = 0;
    // Runs the delegate's termination step, then stops the event loop.
    virtual void terminate() = 0;
};

} // namespace varnu
