#include "ddc/DDCMonitor.h"
#include "ddc/RegistryEntryName.h"
#include "platform/sim/SimPause.h"
#include "platform/sim/SimRegistry.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::ProductNameShape;
using sim::SimMonitor;
using sim::SimRegistry;

using Monitors = std::vector<std::shared_ptr<DDCMonitor>>;
using Names = std::vector<std::string>;

struct Rig {
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    std::shared_ptr<sim::SimPause> pause = std::make_shared<sim::SimPause>(scheduler);
    SimRegistry registry;

    std::shared_ptr<SimMonitor> display() { return SimMonitor::create(scheduler); }
    Monitors discover() { return DDCMonitor::externalMonitors(registry, pause); }
    Names names() {
        Names result;
        for (const auto& monitor : discover()) {
            result.push_back(monitor->name());
        }
        return result;
    }
};

// Whether the monitor's bus leads to that display.
bool talksTo(DDCMonitor& monitor, const std::shared_ptr<SimMonitor>& display, std::uint16_t level) {
    return monitor.write(0x62, level) && display->control(0x62)->current == level;
}

TEST(ExternalMonitorsInRegistry, ListsOnlyProxiesNamedExactlyAndLocatedExternal) {
    Rig rig;
    rig.registry.addEntry("IOPlatformExpertDevice");
    rig.registry.addFramebuffer("DELL U2723QE");
    EXPECT_TRUE(rig.discover().empty());

    rig.registry.addAVServiceProxy(rig.display(), std::nullopt);
    rig.registry.addAVServiceProxy(rig.display(), RegistryValue{RegistryOtherValue{"1"}});
    rig.registry.addAVServiceProxy(
        rig.display(),
        RegistryValue{RegistryDictionary{{"Location", SimRegistry::text("External")}}});
    rig.registry.addAVServiceProxy(rig.display(), SimRegistry::text("Embedded"));
    rig.registry.addAVServiceProxy(rig.display(), SimRegistry::text("external"));
    rig.registry.addAVServiceProxy(rig.display(), SimRegistry::text("External "));
    rig.registry.addAVServiceProxy(rig.display(), SimRegistry::text("External"),
                                   "DCPAVServiceProxyX");
    rig.registry.addAVServiceProxy(rig.display(), SimRegistry::text("External"), "DCPAVService");
    EXPECT_TRUE(rig.discover().empty());
    EXPECT_EQ(rig.registry.iteratorsCreated(), 2u);

    auto display = rig.display();
    rig.registry.addAVServiceProxy(display);
    const auto monitors = rig.discover();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0]->name(), "DELL U2723QE");
    EXPECT_TRUE(talksTo(*monitors[0], display, 33));
}

TEST(ExternalMonitorsInRegistry, NamesEachProxyAfterTheLastProductNameSeenBeforeIt) {
    {
        Rig rig;
        rig.registry.addAVServiceProxy(rig.display());
        rig.registry.addFramebuffer("LG HDR 4K");
        EXPECT_EQ(rig.names(), Names{""});
    }
    {
        // B has no product name, so the second proxy inherits A's.
        Rig rig;
        rig.registry.addFramebuffer("A");
        rig.registry.addAVServiceProxy(rig.display());
        rig.registry.addFramebuffer("B", ProductNameShape::NoProductName);
        rig.registry.addAVServiceProxy(rig.display());
        EXPECT_EQ(rig.names(), (Names{"A", "A"}));
    }
    for (const auto shape :
         {ProductNameShape::NoDisplayAttributes, ProductNameShape::DisplayAttributesNotDictionary,
          ProductNameShape::NoProductAttributes, ProductNameShape::ProductAttributesNotDictionary,
          ProductNameShape::NoProductName, ProductNameShape::ProductNameNotText}) {
        Rig rig;
        rig.registry.addFramebuffer("A");
        rig.registry.addFramebuffer("B", shape);
        rig.registry.addAVServiceProxy(rig.display());
        EXPECT_EQ(rig.names(), Names{"A"}) << static_cast<int>(shape);
    }
    {
        // An internal proxy uses nothing up; a framebuffer name is a prefix test, so the longer
        // names count, while names that only contain the prefix do not.
        Rig rig;
        rig.registry.addFramebuffer("Built-in", ProductNameShape::Present, nullptr,
                                    "IOMobileFramebufferShim");
        rig.registry.addAVServiceProxy(rig.display(), SimRegistry::text("Embedded"));
        rig.registry.addAVServiceProxy(rig.display());
        rig.registry.addFramebuffer("C", ProductNameShape::Present, nullptr, "AppleCLCD2,2");
        rig.registry.addAVServiceProxy(rig.display());
        rig.registry.addFramebuffer("D", ProductNameShape::Present, nullptr,
                                    "IOMobileFramebufferShimX");
        rig.registry.addAVServiceProxy(rig.display());
        rig.registry.addFramebuffer("E", ProductNameShape::Present, nullptr, "XAppleCLCD2");
        rig.registry.addFramebuffer("F", ProductNameShape::Present, nullptr, "AppleCLCD");
        rig.registry.addEntry("Other", SimRegistry::framebufferProperties("G"));
        rig.registry.addAVServiceProxy(rig.display());
        EXPECT_EQ(rig.names(), (Names{"Built-in", "C", "D", "D"}));
    }
}

