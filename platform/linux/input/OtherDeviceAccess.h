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
#include <map>
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

// The rule files (non-comment lines) that name a device and give it a grant, e.g. "uaccess" or
// GROUP="i2c". Kept between calls and read again only when a file or folder changed (each one's
// time and size, as udev decides when to reload), so that a settings line refreshed every few
// seconds reads no rule file while nothing changes.
class UdevRuleFiles {
public:
    // Looks at the folders' files again; what was found stays while none of them changed.
    void refresh(const std::vector<std::string>& folders);
    const std::vector<std::string>& granting(const std::string& device, const std::string& grant);

private:
    struct Stamp {
        std::string path;
        std::int64_t modified = 0;
        std::uintmax_t size = 0;
        bool operator==(const Stamp&) const = default;
    };
    std::vector<std::string> folders_;
    std::vector<Stamp> stamps_;
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> found_;
};

// The nodes of that kind the real user can both read and write; the rule files are looked up in
// `rules` where one is given, else in a lookup of this call's own.
std::vector<OpenDevice> otherDeviceAccess(HeldDevices kind, const FileAccess& files,
                                          const OtherDeviceAccessPaths& paths = {},
                                          UdevRuleFiles* rules = nullptr);

// Whether a POSIX access ACL (the xattr's bytes) lets that user read and write.
bool aclGrantsReadWrite(std::span<const std::uint8_t> acl, uid_t uid);

// One line for varnu-probe; nothing when no device is open to the user.
std::optional<std::string> describeOtherDeviceAccess(const std::vector<OpenDevice>& open);
// The same for the settings window.
std::optional<LocalizedText> otherDeviceAccessNotice(const std::vector<OpenDevice>& open);

} // namespace varnu::linux_backend
