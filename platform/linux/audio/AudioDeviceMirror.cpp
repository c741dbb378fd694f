#include "platform/linux/audio/AudioDeviceMirror.h"

#include <algorithm>

namespace varnu::linux_backend {
namespace {

void fire(const AudioDeviceMirror::Listeners& listeners) {
    // A listener may register another one; run the ones present now from a copy.
    const AudioDeviceMirror::Listeners current = listeners;
    for (const auto& listener : current) {
        listener();
    }
}

} // namespace

AudioObjectID AudioDeviceMirror::idFor(const std::string& sinkName) {
    auto [it, added] = ids_.try_emplace(sinkName, nextID_);
    if (added) {
        ++nextID_;
    }
    return it->second;
}

const AudioDevice* AudioDeviceMirror::find(AudioObjectID id) const {
    const auto it = std::find_if(devices_.begin(), devices_.end(),
                                 [id](const AudioDevice& device) { return device.id == id; });
    return it == devices_.end() ? nullptr : &*it;
}

AudioObjectID AudioDeviceMirror::defaultID() const {
    const auto it = std::find_if(devices_.begin(), devices_.end(), [&](const AudioDevice& device) {
        return device.uid == defaultSink_;
    });
    return it == devices_.end() ? kAudioObjectUnknown : it->id;
}

void AudioDeviceMirror::apply(const ServerSnapshot& snapshot) {
    std::vector<AudioDevice> next;
    next.reserve(snapshot.sinks.size());
    for (const auto& sink : snapshot.sinks) {
        const auto shown = classifySink(sink, snapshot.cards);
        next.push_back(AudioDevice{idFor(sink.name), sink.name, shown.name, sink.channels,
                                   shown.nativeVolume});
    }
    const AudioObjectID previousDefault = defaultID();
    const bool listChanged = next != devices_;
    devices_ = std::move(next);
    connected_ = snapshot.connected;
    // Until the server has answered our latest write, its older default would undo what the
    // core has just chosen and read back.
    if (snapshot.defaultWritesSettled >= defaultWritesIssued_) {
        defaultSink_ = snapshot.defaultSink;
    }
    const bool defaultChanged = defaultID() != previousDefault;
    if (listChanged) {
        fire(deviceListListeners);
    }
    if (defaultChanged) {
        fire(defaultOutputListeners);
    }
}

void AudioDeviceMirror::wrote(std::uint64_t write, const std::string& sinkName) {
    defaultWritesIssued_ = write;
    const AudioObjectID previous = defaultID();
    defaultSink_ = sinkName;
    if (previous != defaultID() && mainQueue_) {
        mainQueue_->async([self = weak_from_this()] {
            if (auto mirror = self.lock()) {
                fire(mirror->defaultOutputListeners);
            }
        });
    }
}

} // namespace varnu::linux_backend
