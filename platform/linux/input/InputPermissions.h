#pragma once

// Whether Varnu may catch the volume keys: read the keyboards' event devices and write
// /dev/uinput.
// Implements: the check over a list of event devices and the one line that names what is
// missing and how to grant it.
// Does not implement: listing the devices (InputDeviceList does), granting anything.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::linux_backend {

struct FileAccess {
    std::function<bool(const std::string& path)> exists;
    std::function<bool(const std::string& path)> canRead;
    std::function<bool(const std::string& path)> canWrite;

    // access(2) for the real user.
    static FileAccess system();
};

struct InputAccess {
    std::vector<std::string> unreadableKeyboards;
    bool uinputPresent = false;
    bool uinputWritable = false;

    bool granted() const { return unreadableKeyboards.empty() && uinputWritable; }
};

InputAccess checkInputAccess(const std::vector<std::string>& keyboardDevices,
                             const std::string& uinputPath, const FileAccess& files);

// One line naming what is missing and how to grant it; nothing when access is granted.
std::optional<std::string> describeMissingAccess(const InputAccess& access,
                                                 const std::string& uinputPath,
                                                 std::string_view helpPage);

} // namespace varnu::linux_backend
