#include "platform/linux/input/OtherDeviceAccess.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace varnu::linux_backend {
namespace {

namespace fs = std::filesystem;

// The layout of system.posix_acl_access: a version word, then entries of tag, permissions and id.
constexpr std::uint32_t kAclXattrVersion = 2;
constexpr std::uint16_t kAclUserTag = 0x02;
constexpr std::uint16_t kAclRead = 0x04;
constexpr std::uint16_t kAclWrite = 0x02;
constexpr std::size_t kAclHeaderSize = 4;
constexpr std::size_t kAclEntrySize = 8;
constexpr std::size_t kLargestAcl = 4096;

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        value = value << 8 | bytes[i];
    }
    return value;
}

bool aclOpensTo(const std::string& node, uid_t uid) {
    std::array<std::uint8_t, kLargestAcl> acl{};
    auto size = ::getxattr(node.c_str(), "system.posix_acl_access", acl.data(), acl.size());
    return size > 0 && aclGrantsReadWrite({acl.data(), static_cast<std::size_t>(size)}, uid);
}

bool inGroup(gid_t gid) {
    if (gid == ::getgid()) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    auto count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return count > 0 &&
           std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

std::string groupName(gid_t gid) {
    if (auto* entry = ::getgrgid(gid)) {
        return entry->gr_name;
    }
    return std::to_string(gid);
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : separator) + part;
    }
    return text;
}

std::string nodesOf(const std::vector<OpenDevice>& open) {
    std::vector<std::string> nodes;
    for (const auto& device : open) {
        nodes.push_back(device.node);
    }
    return joined(nodes, ", ");
}

std::string rulesOf(const std::vector<OpenDevice>& open) {
    std::set<std::string> rules;
    for (const auto& device : open) {
        rules.insert(device.rules.begin(), device.rules.end());
    }
    return joined({rules.begin(), rules.end()}, ", ");
}

} // namespace

bool aclGrantsReadWrite(std::span<const std::uint8_t> acl, uid_t uid) {
    if (acl.size() < kAclHeaderSize || littleEndian(acl.first(4)) != kAclXattrVersion) {
        return false;
    }
    for (auto entry = acl.subspan(kAclHeaderSize); entry.size() >= kAclEntrySize;
         entry = entry.subspan(kAclEntrySize)) {
        auto tag = littleEndian(entry.first(2));
        auto permissions = littleEndian(entry.subspan(2, 2));
        if (tag == kAclUserTag && littleEndian(entry.subspan(4, 4)) == uid &&
            (permissions & (kAclRead | kAclWrite)) == (kAclRead | kAclWrite)) {
            return true;
        }
    }
    return false;
}

void UdevRuleFiles::refresh(const std::vector<std::string>& folders) {
    std::set<std::string> names;
    std::vector<Stamp> stamps;
    for (const auto& folder : folders) {
        std::error_code error;
        std::set<fs::path> files;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (entry.path().extension() == ".rules") {
                files.insert(entry.path());
            }
        }
        for (const auto& file : files) {
            if (!names.insert(file.filename().string()).second) {
                continue;
            }
            struct stat status {};
            Stamp stamp{file.string()};
            if (::stat(stamp.path.c_str(), &status) == 0) {
                stamp.modified = status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec;
                stamp.size = static_cast<std::uintmax_t>(status.st_size);
            }
            stamps.push_back(std::move(stamp));
        }
    }
    if (folders != folders_ || stamps != stamps_) {
        folders_ = folders;
        stamps_ = std::move(stamps);
        found_.clear();
    }
}

const std::vector<std::string>& UdevRuleFiles::granting(const std::string& device,
                                                        const std::string& grant) {
    auto [known, added] = found_.try_emplace({device, grant});
    if (!added) {
        return known->second;
    }
    for (const auto& stamp : stamps_) {
        std::ifstream in(stamp.path);
        for (std::string line; std::getline(in, line);) {
            auto start = line.find_first_not_of(" \t");
            if (start != std::string::npos && line[start] != '#' &&
                line.find(device) != std::string::npos && line.find(grant) != std::string::npos) {
                known->second.push_back(stamp.path);
                break;
            }
        }
    }
    return known->second;
}

