#include "platform/linux/displays/DdcBusProbe.h"

#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"
#include "platform/linux/displays/Edid.h"
#include "platform/linux/displays/I2cDevChannel.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace varnu::linux_backend {
namespace {

constexpr std::uint8_t kEdidChipAddress = 0x50;
constexpr std::array<std::uint8_t, 1> kEdidStartOffset{0x00};

// Errors that mean nobody acknowledged on the bus, as opposed to a bus Varnu could not use.
bool isNoAnswer(int error) {
    return error == ENXIO || error == EREMOTEIO || error == EIO || error == ETIMEDOUT ||
           error == EAGAIN;
}

// A display without a connector is named by its EDID, which may need its extension block.
std::size_t edidSize(BusRoute route) {
    return route == BusRoute::GpuBus ? 2 * Edid::kBlockSize : Edid::kBlockSize;
}

bool sameBaseBlock(std::span<const std::uint8_t> read, std::span<const std::uint8_t> expected) {
    return expected.size() >= Edid::kBlockSize &&
           std::equal(read.begin(), read.end(), expected.begin());
}

// Keeps the last failure of the channel beneath, which the monitor's read does not tell.
class FailureKeepingService final : public AVService {
public:
    explicit FailureKeepingService(std::unique_ptr<I2cDevChannel> channel, IOReturn& lastFailure)
        : channel_(std::move(channel))
        , lastFailure_(lastFailure) {}

    IOReturn writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                      std::span<const std::uint8_t> bytes) override {
        return keep(channel_->writeI2C(chipAddress, dataAddress, bytes));
    }
    IOReturn readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                     std::span<std::uint8_t> buffer) override {
        return keep(channel_->readI2C(chipAddress, dataAddress, buffer));
    }

private:
    IOReturn keep(IOReturn status) {
        if (status != kIOReturnSuccess) {
            lastFailure_ = status;
        }
        return status;
    }

    std::unique_ptr<I2cDevChannel> channel_;
    IOReturn& lastFailure_;
};

} // namespace

DdcBusProbe::DdcBusProbe(std::shared_ptr<I2cTransport> transport, std::string deviceRoot,
                         std::shared_ptr<Pause> pause)
    : transport_(std::move(transport))
    , deviceRoot_(std::move(deviceRoot))
    , pause_(std::move(pause)) {}

std::string i2cDevicePath(const std::string& deviceRoot, int bus) {
    return (std::filesystem::path(deviceRoot) / ("i2c-" + std::to_string(bus))).string();
}

std::string DdcBusProbe::busPath(int bus) const {
    return i2cDevicePath(deviceRoot_, bus);
}

ConnectorVerdict DdcBusProbe::probe(const DrmConnector& connector,
                                    const std::set<int>& taken) const {
    ConnectorVerdict verdict;
    // Once the display's EDID turned up on a bus of the connector's own, the buses the whole
    // card shares cannot carry it.
    bool foundOnOwnBus = false;
    for (const auto& candidate : connector.candidates) {
        const bool own = isOwnBus(candidate.route);
        const bool cardWide = candidate.route == BusRoute::CardAdapter;
        if (cardWide && foundOnOwnBus) {
            break;
        }
        if (taken.contains(candidate.bus)) {
            verdict.trials.push_back({candidate, TrialResult::TakenByOther, 0});
            continue;
        }
        const auto path = busPath(candidate.bus);
        std::vector<std::uint8_t> edid(edidSize(candidate.route));
        const IOReturn edidRead = readEdid(candidate.bus, edid);
        // Without an EDID of its own in sysfs, the connector can only trust its own buses.
        const bool unverifiable = connector.edid.empty() && own;
        if (edidRead != kIOReturnSuccess && !unverifiable) {
            verdict.trials.push_back(
                {candidate, isNoAnswer(edidRead) ? TrialResult::NoEdid : TrialResult::Failed,
                 edidRead});
            continue;
        }
        if (cardWide && !sameBaseBlock(edid, connector.edid)) {
            verdict.trials.push_back({candidate, TrialResult::OtherDisplay, 0});
            continue;
        }
        if (candidate.route == BusRoute::GpuBus && !Edid::parse(edid)) {
            verdict.trials.push_back({candidate, TrialResult::NotAnEdid, 0});
            continue;
        }
        foundOnOwnBus = foundOnOwnBus || own;

        IOReturn lastFailure = kIOReturnSuccess;
        DDCMonitor monitor(
            std::make_unique<FailureKeepingService>(
                std::make_unique<I2cDevChannel>(transport_, path, kDDCChipAddress), lastFailure),
            connector.productName, pause_);
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            // A display still busy with the last request gets the time of a reply before the
            // next.
            if (attempt > 0) {
                pause_->usleep(kGetVCPFeatureReplyDelayMicroseconds);
            }
            if (monitor.read(kVCPAudioSpeakerVolume)) {
                verdict.trials.push_back({candidate, TrialResult::Answered, 0});
                verdict.bus = candidate.bus;
                if (candidate.route == BusRoute::GpuBus) {
                    verdict.edid = std::move(edid);
                }
                return verdict;
            }
        }
        const bool unusable = lastFailure != kIOReturnSuccess && !isNoAnswer(lastFailure);
        verdict.trials.push_back(
            {candidate, unusable ? TrialResult::Failed : TrialResult::Silent, lastFailure});
    }
    return verdict;
}

