#pragma once

// The simulated application object.
// Implements: the activation policy, the (unowned) delegate, launching, activation and
// termination, and the system's reopen request.
// Does not: run a blocking event loop. run() only reports that launching has finished and
// returns; the scheduler is driven from outside.

#include "platform/Application.h"
#include "platform/sim/SimHistory.h"

#include <memory>
#include <optional>

namespace varnu::sim {

struct ApplicationRecord {
    enum class Kind {
        ActivationPolicySet, // policy
        DelegateSet,
        DidFinishLaunching, // run() told the delegate
        Activated,          // flag
        ReopenAsked,        // flag = hasVisibleWindows, answer
        WillTerminate,      // terminate() told the delegate
        Terminated,
    };
    Kind kind;
    ActivationPolicy policy = ActivationPolicy::Regular;
    bool flag = false;
    bool answer = false;
};

class SimApplication final : public Application {
public:
    void setActivationPolicy(ActivationPolicy policy) override;
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override;
    // Calls applicationDidFinishLaunching and returns.
    void run() override;
    void activateIgnoringOtherApps(bool flag) override;
    // Calls applicationWillTerminate, then marks the application terminated. Later calls do
    // nothing.
    void terminate() override;

    // The system asks the delegate whether to handle a reopen (the user launched the running
    // application again); answers the delegate's reply, or true without a delegate.
    bool reopen(bool hasVisibleWindows);

    std::optional<ActivationPolicy> activationPolicy() const { return policy_; }
    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_.lock(); }
    bool hasLaunched() const { return launched_; }
    int activations() const { return activations_; }
    bool isTerminated() const { return terminated_; }

    const std::vector<ApplicationRecord>& history() const { return history_.records(); }
    void setObserver(SimHistory<ApplicationRecord>::Observer observer) {
        history_.setObserver(std::move(observer));
    }

private:
    std::optional<ActivationPolicy> policy_;
    std::weak_ptr<ApplicationDelegate> delegate_;
    bool launched_ = false;
    int activations_ = 0;
    bool terminating_ = false;
    bool terminated_ = false;
    SimHistory<ApplicationRecord> history_;
};

} // namespace varnu::sim