TEST(ExternalMonitorsInRegistry, ReadsNamesThroughTheNameBuffer) {
    Rig rig;
    rig.registry.addFramebuffer("A", ProductNameShape::Present, nullptr, "AppleCLCD2\xFF\xC3");
    rig.registry.addAVServiceProxy(rig.display(), SimRegistry::text("External"),
                                   std::string("DCPAVServiceProxy\0stale", 23));
    rig.registry.addFramebuffer("B", ProductNameShape::Present, nullptr,
                                "AppleCLCD2" + std::string(300, 'x'));
    rig.registry.addAVServiceProxy(rig.display());
    EXPECT_EQ(rig.names(), (Names{"A", "B"}));

    EXPECT_EQ(registryEntryName(std::string("abc\0def", 7)), "abc");
    EXPECT_EQ(registryEntryName(std::string(200, 'a')), std::string(127, 'a'));
    // A character cut in two by the buffer's end is replaced.
    EXPECT_EQ(registryEntryName(std::string(126, 'a') + "\xC3\xA9"),
              std::string(126, 'a') + "\xEF\xBF\xBD");
    EXPECT_EQ(registryEntryName("D\xC3\xBCsseldorf \xE2\x82\xAC \xF0\x9D\x84\x9E"),
              "D\xC3\xBCsseldorf \xE2\x82\xAC \xF0\x9D\x84\x9E");
}

TEST(ExternalMonitorsInRegistry, ReplacesEachMaximalInvalidSequenceOnce) {
    const std::string R = "\xEF\xBF\xBD";
    // Overlong forms, surrogates, code points past U+10FFFF and stray continuation bytes are
    // broken at their first byte.
    const std::pair<std::string, std::string> cases[] = {
        {"A\xFF\x42", "A" + R + "B"},
        {"\xE2\x82\x41", R + "A"},
        {"\xE2\x82", R},
        {"\xC3\xC3\xA9", R + "\xC3\xA9"},
        {"\xC0\xAF", R + R},
        {"\xE0\x80\xAF", R + R + R},
        {"\xED\xA0\x80", R + R + R},
        {"\xF4\x90\x80\x80", R + R + R + R},
        {"\x80", R},
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"\xED\x9F\xBF", "\xED\x9F\xBF"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(decodeUTF8Lossy(input), expected);
    }
}

TEST(ExternalMonitorsInRegistry, ListsMonitorsInRegistryOrderAndSkipsWhatCannotBeOpened) {
    Rig rig;
    auto first = rig.display();
    auto broken = rig.display();
    auto second = rig.display();
    rig.registry.addExternalDisplay(first, "A", "UUID-A");
    rig.registry.addFramebuffer("Broken", ProductNameShape::Present, broken);
    rig.registry.failAVServiceCreation(rig.registry.addAVServiceProxy(broken));
    rig.registry.addExternalDisplay(second, "B");

    auto monitors = rig.discover();
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0]->name(), "A");
    EXPECT_EQ(monitors[1]->name(), "B");
    // The EDID's UUID tells a monitor apart where there is one, else its name and place do.
    EXPECT_EQ(monitors[0]->identity(), "UUID-A");
    EXPECT_EQ(monitors[1]->identity(), "B#1");
    EXPECT_TRUE(talksTo(*monitors[0], first, 11));
    EXPECT_TRUE(talksTo(*monitors[1], second, 22));

    // Monitors already handed out keep their bus after the display leaves the registry.
    rig.registry.unplug(first);
    EXPECT_EQ(rig.names(), (Names{"B"}));
    EXPECT_TRUE(talksTo(*monitors[0], first, 12));

    rig.registry.failIteratorCreation();
    EXPECT_TRUE(rig.discover().empty());
}

struct ListedDisplays final : DisplayEnumerator {
    std::vector<std::pair<std::string, std::shared_ptr<SimMonitor>>> displays;
    std::vector<ExternalDisplay> externalDisplays() override {
        std::vector<ExternalDisplay> result;
        for (const auto& [name, display] : displays) {
            result.push_back(ExternalDisplay{name, display ? display->makeService() : nullptr,
                                             name == "A" ? "card0-DP-1 0123" : ""});
        }
        return result;
    }
};

TEST(ExternalMonitorsFromEnumerator, MakesOneMonitorPerDisplayWithABusInOrder) {
    Rig rig;
    ListedDisplays listed;
    const auto first = rig.display();
    const auto second = rig.display();
    listed.displays = {{"A", first}, {"No bus", nullptr}, {"", second}};
    auto monitors = DDCMonitor::externalMonitors(listed, rig.pause);
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0]->name(), "A");
    EXPECT_EQ(monitors[1]->name(), "");
    EXPECT_EQ(monitors[0]->identity(), "card0-DP-1 0123");
    EXPECT_EQ(monitors[1]->identity(), "#1");
    EXPECT_TRUE(talksTo(*monitors[0], first, 5));
    EXPECT_TRUE(talksTo(*monitors[1], second, 6));
}

} // namespace
} // namespace varnu
