#pragma once

// A DRM and I2C device tree in a umockdev test bed: GPUs, their cards and connectors, and I2C
// adapters wherever a driver would register them, with the attributes and links the kernel
// gives them. Everything that reads /sys in this process (and its children) sees this tree
// instead; udev monitors in them receive the events sent here.
//
// The test program must run under umockdev-wrapper (its preload library redirects /sys and
// carries the events); available() says whether it does.

#include <cstdint>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace varnu::bed {

class UmockdevDrmTree {
public:
    UmockdevDrmTree();
    ~UmockdevDrmTree();
    UmockdevDrmTree(const UmockdevDrmTree&) = delete;
    UmockdevDrmTree& operator=(const UmockdevDrmTree&) = delete;

    static bool available();

    // Each answers the new device's sysfs path, to pass to the others.
    std::string addGpu(const std::string& pciAddress);
    // The card, with its `device` link to the GPU.
    std::string addCard(const std::string& gpu, const std::string& name);
    std::string addConnector(const std::string& card, const std::string& name,
                             const std::string& status, const std::vector<std::uint8_t>& edid);
    // An I2C adapter under any device, with its i2c-dev class entry.
    std::string addAdapter(const std::string& parent, int bus, const std::string& name);
    // The connector's `ddc` link to an adapter.
    void linkDdc(const std::string& connector, const std::string& adapter);

    void setConnector(const std::string& connector, const std::string& status,
                      const std::vector<std::uint8_t>& edid);
    void remove(const std::string& device);
    // A uevent ("add", "change", "remove") to the udev monitors of this process.
    void uevent(const std::string& device, const std::string& action);

private:
    UMockdevTestbed* testbed_;
};

} // namespace varnu::bed