IOReturn DdcBusProbe::readEdid(int bus, std::span<std::uint8_t> edid) const {
    return I2cDevChannel(transport_, busPath(bus), kEdidChipAddress)
        .writeThenRead(kEdidStartOffset, edid);
}

bool DdcBusProbe::stillCarries(const DrmConnector& connector,
                               const ConnectorVerdict& verdict) const {
    const auto winner =
        std::find_if(connector.candidates.begin(), connector.candidates.end(),
                     [&](const BusCandidate& candidate) { return candidate.bus == verdict.bus; });
    if (winner == connector.candidates.end()) {
        return false;
    }
    if (isOwnBus(winner->route)) {
        return true;
    }
    std::vector<std::uint8_t> edid(edidSize(winner->route));
    if (readEdid(winner->bus, edid) != kIOReturnSuccess) {
        return false;
    }
    return winner->route == BusRoute::GpuBus ? edid == verdict.edid
                                             : sameBaseBlock(edid, connector.edid);
}

std::string DdcBusProbe::displayName(const DrmConnector& connector,
                                     const ConnectorVerdict& verdict) {
    if (!connector.productName.empty() || verdict.edid.empty()) {
        return connector.productName;
    }
    const auto edid = Edid::parse(verdict.edid);
    return edid ? edid->monitorName() : std::string();
}

std::string describeTrial(const CandidateTrial& trial, const std::string& busPath) {
    switch (trial.result) {
    case TrialResult::Answered:
        return "answered DDC/CI";
    case TrialResult::Silent:
        return "its EDID, but no DDC/CI answer";
    case TrialResult::OtherDisplay:
        return "EDID of another display";
    case TrialResult::NoEdid:
        return "no EDID: nothing answered at 0x50 (" +
               std::generic_category().message(trial.error) + ")";
    case TrialResult::NotAnEdid:
        return "no monitor's EDID at 0x50";
    case TrialResult::TakenByOther:
        return "the bus of another connector";
    case TrialResult::Failed:
        break;
    }
    return describeBusError(busPath, trial.error);
}

std::string describeVerdict(const ConnectorVerdict& verdict, const std::string& deviceRoot) {
    if (verdict.bus) {
        return {};
    }
    if (verdict.trials.empty()) {
        return "no I2C bus belongs to this connector";
    }
    auto has = [&](TrialResult result) {
        return std::any_of(verdict.trials.begin(), verdict.trials.end(),
                           [&](const CandidateTrial& trial) { return trial.result == result; });
    };
    if (has(TrialResult::Silent)) {
        return "no DDC/CI answer: turn DDC/CI on in the monitor's menu";
    }
    for (const auto& trial : verdict.trials) {
        if (trial.result == TrialResult::Failed) {
            return describeBusError(i2cDevicePath(deviceRoot, trial.candidate.bus), trial.error);
        }
    }
    return "none of its buses gave this display's EDID";
}

} // namespace varnu::linux_backend
