#pragma once

#include "ddc/VCP.h"
#include "platform/AVService.h"
#include "platform/DisplayEnumerator.h"
#include "platform/IORegistry.h"
#include "platform/Pause.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnu {

struct VCPReading {
    std::int64_t current = 0;
    std::int64_t max = 0;
    friend bool operator==(const VCPReading&, const VCPReading&) = default;
};

// Whether a Get VCP Feature reply answers a request for that code without error: a reply damaged
// on the bus or meant for another request must not set a level, so every byte that can be
// checked is.
bool isVCPReplyTo(std::uint8_t code, std::span<const std::uint8_t, kGetVCPFeatureReplySize> reply);

// One external monitor spoken to over DDC/CI. Shared between the monitor cache and the jobs on
// the "ddc" queue; its fields never change, so it needs no lock. Transactions block.
class DDCMonitor {
public:
    // The pause must not be null; a monitor without a service answers every transaction with
    // a failure. The identity tells this monitor from the others across rebuilt lists.
    DDCMonitor(std::unique_ptr<AVService> service, std::string name, std::shared_ptr<Pause> pause,
               std::string identity = {});

    DDCMonitor(const DDCMonitor&) = delete;
    DDCMonitor& operator=(const DDCMonitor&) = delete;

    const std::string& name() const { return name_; }
    const std::string& identity() const { return identity_; }

    // Set VCP Feature, sent twice. True when at least one send was accepted.
    bool write(std::uint8_t code, std::uint16_t value);
    // Get VCP Feature. The current and maximum value, or nothing on any failure.
    std::optional<VCPReading> read(std::uint8_t code);

    // The external monitors of a registry-shaped platform, in registry order.
    static std::vector<std::shared_ptr<DDCMonitor>> externalMonitors(IORegistry& registry,
                                                                     std::shared_ptr<Pause> pause);
    // The external monitors of a platform that lists its displays directly, in its order.
    static std::vector<std::shared_ptr<DDCMonitor>> externalMonitors(DisplayEnumerator& displays,
                                                                     std::shared_ptr<Pause> pause);

private:
    std::unique_ptr<AVService> service_;
    std::string name_;
    std::shared_ptr<Pause> pause_;
    std::string identity_;
};

} // namespace varnu
