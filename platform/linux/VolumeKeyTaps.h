#pragma once

// Which way Varnu catches the volume keys: through its device service where one is installed,
// or by reading the keyboards itself.
// Implements: EventTapService choosing once, at the first question: the service when its socket
// exists and it does not turn Varnu away for good (no login manager, another protocol version);
// otherwise the in-process evdev tap, which needs the input group. On the service's path the
// process counts as trusted while the service welcomes it; the first answer is awaited for at
// most a second, later ones are not awaited. Why the keys cannot be caught, or which program of
// the user the service holds them for, in one English line (stderr, varnu-probe) and as advice
// in English and German for the settings window, also while another program of the user gets
// them instead of Varnu. The keys' connection is read on the main queue; the displays, on the
// same path, take a connection of their own.
// Does not implement: either tap (ServiceKeyTap, EvdevEventTapService).

#include "platform/Dispatch.h"
#include "platform/EventTap.h"
#include "platform/linux/devices-link/DevicesConnection.h"
#include "platform/linux/input/EvdevEventTap.h"
#include "platform/linux/input/OtherDeviceAccess.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace varnu::linux_backend {

struct VolumeKeyTapSettings {
    std::string socketPath = devices::kServiceSocketPath;
    EvdevTapPaths local;
    std::chrono::milliseconds firstAnswer{1000};
    devices::DevicesConnection::Timing retries;
};

class VolumeKeyTaps final : public EventTapService {
public:
    enum class Route { Service, Local };
    struct Path {
        Route route = Route::Local;
        bool ready = false; // keys can be caught this way now
        std::string why;    // one English sentence
    };

    explicit VolumeKeyTaps(std::shared_ptr<MainQueue> mainQueue, VolumeKeyTapSettings settings = {},
                           std::ostream* diagnostics = &std::cerr);

    Path path();
    // A connection of the displays' own to the device service when Varnu goes through it.
    std::shared_ptr<devices::DevicesConnection> serviceConnection();

    bool isProcessTrusted(bool prompt) override;
    std::unique_ptr<EventTap> createTap(std::uint32_t location, std::uint32_t placement,
                                        std::uint32_t options, CGEventMask eventsOfInterest,
                                        EventTapCallback callback) override;
    std::optional<LocalizedText> missingAccessAdvice() override;
    std::optional<LocalizedText> sharedAccessNotice() override;
    std::optional<LocalizedText> keysTakenElsewhere() override;

private:
    void choose();
    Path servicePath(const devices::LinkState& state) const;

    std::shared_ptr<MainQueue> mainQueue_;
    VolumeKeyTapSettings settings_;
    std::ostream* diagnostics_;
    std::optional<Route> route_;
    // Why the keyboards are read in process, when they are.
    std::string localReason_;
    std::shared_ptr<devices::DevicesConnection> connection_;
    std::shared_ptr<devices::DevicesConnection> displaysConnection_;
    EvdevEventTapService local_;
    UdevRuleFiles ruleFiles_;
    bool prompted_ = false;
};

} // namespace varnu::linux_backend
