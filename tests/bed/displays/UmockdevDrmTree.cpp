#include "tests/bed/displays/UmockdevDrmTree.h"

#include <filesystem>
#include <umockdev.h>

namespace varnu::bed {
namespace {

std::string taken(gchar* text) {
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

} // namespace

UmockdevDrmTree::UmockdevDrmTree()
    : testbed_(umockdev_testbed_new()) {}

UmockdevDrmTree::~UmockdevDrmTree() {
    g_object_unref(testbed_);
}

bool UmockdevDrmTree::available() {
    return umockdev_in_mock_environment();
}

std::string UmockdevDrmTree::addGpu(const std::string& pciAddress) {
    // Class 0x030000: a VGA-compatible display controller.
    return taken(umockdev_testbed_add_device(testbed_, "pci", pciAddress.c_str(), nullptr, "class",
                                             "0x030000", nullptr, "PCI_SLOT_NAME",
                                             pciAddress.c_str(), nullptr));
}

std::string UmockdevDrmTree::addCard(const std::string& gpu, const std::string& name) {
    auto card = taken(umockdev_testbed_add_device(testbed_, "drm", name.c_str(), gpu.c_str(),
                                                  nullptr, "DEVTYPE", "drm_minor", nullptr));
    umockdev_testbed_set_attribute_link(testbed_, card.c_str(), "device", "..");
    return card;
}

std::string UmockdevDrmTree::addConnector(const std::string& card, const std::string& name,
                                          const std::string& status,
                                          const std::vector<std::uint8_t>& edid) {
    auto connector = taken(
        umockdev_testbed_add_device(testbed_, "drm", name.c_str(), card.c_str(), nullptr, nullptr));
    setConnector(connector, status, edid);
    return connector;
}

std::string UmockdevDrmTree::addAdapter(const std::string& parent, int bus,
                                        const std::string& name) {
    const auto busName = "i2c-" + std::to_string(bus);
    auto adapter = taken(umockdev_testbed_add_device(
        testbed_, "i2c", busName.c_str(), parent.c_str(), "name", name.c_str(), nullptr, nullptr));
    // Its entry in the i2c-dev class, as the i2c-dev module makes for every adapter.
    const auto node =
        taken(umockdev_testbed_add_device(testbed_, "i2c-dev", busName.c_str(), adapter.c_str(),
                                          "name", name.c_str(), nullptr, nullptr));
    umockdev_testbed_set_attribute_link(testbed_, node.c_str(), "device", "..");
    return adapter;
}

void UmockdevDrmTree::linkDdc(const std::string& connector, const std::string& adapter) {
    const auto target = std::filesystem::path(adapter).lexically_relative(connector);
    umockdev_testbed_set_attribute_link(testbed_, connector.c_str(), "ddc", target.c_str());
}

void UmockdevDrmTree::setConnector(const std::string& connector, const std::string& status,
                                   const std::vector<std::uint8_t>& edid) {
    umockdev_testbed_set_attribute(testbed_, connector.c_str(), "status", (status + "\n").c_str());
    std::vector<guint8> bytes(edid.begin(), edid.end());
    umockdev_testbed_set_attribute_binary(testbed_, connector.c_str(), "edid", bytes.data(),
                                          static_cast<gint>(bytes.size()));
}

void UmockdevDrmTree::remove(const std::string& device) {
    umockdev_testbed_remove_device(testbed_, device.c_str());
}

void UmockdevDrmTree::uevent(const std::string& device, const std::string& action) {
    umockdev_testbed_uevent(testbed_, device.c_str(), action.c_str());
}

} // namespace varnu::bed
