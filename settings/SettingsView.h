#pragma once

#include "platform/Dispatch.h"
#include "platform/PreferredLanguages.h"
#include "platform/UserDefaults.h"
#include "platform/ViewTree.h"
#include "settings/ChangePublisher.h"
#include "settings/SettingsModel.h"

#include <functional>
#include <memory>

namespace varnu {

// The settings window's content, built anew from the shared model on every body() call. It
// keeps no state of its own: each control shows a model value and each user action is one model
// operation. Main thread only.
class SettingsView final : public ViewContent, public std::enable_shared_from_this<SettingsView> {
public:
    // The store and the language list decide the interface language; invalidations are posted
    // to the main queue.
    static std::shared_ptr<SettingsView> create(std::shared_ptr<SettingsModel> model,
                                                std::shared_ptr<UserDefaults> defaults,
                                                std::shared_ptr<PreferredLanguages> languages,
                                                std::shared_ptr<MainQueue> mainQueue);

    ViewNode body() override;
    // The handler runs on a later turn of the main queue, once for all the model's changes of
    // one turn, so it sees every assignment complete. An empty handler stops the notifications.
    void setInvalidationHandler(std::function<void()> handler) override;

private:
    SettingsView(std::shared_ptr<SettingsModel> model, std::shared_ptr<UserDefaults> defaults,
                 std::shared_ptr<PreferredLanguages> languages,
                 std::shared_ptr<MainQueue> mainQueue);
    void modelWillChange();

    std::shared_ptr<SettingsModel> model_;
    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<PreferredLanguages> languages_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::function<void()> invalidationHandler_;
    ChangePublisher::Subscription subscription_;
    bool invalidationPending_ = false;
};

} // namespace varnu
