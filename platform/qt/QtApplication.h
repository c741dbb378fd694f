#pragma once

// The application object on QApplication.
// Implements: Application with the launch notification delivered on the first turn of the
// event loop, terminate (the delegate's termination step, then the loop stops), the accessory
// policy (no main window; closing the last window does not quit), and reopen for a second
// launch.
// Does not: create the QApplication (the caller does, before anything else in Qt), or bring
// another application's windows down on activation.

#include "platform/Application.h"

#include <memory>

namespace varnu::qt {

class QtApplication final : public Application {
public:
    // Requires a QApplication.
    QtApplication();

    void setActivationPolicy(ActivationPolicy policy) override;
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override;
    void run() override;
    void activateIgnoringOtherApps(bool flag) override;
    void terminate() override;

    // The user launched the application again while it runs.
    void reopen();

    ActivationPolicy activationPolicy() const { return policy_; }
    bool isTerminating() const { return terminating_; }

private:
    std::weak_ptr<ApplicationDelegate> delegate_;
    ActivationPolicy policy_ = ActivationPolicy::Regular;
    bool terminating_ = false;
};

} // namespace varnu::qt
