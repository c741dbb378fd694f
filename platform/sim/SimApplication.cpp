#include "platform/sim/SimApplication.h"

namespace varnu::sim {

using Kind = ApplicationRecord::Kind;

void SimApplication::setActivationPolicy(ActivationPolicy policy) {
    policy_ = policy;
    history_.add({.kind = Kind::ActivationPolicySet, .policy = policy});
}

void SimApplication::setDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
    delegate_ = std::move(delegate);
    history_.add({.kind = Kind::DelegateSet});
}

void SimApplication::run() {
    launched_ = true;
    if (auto delegate = delegate_.lock()) {
        history_.add({.kind = Kind::DidFinishLaunching});
        delegate->applicationDidFinishLaunching();
    }
}

void SimApplication::activateIgnoringOtherApps(bool flag) {
    ++activations_;
    history_.add({.kind = Kind::Activated, .flag = flag});
}

void SimApplication::terminate() {
    // The delegate's termination step may itself ask to quit.
    if (terminating_ || terminated_) {
        return;
    }
    terminating_ = true;
    if (auto delegate = delegate_.lock()) {
        history_.add({.kind = Kind::WillTerminate});
        delegate->applicationWillTerminate();
    }
    terminated_ = true;
    history_.add({.kind = Kind::Terminated});
}

bool SimApplication::reopen(bool hasVisibleWindows) {
    bool answer = true;
    if (auto delegate = delegate_.lock()) {
        answer = delegate->applicationShouldHandleReopen(hasVisibleWindows);
    }
    history_.add({.kind = Kind::ReopenAsked, .flag = hasVisibleWindows, .answer = answer});
    return answer;
}

} // namespace varnu::sim
