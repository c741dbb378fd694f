#pragma once

#include "platform/Dispatch.h"
#include "platform/Overlay.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace varnu {

// The volume overlay: a symbol and a level bar on the screen under the pointer, shown at once
// and faded out 1.4 s after the last showing. Main thread only.
class HUD : public std::enable_shared_from_this<HUD> {
public:
    static constexpr std::chrono::milliseconds kHideDelay{1400};
    static constexpr std::chrono::milliseconds kFadeDuration{300};

    // Builds the panel, hidden.
    static std::shared_ptr<HUD> create(std::shared_ptr<OverlayFactory> overlays,
                                       std::shared_ptr<Screens> screens,
                                       std::shared_ptr<MainQueue> mainQueue);

    HUD(const HUD&) = delete;
    HUD& operator=(const HUD&) = delete;

    void show(std::int64_t volume, bool muted);

private:
    HUD(std::unique_ptr<OverlayPanel> panel, std::shared_ptr<Screens> screens,
        std::shared_ptr<MainQueue> mainQueue);
    void hide();

    std::unique_ptr<OverlayPanel> panel_;
    std::shared_ptr<Screens> screens_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Cancellable> hideWork_;
    // Counts the showings, so that a fade only hides the panel if nothing showed it since.
    std::uint64_t shown_ = 0;
};

} // namespace varnu