std::vector<OpenDevice> otherDeviceAccess(HeldDevices kind, const FileAccess& files,
                                          const OtherDeviceAccessPaths& paths,
                                          UdevRuleFiles* rules) {
    UdevRuleFiles ownRules;
    auto& lookup = rules ? *rules : ownRules;
    bool looked = false;
    auto rulesGranting = [&](const std::string& device, const std::string& grant) {
        if (!std::exchange(looked, true)) {
            lookup.refresh(paths.rulesFolders);
        }
        return lookup.granting(device, grant);
    };
    std::vector<std::pair<std::string, std::string>> nodes; // the node, the word rules name it by
    if (kind != HeldDevices::DisplayBuses) {
        nodes.emplace_back(paths.dev + "/uinput", "uinput");
    }
    std::error_code error;
    std::set<std::string> buses;
    for (const auto& entry : fs::directory_iterator(paths.dev, error)) {
        if (kind != HeldDevices::Uinput && entry.path().filename().string().starts_with("i2c-")) {
            buses.insert(entry.path().string());
        }
    }
    for (const auto& bus : buses) {
        nodes.emplace_back(bus, "i2c");
    }
    std::vector<OpenDevice> open;
    for (const auto& [node, word] : nodes) {
        struct stat status {};
        if (::stat(node.c_str(), &status) != 0 || !files.canRead(node) || !files.canWrite(node)) {
            continue;
        }
        OpenDevice device;
        device.node = node;
        if (aclOpensTo(node, ::getuid())) {
            device.through = OpenDevice::Through::Acl;
            device.rules = rulesGranting(word, "uaccess");
        } else if (inGroup(status.st_gid) && (status.st_mode & S_IRGRP) &&
                   (status.st_mode & S_IWGRP)) {
            device.through = OpenDevice::Through::Group;
            device.group = groupName(status.st_gid);
            device.rules = rulesGranting(word, "GROUP=\"" + device.group + "\"");
        }
        open.push_back(std::move(device));
    }
    return open;
}

std::optional<std::string> describeOtherDeviceAccess(const std::vector<OpenDevice>& open) {
    if (open.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> ways;
    for (const auto& device : open) {
        switch (device.through) {
        case OpenDevice::Through::Acl:
            ways.push_back(device.node +
                           " by an ACL for the user at the seat (udev's uaccess tag)");
            break;
        case OpenDevice::Through::Group:
            ways.push_back(device.node + " through the group " + device.group);
            break;
        case OpenDevice::Through::Mode:
            ways.push_back(device.node + " by its mode");
            break;
        }
    }
    auto rules = rulesOf(open);
    return "besides the device service, this user can open " + joined(ways, ", ") +
           (rules.empty() ? std::string() : ", given by " + rules) +
           ": any program of this user can type into any window (uinput) or write to the bus";
}

std::optional<LocalizedText> otherDeviceAccessNotice(const std::vector<OpenDevice>& open) {
    if (open.empty()) {
        return std::nullopt;
    }
    auto rules = rulesOf(open);
    auto nodes = nodesOf(open);
    return LocalizedText{
        "Other udev rules than Varnu's give you " + nodes +
            (rules.empty() ? std::string() : " (" + rules + ")") +
            ", so any program you run can type into any window or write to those buses.",
        "Andere udev-Regeln als Varnus geben Ihnen " + nodes +
            (rules.empty() ? std::string() : " (" + rules + ")") +
            ", daher kann jedes Programm, das Sie starten, in jedes Fenster tippen oder auf "
            "diese Busse schreiben."};
}

} // namespace varnu::linux_backend
