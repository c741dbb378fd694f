#pragma once

// Which of a connector's candidate buses carries its display's DDC/CI, found on the buses
// themselves: a bus of the connector's own counts when something answers at the EDID address
// 0x50, whatever EDID it gives (with an EDID override, sysfs shows the override, not the
// monitor's own); a bus the whole card or GPU shares counts only when its EDID is the
// connector's, which is the only way to tell its monitors apart; a bus of a GPU without
// connectors counts when it holds a monitor's EDID. The display must then answer a Get VCP
// Feature for the speaker volume, asked a few times.
// Implements: the trial of one connector's candidates in their order, a record of what each
// candidate did, and what the user can do when none answered.
// Does not implement: the order of the candidates (DrmConnectorScan), remembering verdicts or
// when to try again (DrmDisplays).
//
// Blocks on the buses for up to about a second per candidate; never run it on the main thread.

#include "platform/AVService.h"
#include "platform/Pause.h"
#include "platform/linux/displays/DrmConnectorScan.h"
#include "platform/linux/displays/I2cTransport.h"

#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace varnu::linux_backend {

enum class TrialResult {
    Answered,     // the display answered DDC/CI here
    Silent,       // the display's EDID is here, but DDC/CI got no valid answer
    OtherDisplay, // an EDID of another display
    NoEdid,       // nothing answered at 0x50 (no display on this bus)
    NotAnEdid,    // what answered at 0x50 is no monitor's EDID
    TakenByOther, // already the bus of another connector
    Failed,       // the bus could not be used; see the error
};

struct CandidateTrial {
    BusCandidate candidate;
    TrialResult result = TrialResult::Failed;
    int error = 0; // the errno when Failed, or what stopped the EDID read when NoEdid

    friend bool operator==(const CandidateTrial&, const CandidateTrial&) = default;
};

struct ConnectorVerdict {
    std::optional<int> bus; // the bus that answered
    std::vector<CandidateTrial> trials;
    // For a display without a connector, the EDID its bus gave, which names it.
    std::vector<std::uint8_t> edid;

    friend bool operator==(const ConnectorVerdict&, const ConnectorVerdict&) = default;
};

class DdcBusProbe {
public:
    static constexpr int kAttempts = 3;

    DdcBusProbe(std::shared_ptr<I2cTransport> transport, std::string deviceRoot,
                std::shared_ptr<Pause> pause);

    // Tries the candidates in order until one answers, skipping the buses in `taken`.
    ConnectorVerdict probe(const DrmConnector& connector, const std::set<int>& taken) const;
    // Whether the bus that answered still carries the connector's display: a bus of its own
    // does; a shared bus, or one of a GPU without connectors, while it gives the same EDID as
    // when it answered (after a resume a dock may have swapped its buses).
    bool stillCarries(const DrmConnector& connector, const ConnectorVerdict& verdict) const;
    // The display's name: the connector's, or that of the EDID its bus gave.
    static std::string displayName(const DrmConnector& connector, const ConnectorVerdict& verdict);

    // The device node of an I2C bus, e.g. /dev/i2c-5.
    std::string busPath(int bus) const;

private:
    IOReturn readEdid(int bus, std::span<std::uint8_t> edid) const;

    std::shared_ptr<I2cTransport> transport_;
    std::string deviceRoot_;
    std::shared_ptr<Pause> pause_;
};

// The device node of an I2C bus under a device root, e.g. /dev/i2c-5.
std::string i2cDevicePath(const std::string& deviceRoot, int bus);

// Why no candidate answered, in words that say what to do; empty when one answered.
std::string describeVerdict(const ConnectorVerdict& verdict, const std::string& deviceRoot);
// One candidate's outcome, e.g. "EDID of another display".
std::string describeTrial(const CandidateTrial& trial, const std::string& busPath);

} // namespace varnu::linux_backend
