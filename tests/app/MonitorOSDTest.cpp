#include "app/AppDelegate.h"
#include "ddc/VCP.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using testing::SimDesk;

constexpr const char* kHidden = "The monitor no longer shows its own volume overlay.";
constexpr const char* kNotSupported = "This monitor does not support hiding its overlay.";
constexpr const char* kNoAnswer = "The monitor does not report whether this works – please try it.";
constexpr const char* kHiddenGerman = "Der Monitor zeigt keine eigene Lautstärke-Anzeige mehr.";
constexpr const char* kNotSupportedGerman = "Dieser Monitor unterstützt das Ausblenden nicht.";

struct OverlayDesk : SimDesk {
    AudioObjectID dell = addOutput("dell", "DELL U2723QE");
    std::shared_ptr<sim::SimMonitor> monitor = addMonitor("DELL U2723QE");
    std::shared_ptr<AppDelegate> delegate;

    OverlayDesk() {
        defaults->put("selectedDeviceUID", std::string("dell"));
        delegate = launch();
    }

    std::string statusOnceAnswered() {
        scheduler->advance(std::chrono::seconds(1));
        return delegate->settings->osdInfo();
    }

    std::string statusAfterSetting(bool hide) {
        delegate->settings->setHideMonitorOSD(hide);
        return statusOnceAnswered();
    }

    // A monitor that accepts the write but leaves its overlay control at this value.
    void keepOverlayAt(std::uint16_t value) {
        monitor->setControl(kVCPOSD, sim::VCPControl{.current = value, .maximum = kOSDShown});
        monitor->ignoreSetsOf(kVCPOSD);
    }
};

TEST(MonitorOverlay, TellsFromTheReadBackWhetherTheMonitorHidItsOverlay) {
    OverlayDesk desk;
    EXPECT_EQ(desk.statusOnceAnswered(), kHidden);
    desk.keepOverlayAt(kOSDShown);
    EXPECT_EQ(desk.statusAfterSetting(true), kNotSupported);
    desk.keepOverlayAt(0);
    EXPECT_EQ(desk.statusAfterSetting(true), kNotSupported);
    desk.monitor->refuseReads();
    EXPECT_EQ(desk.statusAfterSetting(true), kNoAnswer);
    // Without the control the monitor answers with result code 1, unsupported.
    desk.monitor->removeControl(kVCPOSD);
    EXPECT_EQ(desk.statusAfterSetting(true), kNoAnswer);

    // Showing it again clears the status whatever the monitor answers.
    desk.keepOverlayAt(kOSDHidden);
    ASSERT_EQ(desk.statusAfterSetting(true), kHidden);
    EXPECT_EQ(desk.statusAfterSetting(false), "");
    desk.monitor->refuseReads(sim::SimMonitor::kAlways);
    ASSERT_EQ(desk.statusAfterSetting(true), kNoAnswer);
    EXPECT_EQ(desk.statusAfterSetting(false), "");
}

TEST(MonitorOverlay, AsksTheMonitorAgainWhenTheLanguageChanges) {
    OverlayDesk desk;
    ASSERT_EQ(desk.statusOnceAnswered(), kHidden);

    // Only a new transaction can learn that the monitor now keeps its overlay.
    desk.keepOverlayAt(kOSDShown);
    desk.delegate->settings->setLanguage("de");
    EXPECT_EQ(desk.statusOnceAnswered(), kNotSupportedGerman);
    desk.keepOverlayAt(kOSDHidden);
    EXPECT_EQ(desk.statusAfterSetting(true), kHiddenGerman);
}

TEST(MonitorOverlay, KeepsTheOutcomeOfTheLatestSettingOnly) {
    SimDesk desk;
    desk.addOutput("dell", "DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    const auto monitor = desk.addMonitor("DELL U2723QE");
    auto delegate = desk.launch();

    // The display leaves the list while the launch's overlay job still waits on the queue; the
    // monitor still answers it.
    desk.registry->unplug(monitor);
    desk.scheduler->advance(std::chrono::seconds(1));
    EXPECT_EQ(monitor->control(kVCPOSD)->current, kOSDHidden);
    EXPECT_EQ(delegate->settings->controlInfo(), "This device cannot be controlled.");
    EXPECT_EQ(delegate->settings->osdInfo(), "");
}

} // namespace
} // namespace varnu
