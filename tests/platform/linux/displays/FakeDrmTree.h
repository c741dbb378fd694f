#pragma once

// A DRM sysfs tree in a temporary folder, with EDIDs made in code.

#include "tests/platform/linux/TempDir.h"

#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

namespace varnu::linux_backend::testing {

struct EdidContent {
    // The bytes of the monitor-name descriptor's text; none leaves the descriptor out.
    std::optional<std::string> name;
    // Ends the text with a line feed and pads with spaces, as the standard asks.
    bool terminated = true;
    bool validChecksum = true;
    // A second name descriptor in the base block, after the first, as some makers put their
    // name before the model.
    std::optional<std::string> secondName = std::nullopt;
    // One CTA-861 extension block each, with a name descriptor of this text or none.
    std::vector<std::optional<std::string>> extensionNames = {};
};

namespace detail {

inline void putName(std::vector<std::uint8_t>& edid, std::size_t offset, std::uint8_t tag,
                    std::string text, bool terminated) {
    edid[offset + 3] = tag;
    if (terminated && text.size() < 13) {
        text += '\n';
    }
    text.resize(13, terminated ? ' ' : '\0');
    std::copy(text.begin(), text.end(), edid.begin() + static_cast<std::ptrdiff_t>(offset) + 5);
}

inline void sealBlock(std::vector<std::uint8_t>& edid, std::size_t block, bool valid = true) {
    const auto start = edid.begin() + static_cast<std::ptrdiff_t>(block * 128);
    const auto sum = std::accumulate(start, start + 127, 0u);
    *(start + 127) = static_cast<std::uint8_t>(((256 - sum % 256) % 256) ^ (valid ? 0 : 1));
}

} // namespace detail

// A base block with a detailed timing first and a serial-number descriptor, so that only a name
// descriptor can supply the name, then the CTA-861 extension blocks asked for, each with data
// blocks that hold the name tag's value and a detailed timing before its descriptor.
inline std::vector<std::uint8_t> makeEdid(const EdidContent& content) {
    std::vector<std::uint8_t> edid{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0xAC};
    edid.resize(128 * (1 + content.extensionNames.size()));
    edid[18] = 1; // version 1.4
    edid[19] = 4;
    // Descriptor 1: a detailed timing (non-zero pixel clock) with a byte that looks like the
    // name tag.
    edid[54] = 0x56;
    edid[55] = 0x5E;
    edid[57] = 0xFC;
    detail::putName(edid, 72, 0xFF, "SN123456", true); // the serial number, never the name
    if (content.name) {
        detail::putName(edid, 90, 0xFC, *content.name, content.terminated);
    } else {
        edid[90 + 3] = 0x10; // a dummy descriptor
    }
    if (content.secondName) {
        detail::putName(edid, 108, 0xFC, *content.secondName, true);
    } else {
        edid[108 + 3] = 0xFD; // range limits
    }
    edid[126] = static_cast<std::uint8_t>(content.extensionNames.size());
    for (std::size_t block = 1; block <= content.extensionNames.size(); ++block) {
        const std::size_t start = block * 128;
        edid[start] = 0x02;     // CTA-861
        edid[start + 1] = 0x03; // revision 3
        edid[start + 2] = 0x10; // descriptors from offset 16
        edid[start + 4] = 0x23; // an audio data block ...
        edid[start + 5] = 0x09;
        edid[start + 6] = 0x07;
        edid[start + 7] = 0x07;
        edid[start + 8] = 0xFC;  // ... and bytes that look like a name descriptor's tag
        edid[start + 16] = 0x02; // a detailed timing
        edid[start + 17] = 0x3A;
        if (const auto& name = content.extensionNames[block - 1]) {
            detail::putName(edid, start + 16 + 18, 0xFC, *name, true);
        }
        detail::sealBlock(edid, block);
    }
    detail::sealBlock(edid, 0, content.validChecksum);
    return edid;
}

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
    FakeDrmTree() { std::filesystem::create_directories(root()); }
    std::string root() const { return (dir_.path() / "class" / "drm").string(); }
    // Where the devices the class entries link to live.
    std::filesystem::path devices() const { return dir_.path() / "devices"; }

    void addConnector(const std::string& name, const ConnectorSetup& setup) {
        // As in sysfs, the class entry is a link to the connector's device folder.
        const auto device = devices() / "card" / name;
        writeText(device / "status", setup.status + "\n");
        writeText(device / "edid", std::string(setup.edid.begin(), setup.edid.end()));
        std::filesystem::create_directory_symlink(device, std::filesystem::path(root()) / name);
        if (setup.ddcLink) {
            std::filesystem::create_directories(devices() / *setup.ddcLink);
            std::filesystem::create_directory_symlink("../../" + *setup.ddcLink, device / "ddc");
        }
        for (const auto& folder : setup.busFolders) {
            if (folder.starts_with("i2c-")) {
                addAdapter(device, folder, "");
            } else {
                std::filesystem::create_directories(device / folder);
            }
        }
    }

    // An adapter of a card's own folder or, with onGpu, of the GPU device the card belongs to,
    // where the kernel registers DP-MST ports' adapters and NVIDIA's driver its own. Each card
    // has a GPU of its own.
    void addCardAdapter(const std::string& card, const std::string& bus, const std::string& name,
                        bool onGpu) {
        const auto cardFolder = std::filesystem::path(root()) / card;
        const auto gpu = devices() / ("gpu-" + card);
        if (!std::filesystem::exists(cardFolder)) {
            std::filesystem::create_directories(gpu / card);
            std::filesystem::create_directory_symlink(gpu / card, cardFolder);
            std::filesystem::create_directory_symlink(gpu, cardFolder / "device");
        }
        addAdapter(onGpu ? gpu : cardFolder, bus, name);
    }

private:
    // The adapter's folder, and its entry in the i2c-dev class beside the DRM one.
    void addAdapter(const std::filesystem::path& parent, const std::string& bus,
                    const std::string& name) {
        writeText(parent / bus / "name", name + "\n");
        const auto entry = dir_.path() / "class" / "i2c-dev" / bus;
        writeText(entry / "name", name + "\n");
        std::filesystem::create_directory_symlink(parent / bus, entry / "device");
    }

    TempDir dir_;
};

} // namespace varnu::linux_backend::testing
