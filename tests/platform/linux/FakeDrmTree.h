#pragma once

// A DRM sysfs tree in a temporary folder, with EDIDs made in code.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varnu::linux_backend::testing {

struct EdidContent {
    // The bytes of the monitor-name descriptor's text; none leaves the descriptor out.
    std::optional<std::string> name;
    // Ends the text with a line feed and pads with spaces, as the standard asks.
    bool terminated = true;
    bool validChecksum = true;
};

// A 128-byte base block with a detailed timing first and a serial-number descriptor, so that
// only the name descriptor can supply the name.
std::vector<std::uint8_t> makeEdid(const EdidContent& content);

struct ConnectorSetup {
    std::string status = "connected";
    std::vector<std::uint8_t> edid;
    // The adapter the ddc link points to, e.g. "i2c-3".
    std::optional<std::string> ddcLink;
    // i2c-N folders inside the connector, as DisplayPort AUX channels have.
    std::vector<std::string> busFolders;
};

class FakeDrmTree {
public:
    FakeDrmTree();
    ~FakeDrmTree();
    FakeDrmTree(const FakeDrmTree&) = delete;
    FakeDrmTree& operator=(const FakeDrmTree&) = delete;

    std::string root() const { return (base_ / "class" / "drm").string(); }
    // Where the devices the class entries link to live.
    std::filesystem::path devices() const { return base_ / "devices"; }
    void addConnector(const std::string& name, const ConnectorSetup& setup);
    // An entry that is not a connector (the card itself, a render node, a file).
    void addOther(const std::string& name, bool directory);

private:
    std::filesystem::path base_;
};

} // namespace varnu::linux_backend::testing
