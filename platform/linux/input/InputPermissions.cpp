#include "platform/linux/input/InputPermissions.h"

#include <unistd.h>

namespace varnu::linux_backend {

FileAccess FileAccess::system() {
    return {
        [](const std::string& path) { return ::access(path.c_str(), F_OK) == 0; },
        [](const std::string& path) { return ::access(path.c_str(), R_OK) == 0; },
        [](const std::string& path) { return ::access(path.c_str(), W_OK) == 0; },
    };
}

InputAccess checkInputAccess(const std::vector<std::string>& keyboardDevices,
                             const std::string& uinputPath, const FileAccess& files) {
    InputAccess access;
    for (const auto& device : keyboardDevices) {
        if (!files.canRead(device)) {
            access.unreadableKeyboards.push_back(device);
        }
    }
    access.uinputPresent = files.exists(uinputPath);
    access.uinputWritable = access.uinputPresent && files.canWrite(uinputPath);
    return access;
}

std::optional<std::string> describeMissingAccess(const InputAccess& access,
                                                 const std::string& uinputPath,
                                                 std::string_view helpPage) {
    if (access.granted()) {
        return std::nullopt;
    }
    std::string missing;
    auto add = [&](const std::string& part) { missing += missing.empty() ? part : "; " + part; };
    if (!access.unreadableKeyboards.empty()) {
        auto count = access.unreadableKeyboards.size();
        add("cannot read the keyboards' event devices (" + access.unreadableKeyboards.front() +
            (count > 1 ? " and " + std::to_string(count - 1) + " more" : std::string()) +
            "): add your user to the input group");
    }
    if (!access.uinputPresent) {
        add(uinputPath + " does not exist: load the uinput module (modprobe uinput)");
    } else if (!access.uinputWritable) {
        add("cannot write " + uinputPath + ": install Varnu's udev rules");
    }
    return "Varnu cannot catch the volume keys: " + missing + ". See " + std::string(helpPage);
}

} // namespace varnu::linux_backend
