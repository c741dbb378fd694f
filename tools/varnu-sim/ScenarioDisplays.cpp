// The scenario world's monitors and screens.
// Implements: a monitor with its VCP controls and faults, placed on the display registry as an
// external display or the computer's own panel, its I2C transfers written to the trace and shown
// to the jump check; unplugging one; its own buttons; which one Varnu means by an identity;
// screens and the mouse.
// Does not implement: the monitor's DDC/CI answers (SimMonitor's) or the registry walk
// (SimRegistry's).

#include "ddc/VCP.h"
#include "tools/varnu-sim/ScenarioWorld.h"
#include "tools/varnu-sim/TraceFormat.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace varnu::sim {

void ScenarioWorld::addMonitor(const std::string& productName, const MonitorOptions& options) {
    auto monitor = SimMonitor::create(world_.scheduler);
    auto volume = monitor->control(kVCPAudioSpeakerVolume).value_or(VCPControl{50, 100});
    volume.current = options.volume.value_or(volume.current);
    volume.maximum = options.maximum.value_or(volume.maximum);
    monitor->setControl(kVCPAudioSpeakerVolume, volume);
    if (options.mute) {
        auto mute = monitor->control(kVCPAudioMute).value_or(VCPControl{kAudioMuteOff, 2});
        mute.current = *options.mute;
        monitor->setControl(kVCPAudioMute, mute);
    }
    if (options.noOSD) {
        monitor->removeControl(kVCPOSD);
    } else if (options.osd) {
        auto osd = monitor->control(kVCPOSD).value_or(VCPControl{kOSDShown, 2});
        osd.current = *options.osd;
        monitor->setControl(kVCPOSD, osd);
    }
    if (options.refuseWrites) {
        monitor->refuseWrites(SimMonitor::kAlways);
    }
    if (options.refuseReads) {
        monitor->refuseReads(SimMonitor::kAlways);
    }
    if (options.corruptReplies) {
        monitor->spoilReplies(ReplyFault::BadChecksum, SimMonitor::kAlways);
    }

    const std::size_t number = monitors_.size() + 1;
    monitor->setObserver([this, number, watched = monitor.get()](const I2CTransaction& transfer) {
        jumps_.transferred(*watched, transfer);
        const bool ok = transfer.status == kIOReturnSuccess;
        const bool write = transfer.direction == I2CDirection::Write;
        trace_ << transfer.timeMilliseconds << " i2c #" << number << (write ? " write " : " read ")
               << hexByte(transfer.chipAddress) << ' ' << hexByte(transfer.dataAddress);
        if (write) {
            trace_ << ' ' << hexBytes(transfer.bytes) << (ok ? " -> ok" : " -> refused");
        } else if (ok) {
            trace_ << " -> " << hexBytes(transfer.bytes);
        } else {
            trace_ << " -> refused";
        }
        trace_ << '\n';
    });

    if (options.internal) {
        world_.registry->addFramebuffer(productName, ProductNameShape::Present, monitor);
        world_.registry->addAVServiceProxy(monitor, SimRegistry::text(kSimInternalLocation));
    } else {
        world_.registry->addExternalDisplay(monitor, productName, options.edidUUID);
    }
    monitors_.push_back(Monitor{productName, std::move(monitor), options, true});
    settle();
}

ScenarioWorld::Monitor* ScenarioWorld::connectedMonitor(const std::string& productName) {
    auto it = std::find_if(monitors_.rbegin(), monitors_.rend(), [&](const Monitor& entry) {
        return entry.connected && entry.productName == productName;
    });
    return it == monitors_.rend() ? nullptr : &*it;
}

bool ScenarioWorld::disconnect(const std::string& productName) {
    auto* entry = connectedMonitor(productName);
    if (!entry) {
        return false;
    }
    world_.registry->unplug(entry->monitor);
    entry->monitor->disconnect();
    entry->connected = false;
    settle();
    return true;
}

bool ScenarioWorld::turn(const std::string& productName, std::uint16_t level) {
    auto* entry = connectedMonitor(productName);
    if (!entry) {
        return false;
    }
    auto volume = entry->monitor->control(kVCPAudioSpeakerVolume).value_or(VCPControl{0, 100});
    const bool changed = volume.current != level;
    volume.current = level;
    entry->monitor->setControl(kVCPAudioSpeakerVolume, volume);
    jumps_.turned(*entry->monitor, changed);
    settle();
    return true;
}

std::optional<JumpCheck::Target> ScenarioWorld::monitorNamed(const std::string& identity) {
    // The registry's external displays, in its order, named as Varnu names them: by the EDID's
    // UUID, else by the product name and the place among those of that name. A name that two
    // connected displays share, or that monitors of different products have carried, tells
    // nothing.
    std::optional<JumpCheck::Target> target;
    std::set<std::string> products;
    std::map<std::string, int> places;
    for (std::size_t index = 0; index < monitors_.size(); ++index) {
        const auto& entry = monitors_[index];
        if (entry.options.internal || (!entry.connected && entry.options.edidUUID.empty())) {
            continue;
        }
        const int place = entry.connected ? ++places[entry.productName] : 0;
        const std::string named = entry.options.edidUUID.empty()
                                      ? entry.productName + "#" + std::to_string(place)
                                      : entry.options.edidUUID;
        if (named != identity) {
            continue;
        }
        products.insert(entry.productName);
        if (!entry.connected) {
            continue;
        }
        if (target) {
            return std::nullopt;
        }
        target = JumpCheck::Target{entry.monitor, index + 1, entry.options.refuseWrites};
    }
    return products.size() > 1 ? std::nullopt : target;
}

void ScenarioWorld::addScreen(const Rect& frame) {
    world_.screens->addScreen(frame);
}

void ScenarioWorld::setMouse(Point location) {
    world_.screens->setMouseLocation(location);
    mouseGiven_ = true;
}

} // namespace varnu::sim
