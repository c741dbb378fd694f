#include "FakeDrmTree.h"

#include <fstream>
#include <numeric>
#include <stdlib.h>

namespace varnu::linux_backend::testing {
namespace fs = std::filesystem;

std::vector<std::uint8_t> makeEdid(const EdidContent& content) {
    std::vector<std::uint8_t> edid(128, 0);
    const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), edid.begin());
    edid[8] = 0x10; // manufacturer and product: arbitrary
    edid[9] = 0xAC;
    edid[18] = 1; // version 1.4
    edid[19] = 4;
    // Descriptor 1: a detailed timing, whose non-zero pixel clock marks it as one.
    edid[54] = 0x56;
    edid[55] = 0x5E;
    edid[57] = 0xFC; // a timing byte that happens to look like the name tag
    auto putText = [&](std::size_t offset, std::uint8_t tag, const std::string& text,
                       bool terminated) {
        edid[offset + 3] = tag;
        std::size_t index = 0;
        for (; index < text.size() && index < 13; ++index) {
            edid[offset + 5 + index] = static_cast<std::uint8_t>(text[index]);
        }
        if (terminated && index < 13) {
            edid[offset + 5 + index++] = 0x0A;
            for (; index < 13; ++index) {
                edid[offset + 5 + index] = 0x20;
            }
        }
    };
    // Descriptor 2: the serial number, text that must never become the name.
    putText(72, 0xFF, "SN123456", true);
    if (content.name) {
        putText(90, 0xFC, *content.name, content.terminated);
    } else {
        edid[90 + 3] = 0x10; // a dummy descriptor
    }
    edid[108 + 3] = 0xFD; // range limits
    auto sum = std::accumulate(edid.begin(), edid.end() - 1, 0u);
    edid[127] = static_cast<std::uint8_t>((256 - sum % 256) % 256);
    if (!content.validChecksum) {
        edid[127] ^= 0x01;
    }
    return edid;
}

FakeDrmTree::FakeDrmTree() {
    std::string pattern = (fs::temp_directory_path() / "varnu-drm-XXXXXX").string();
    if (::mkdtemp(pattern.data())) {
        base_ = pattern;
        fs::create_directories(base_ / "class" / "drm");
        fs::create_directories(base_ / "devices");
    }
}

FakeDrmTree::~FakeDrmTree() {
    std::error_code error;
    fs::remove_all(base_, error);
}

void FakeDrmTree::addConnector(const std::string& name, const ConnectorSetup& setup) {
    // As in sysfs, the class entry is a link to the connector's device folder.
    auto device = base_ / "devices" / "card" / name;
    fs::create_directories(device);
    fs::create_directory_symlink(device, fs::path(root()) / name);
    std::ofstream(device / "status") << setup.status << '\n';
    std::ofstream edid(device / "edid", std::ios::binary);
    edid.write(reinterpret_cast<const char*>(setup.edid.data()),
               static_cast<std::streamsize>(setup.edid.size()));
    if (setup.ddcLink) {
        auto adapter = base_ / "devices" / *setup.ddcLink;
        fs::create_directories(adapter);
        fs::create_directory_symlink(fs::path("..") / ".." / *setup.ddcLink, device / "ddc");
    }
    for (const auto& folder : setup.busFolders) {
        fs::create_directories(device / folder);
    }
}

void FakeDrmTree::addOther(const std::string& name, bool directory) {
    auto path = fs::path(root()) / name;
    if (directory) {
        fs::create_directories(path);
    } else {
        std::ofstream(path) << "0\n";
    }
}

} // namespace varnu::linux_backend::testing
