// The scenario world's audio outputs, as the user's system has them.
// Implements: adding an output (the first one that can play becomes the default, as on a real
// system), unplugging one, and making one the default; each change reaches Varnu's listeners.
// Does not implement: writing to the trace: the audio backend's own observer does that.

#include "tools/varnu-sim/ScenarioWorld.h"

#include <utility>

namespace varnu::sim {

void ScenarioWorld::addOutput(const std::string& uid, const std::string& name, bool native,
                              std::uint32_t channels) {
    SimAudioDevice device;
    device.uid = uid;
    device.name = name;
    device.outputChannels = {channels};
    device.volume = native ? SimVolumeControl::Main : SimVolumeControl::None;
    const auto id = world_.audio->addDevice(std::move(device));
    // Like a real system, the first output that can play becomes the default.
    if (world_.audio->defaultOutput() == kAudioObjectUnknown && channels > 0) {
        world_.audio->setDefaultOutput(id);
        world_.audio->setDefaultSystemOutput(id);
    }
    settle();
}

bool ScenarioWorld::unplug(const std::string& uid) {
    const auto id = world_.audio->idForUID(uid);
    if (!id) {
        return false;
    }
    world_.audio->removeDevice(*id);
    settle();
    return true;
}

bool ScenarioWorld::setDefaultOutput(const std::string& uid) {
    const auto id = world_.audio->idForUID(uid);
    if (!id) {
        return false;
    }
    world_.audio->setDefaultOutput(*id);
    world_.audio->setDefaultSystemOutput(*id);
    settle();
    return true;
}

} // namespace varnu::sim
