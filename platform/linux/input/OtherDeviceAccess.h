#pragma once

// Which of the devices Varnu's device service holds the user can still open without it: another
// package's udev rule may tag /dev/uinput or a display bus with uaccess (logind then gives the
// user at the seat an ACL on it) or give it to a group the user is in. Any program of that user
// can then type into any window, or write to that bus.
// Implements: the check of /dev/uinput and every /dev/i2c-N, the way each one is open to the
// user (an ACL, a group, the mode), the udev rule files whose lines give it, and one line in
// English and German that says so.
// Does not implement: taking anything away, which is the other package's to decide.

#include "platform/EventTap.h"
#include "platform/linux/input/InputPermissions.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnu::linux_backend {

struct OtherDeviceAccessPaths {
    std::string dev = "/dev";
    // In udev's order: a file of the same name in an earlier folder hides the later one.
    std::vector<std::string> rulesFolders = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                             "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
};

struct OpenDevice {
    enum class Through { Acl, Group, Mode };
    std::string node;
    Through through = Through::Mode;
    std::string group;              // the node's group, when it is open through it
    std::vector<std::string> rules; // the rule files that give it so
};

enum class HeldDevices { Uinput, DisplayBuses, All };

// The nodes of that kind the real user can both read and write.
std::vector<OpenDevice> otherDeviceAccess(HeldDevices kind, const FileAccess& files,
                                          const OtherDeviceAccessPaths& paths = {});

// Whether a POSIX access ACL (the xattr's bytes) lets that user read and write.
bool aclGrantsReadWrite(std::span<const std::uint8_t> acl, uid_t uid);

// The rule files (non-comment lines) that name the device and give it the grant, e.g. "uaccess"
// or GROUP="i2c".
std::vector<std::string> rulesGranting(const std::vector<std::string>& folders,
                                       const std::string& device, const std::string& grant);

// One line for varnu-probe; nothing when no device is open to the user.
std::optional<std::string> describeOtherDeviceAccess(const std::vector<OpenDevice>& open);
// The same for the settings window.
std::optional<LocalizedText> otherDeviceAccessNotice(const std::vector<OpenDevice>& open);

} // namespace varnu::linux_backend
