#pragma once

// A check over a whole scenario that no volume key makes a monitor jump: each level a key press
// sends a monitor must be within one step of what that monitor really plays when Varnu decides
// the level, or of the level an earlier press is still on its way to send it. Where Varnu cannot
// know better, the check does not ask it to:
// - the monitor's level could not be read: the level Varnu knows for the output (the last one it
//   stored, or the one it started with) stands in, and so does any, once the store was changed
//   behind Varnu's back;
// - the monitor's own buttons moved it while Varnu was still talking to it (less than the quiet
//   period since the last transfer on its bus): Varnu reads the level again only after a quiet
//   period;
// - a monitor that plays more than 100 is sent 100 at most.
// A level that cannot reach the monitor (unplugged, or refusing every write) cannot jump.

#include "platform/UserDefaults.h"
#include "platform/sim/SimMonitor.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace varnu::sim {

class JumpCheck {
public:
    // A monitor as the scenario knows it.
    struct Target {
        std::shared_ptr<SimMonitor> monitor;
        std::size_t number = 0;
        bool refusesWrites = false;
    };

    // Varnu sends a key's level to a monitor (the target, when the scenario can tell which it
    // is), stepping from the level before; then it stores the level for the output.
    void sent(const std::optional<Target>& target, const std::string& uid, std::int64_t keyCode,
              std::int64_t step, std::int64_t level, std::int64_t now);
    void stored(const std::string& uid, std::int64_t level);
    // A value the world put in the store; once Varnu runs, it is a change behind its back.
    void put(const std::string& uid, const DefaultsValue& value, bool behindVarnu);

    void transferred(const SimMonitor& monitor, const I2CTransaction& transfer);
    // The monitor's own buttons set its level.
    void turned(const SimMonitor& monitor, bool changed);

    // The first jump found, once.
    std::optional<std::string> takeJump();

private:
    struct Watched {
        std::optional<std::int64_t> lastTransfer;
        // The latest level a key sent that has not reached the bus yet.
        std::optional<std::int64_t> onItsWay;
        bool askingLevel = false;
        bool unreadable = false;
        bool turnedUnseen = false;
    };

    std::int64_t knownLevel(const std::string& uid) const;

    std::map<const SimMonitor*, Watched> watched_;
    std::map<std::string, std::int64_t> known_;
    std::set<std::string> changedBehindVarnu_;
    std::optional<std::string> jump_;
    bool jumpTaken_ = false;
};

} // namespace varnu::sim
