#include "platform/linux/audio/PulseAudioHardware.h"

#include "platform/linux/audio/SinkClassification.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <pulse/pulseaudio.h>
#include <sys/time.h>
#include <unordered_map>
#include <vector>

namespace varnu::linux_backend {

namespace {

static_assert(kPortTypeHDMI == PA_DEVICE_PORT_TYPE_HDMI);
static_assert(kNoCard == PA_INVALID_INDEX);

constexpr AudioObjectID kFirstDeviceID = 2;
constexpr const char* kClientName = "Varnu";
// How long a default-sink write may take to show in the server's answers. PipeWire's pulse
// server only records the wish and answers at once; its session manager applies it a moment
// later, or not at all.
constexpr auto kDefaultWriteGrace = std::chrono::milliseconds(2000);

// The server's state as one consistent picture, handed from the libpulse thread to the main
// thread by copy.
struct ServerSnapshot {
    bool connected = false;
    std::vector<SinkRecord> sinks; // in the server's order
    std::vector<CardRecord> cards;
    std::string defaultSink;
    // Default-sink writes up to this number are reflected in defaultSink.
    std::uint64_t defaultWritesSettled = 0;

    friend bool operator==(const ServerSnapshot&, const ServerSnapshot&) = default;
};

struct Device {
    AudioObjectID id = kAudioObjectUnknown;
    std::string uid;
    std::string name;
    std::uint32_t channels = 0;
    bool nativeVolume = true;

    friend bool operator==(const Device&, const Device&) = default;
};

std::string text(const char* value) {
    return value ? std::string(value) : std::string();
}

SinkRecord sinkRecord(const pa_sink_info& info) {
    SinkRecord record;
    record.index = info.index;
    record.name = text(info.name);
    record.description = text(info.description);
    record.channels = info.sample_spec.channels;
    record.hardwareVolume = (info.flags & PA_SINK_HW_VOLUME_CTRL) != 0;
    record.card = info.card;
    if (info.active_port) {
        record.activePort = SinkPortRecord{text(info.active_port->name), info.active_port->type};
    }
    return record;
}

CardRecord cardRecord(const pa_card_info& info) {
    CardRecord record;
    record.index = info.index;
    for (std::uint32_t i = 0; info.ports && i < info.n_ports; ++i) {
        const pa_card_port_info* port = info.ports[i];
        if (!port) {
            break;
        }
        const char* product = port->proplist
                                  ? pa_proplist_gets(port->proplist, PA_PROP_DEVICE_PRODUCT_NAME)
                                  : nullptr;
        record.ports.push_back(CardPortRecord{text(port->name), text(product)});
    }
    return record;
}

using Listeners = std::vector<std::function<void()>>;

void fire(const Listeners& listeners) {
    // A listener may register another one; run the ones present now from a copy.
    const Listeners current = listeners;
    for (const auto& listener : current) {
        listener();
    }
}

} // namespace

// The main thread's view, the one every read is answered from.
struct PulseAudioHardware::Mirror {
    std::shared_ptr<MainQueue> mainQueue;
    bool connected = false;
    std::vector<Device> devices;
    std::string defaultSink;
    std::uint64_t defaultWritesIssued = 0;
    std::unordered_map<std::string, AudioObjectID> ids;
    AudioObjectID nextID = kFirstDeviceID;
    Listeners deviceListListeners;
    Listeners defaultOutputListeners;

    AudioObjectID idFor(const std::string& sinkName) {
        auto [it, added] = ids.try_emplace(sinkName, nextID);
        if (added) {
            ++nextID;
        }
        return it->second;
    }

    const Device* find(AudioObjectID id) const {
        const auto it = std::find_if(devices.begin(), devices.end(),
                                     [id](const Device& device) { return device.id == id; });
        return it == devices.end() ? nullptr : &*it;
    }

    AudioObjectID defaultID() const {
        const auto it = std::find_if(devices.begin(), devices.end(), [&](const Device& device) {
            return device.uid == defaultSink;
        });
        return it == devices.end() ? kAudioObjectUnknown : it->id;
    }

    void apply(const ServerSnapshot& snapshot) {
        std::vector<Device> next;
        next.reserve(snapshot.sinks.size());
        for (const auto& sink : snapshot.sinks) {
            const auto shown = classifySink(sink, snapshot.cards);
            next.push_back(
                Device{idFor(sink.name), sink.name, shown.name, sink.channels, shown.nativeVolume});
        }
        const AudioObjectID previousDefault = defaultID();
        const bool listChanged = next != devices;
        devices = std::move(next);
        connected = snapshot.connected;
        // Until the server has answered our latest write, its older default would undo what
        // the core has just chosen and read back.
        if (snapshot.defaultWritesSettled >= defaultWritesIssued) {
            defaultSink = snapshot.defaultSink;
        }
        const bool defaultChanged = defaultID() != previousDefault;
        if (listChanged) {
            fire(deviceListListeners);
        }
        if (defaultChanged) {
            fire(defaultOutputListeners);
        }
    }
};

// Everything that runs on the libpulse thread. Its members are touched there, or under the
// main loop's lock.
class PulseAudioHardware::Connection {
public:
    Connection(std::shared_ptr<MainQueue> mainQueue, std::weak_ptr<Mirror> mirror,
               PulseAudioOptions options)
        : mainQueue_(std::move(mainQueue))
        , mirror_(std::move(mirror))
        , options_(std::move(options)) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) {
            std::fprintf(stderr, "varnu: cannot create the audio server main loop\n");
            return;
        }
        api_ = pa_threaded_mainloop_get_api(loop_);
        pa_threaded_mainloop_set_name(loop_, "varnu-pulse");
        if (pa_threaded_mainloop_start(loop_) < 0) {
            std::fprintf(stderr, "varnu: cannot start the audio server thread\n");
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
            return;
        }
        pa_threaded_mainloop_lock(loop_);
        connect();
        pa_threaded_mainloop_unlock(loop_);
    }

    ~Connection() {
        if (!loop_) {
            return;
        }
        pa_threaded_mainloop_stop(loop_);
        for (pa_time_event** timer : {&retry_, &writeGrace_}) {
            if (*timer) {
                api_->time_free(*timer);
                *timer = nullptr;
            }
        }
        dropContext();
        pa_threaded_mainloop_free(loop_);
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Main thread. Sends the request and answers true when a ready connection took it.
    bool setDefaultSink(const std::string& sinkName, std::uint64_t write) {
        if (!loop_) {
            return false;
        }
        pa_threaded_mainloop_lock(loop_);
        bool sent = false;
        if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
            if (pa_operation* op = pa_context_set_default_sink(
                    context_, sinkName.c_str(), &Connection::onDefaultSinkSet, this)) {
                pa_operation_unref(op);
                writesRequested_ = write;
                writeReplies_.push_back(write);
                awaitedDefaultSink_ = sinkName;
                armWriteGrace();
                // On PulseAudio the answer to this already shows the written default.
                requestServerInfo();
                sent = true;
            }
        }
        pa_threaded_mainloop_unlock(loop_);
        return sent;
    }

private:
    void connect() {
        context_ = pa_context_new(api_, kClientName);
        if (!context_) {
            scheduleRetry();
            return;
        }
        forgetServer();
        ready_ = false;
        pa_context_set_state_callback(context_, &Connection::onContextState, this);
        pa_context_set_subscribe_callback(context_, &Connection::onSubscription, this);
        const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
        if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            reportUnreachable();
            dropContext();
            scheduleRetry();
        }
    }

    void dropContext() {
        if (!context_) {
            return;
        }
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
        ready_ = false;
    }

    void forgetServer() {
        sinks_.clear();
        cards_.clear();
        defaultSink_.clear();
        pending_ = 0;
        writeReplies_.clear();
        // Writes that did not reach the server are moot; the next server decides the default.
        settleWrites(writesRequested_);
    }

    // From here on the server's default is the one to show, up to and including this write.
    void settleWrites(std::uint64_t write) {
        writesSettled_ = std::max(writesSettled_, write);
        if (writesSettled_ < writesRequested_) {
            return;
        }
        awaitedDefaultSink_.clear();
        if (writeGrace_) {
            api_->time_free(writeGrace_);
            writeGrace_ = nullptr;
        }
    }

    void armWriteGrace() {
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when,
                       static_cast<pa_usec_t>(kDefaultWriteGrace.count()) * PA_USEC_PER_MSEC);
        if (writeGrace_) {
            api_->time_restart(writeGrace_, &when);
        } else {
            writeGrace_ = api_->time_new(api_, &when, &Connection::onWriteGraceOver, this);
        }
    }

    void scheduleRetry() {
        if (retry_) {
            return;
        }
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, static_cast<pa_usec_t>(options_.reconnectInterval.count()) *
                                  PA_USEC_PER_MSEC);
        retry_ = api_->time_new(api_, &when, &Connection::onRetry, this);
    }

    void reportUnreachable() {
        if (reportedUnreachable_) {
            return;
        }
        reportedUnreachable_ = true;
        const int error = context_ ? pa_context_errno(context_) : PA_ERR_UNKNOWN;
        std::fprintf(stderr, "varnu: the audio server is not available (%s); retrying\n",
                     pa_strerror(error));
    }

    void track(pa_operation* op) {
        if (op) {
            ++pending_;
            pa_operation_unref(op);
        }
    }

    void requestServerInfo() {
        track(pa_context_get_server_info(context_, &Connection::onServerInfo, this));
    }

    void operationDone() {
        if (pending_ > 0) {
            --pending_;
        }
        publish();
    }

    // Posts the picture when no answer is outstanding and it differs from the last one posted.
    void publish() {
        if (pending_ > 0 || !mainQueue_) {
            return;
        }
        ServerSnapshot snapshot;
        snapshot.connected = ready_;
        if (ready_) {
            for (const auto& [index, sink] : sinks_) {
                snapshot.sinks.push_back(sink);
            }
            for (const auto& [index, card] : cards_) {
                snapshot.cards.push_back(card);
            }
            snapshot.defaultSink = defaultSink_;
        }
        snapshot.defaultWritesSettled = writesSettled_;
        if (published_ && *published_ == snapshot) {
            return;
        }
        published_ = snapshot;
        mainQueue_->async([mirror = mirror_, snapshot = std::move(snapshot)] {
            if (auto alive = mirror.lock()) {
                alive->apply(snapshot);
            }
        });
    }

    void onReady() {
        reportedUnreachable_ = false;
        const auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_CARD | PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* op = pa_context_subscribe(context_, mask, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
        // Nothing is posted before all three answers are in, so the main thread never sees a
        // half-filled server.
        ++pending_;
        requestServerInfo();
        track(pa_context_get_sink_info_list(context_, &Connection::onSinkInfo, this));
        track(pa_context_get_card_info_list(context_, &Connection::onCardInfo, this));
        ready_ = true;
        operationDone();
    }

    void onLost() {
        reportUnreachable();
        dropContext();
        forgetServer();
        publish();
        scheduleRetry();
    }

    static void onContextState(pa_context* context, void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        if (context != self->context_) {
            return;
        }
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->onReady();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->onLost();
            break;
        default:
            break;
        }
    }

    static void onSubscription(pa_context* context, pa_subscription_event_type_t event,
                               std::uint32_t index, void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        if (context != self->context_ || !self->ready_) {
            return;
        }
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const bool removed =
            (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
        switch (facility) {
        case PA_SUBSCRIPTION_EVENT_SINK:
            if (removed) {
                self->sinks_.erase(index);
                self->publish();
            } else {
                self->track(pa_context_get_sink_info_by_index(context, index,
                                                              &Connection::onSinkInfo, self));
            }
            break;
        case PA_SUBSCRIPTION_EVENT_CARD:
            if (removed) {
                self->cards_.erase(index);
                self->publish();
            } else {
                self->track(pa_context_get_card_info_by_index(context, index,
                                                              &Connection::onCardInfo, self));
            }
            break;
        case PA_SUBSCRIPTION_EVENT_SERVER:
            self->requestServerInfo();
            break;
        default:
            break;
        }
    }

    // Called once per sink, then once more with eol set (negative when the query failed, e.g.
    // because the sink went away in between).
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        if (context != self->context_) {
            return;
        }
        if (eol != 0 || !info) {
            self->operationDone();
            return;
        }
        self->sinks_[info->index] = sinkRecord(*info);
    }

    static void onCardInfo(pa_context* context, const pa_card_info* info, int eol, void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        if (context != self->context_) {
            return;
        }
        if (eol != 0 || !info) {
            self->operationDone();
            return;
        }
        self->cards_[info->index] = cardRecord(*info);
    }

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        if (context != self->context_) {
            return;
        }
        if (info) {
            self->defaultSink_ = text(info->default_sink_name);
        }
        if (!self->awaitedDefaultSink_.empty() && self->defaultSink_ == self->awaitedDefaultSink_) {
            self->settleWrites(self->writesRequested_);
        }
        self->operationDone();
    }

    static void onDefaultSinkSet(pa_context* context, int success, void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        if (context != self->context_ || self->writeReplies_.empty()) {
            return;
        }
        const std::uint64_t write = self->writeReplies_.front();
        self->writeReplies_.pop_front();
        if (!success) {
            // Refused (the sink went away meanwhile): the server keeps its default.
            self->settleWrites(write);
            self->publish();
        }
    }

    // The server did not take up the write in time: what it says now stands.
    static void onWriteGraceOver(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                 void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        api->time_free(event);
        self->writeGrace_ = nullptr;
        self->settleWrites(self->writesRequested_);
        self->publish();
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                        void* userdata) {
        auto* self = static_cast<Connection*>(userdata);
        api->time_free(event);
        self->retry_ = nullptr;
        if (!self->context_) {
            self->connect();
        }
    }

    std::shared_ptr<MainQueue> mainQueue_;
    std::weak_ptr<Mirror> mirror_;
    PulseAudioOptions options_;

    pa_threaded_mainloop* loop_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    pa_time_event* writeGrace_ = nullptr;

    bool ready_ = false;
    int pending_ = 0;
    std::map<std::uint32_t, SinkRecord> sinks_; // by index: the server's order
    std::map<std::uint32_t, CardRecord> cards_;
    std::string defaultSink_;
    std::uint64_t writesRequested_ = 0;
    std::uint64_t writesSettled_ = 0;
    // The sink of the latest write, until the server shows it or the grace is over.
    std::string awaitedDefaultSink_;
    // For each default-sink write in flight, its number.
    std::deque<std::uint64_t> writeReplies_;
    std::optional<ServerSnapshot> published_;
    bool reportedUnreachable_ = false;
};

PulseAudioHardware::PulseAudioHardware(std::shared_ptr<MainQueue> mainQueue,
                                       PulseAudioOptions options)
    : mirror_(std::make_shared<Mirror>()) {
    mirror_->mainQueue = mainQueue;
    connection_ = std::make_unique<Connection>(std::move(mainQueue), mirror_, std::move(options));
}

PulseAudioHardware::~PulseAudioHardware() {
    // Stop the libpulse thread before the mirror goes; posted pictures find it gone and do
    // nothing.
    connection_.reset();
}

OSStatus PulseAudioHardware::getPropertyDataSize(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::uint32_t& dataSize) {
    AudioPropertyData data;
    const OSStatus status = getPropertyData(object, address, data);
    if (status != kAudioHardwareNoError) {
        return status;
    }
    if (const auto* list = std::get_if<AudioObjectIDList>(&data)) {
        dataSize = static_cast<std::uint32_t>(list->size()) * kAudioObjectIDSize;
    } else if (std::holds_alternative<AudioObjectID>(data)) {
        dataSize = kAudioObjectIDSize;
    } else if (const auto* buffers = std::get_if<AudioBufferList>(&data)) {
        dataSize = kAudioBufferListHeaderSize +
                   static_cast<std::uint32_t>(buffers->numberChannels.size()) * kAudioBufferSize;
    } else if (std::holds_alternative<std::string>(data)) {
        dataSize = kAudioStringReferenceSize;
    } else {
        return kAudioHardwareUnsupportedOperationError;
    }
    return kAudioHardwareNoError;
}

OSStatus PulseAudioHardware::getPropertyData(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             AudioPropertyData& data) {
    if (object == kAudioObjectSystemObject) {
        switch (address.selector) {
        case kAudioHardwarePropertyDevices: {
            AudioObjectIDList ids;
            for (const auto& device : mirror_->devices) {
                ids.push_back(device.id);
            }
            data = std::move(ids);
            return kAudioHardwareNoError;
        }
        case kAudioHardwarePropertyDefaultOutputDevice:
        case kAudioHardwarePropertyDefaultSystemOutputDevice:
            data = mirror_->defaultID();
            return kAudioHardwareNoError;
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    const Device* device = mirror_->find(object);
    if (!device) {
        return kAudioHardwareBadObjectError;
    }
    switch (address.selector) {
    case kAudioDevicePropertyStreamConfiguration:
        data = address.scope == kAudioObjectPropertyScopeOutput
                   ? AudioBufferList{{device->channels}}
                   : AudioBufferList{};
        return kAudioHardwareNoError;
    case kAudioDevicePropertyDeviceUID:
        data = device->uid;
        return kAudioHardwareNoError;
    case kAudioObjectPropertyName:
        data = device->name;
        return kAudioHardwareNoError;
    case kAudioDevicePropertyVolumeScalar:
        // Only ever tested for presence and settability.
        return hasProperty(object, address) ? kAudioHardwareUnsupportedOperationError
                                            : kAudioHardwareUnknownPropertyError;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus PulseAudioHardware::setPropertyData(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             const AudioPropertyData& data) {
    if (object != kAudioObjectSystemObject) {
        return mirror_->find(object) ? kAudioHardwareUnsupportedOperationError
                                     : kAudioHardwareBadObjectError;
    }
    const auto* id = std::get_if<AudioObjectID>(&data);
    switch (address.selector) {
    case kAudioHardwarePropertyDefaultSystemOutputDevice:
        return id ? kAudioHardwareNoError : kAudioHardwareIllegalOperationError;
    case kAudioHardwarePropertyDefaultOutputDevice:
        break;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
    if (!id) {
        return kAudioHardwareIllegalOperationError;
    }
    const Device* device = mirror_->find(*id);
    if (!device) {
        return kAudioHardwareBadObjectError;
    }
    const std::uint64_t write = mirror_->defaultWritesIssued + 1;
    if (!connection_->setDefaultSink(device->uid, write)) {
        return kAudioHardwareIllegalOperationError;
    }
    mirror_->defaultWritesIssued = write;
    const AudioObjectID previous = mirror_->defaultID();
    mirror_->defaultSink = device->uid;
    if (previous != *id && mirror_->mainQueue) {
        // Like any other change of the default, but never from inside the caller's write.
        mirror_->mainQueue->async([weak = std::weak_ptr<Mirror>(mirror_)] {
            if (auto mirror = weak.lock()) {
                fire(mirror->defaultOutputListeners);
            }
        });
    }
    return kAudioHardwareNoError;
}

bool PulseAudioHardware::hasProperty(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address) {
    if (object == kAudioObjectSystemObject) {
        return address.selector == kAudioHardwarePropertyDevices ||
               address.selector == kAudioHardwarePropertyDefaultOutputDevice ||
               address.selector == kAudioHardwarePropertyDefaultSystemOutputDevice;
    }
    const Device* device = mirror_->find(object);
    if (!device) {
        return false;
    }
    switch (address.selector) {
    case kAudioDevicePropertyStreamConfiguration:
    case kAudioDevicePropertyDeviceUID:
    case kAudioObjectPropertyName:
        return true;
    case kAudioDevicePropertyVolumeScalar:
        return device->nativeVolume && address.scope == kAudioObjectPropertyScopeOutput &&
               address.element == kAudioObjectPropertyElementMain;
    default:
        return false;
    }
}

OSStatus PulseAudioHardware::isPropertySettable(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                bool& isSettable) {
    isSettable = false;
    if (object != kAudioObjectSystemObject && !mirror_->find(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!hasProperty(object, address)) {
        return kAudioHardwareUnknownPropertyError;
    }
    isSettable = address.selector == kAudioHardwarePropertyDefaultOutputDevice ||
                 address.selector == kAudioHardwarePropertyDefaultSystemOutputDevice ||
                 address.selector == kAudioDevicePropertyVolumeScalar;
    return kAudioHardwareNoError;
}

OSStatus PulseAudioHardware::addPropertyListener(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::function<void()> listener) {
    if (object != kAudioObjectSystemObject) {
        return mirror_->find(object) ? kAudioHardwareUnsupportedOperationError
                                     : kAudioHardwareBadObjectError;
    }
    if (!listener) {
        return kAudioHardwareIllegalOperationError;
    }
    switch (address.selector) {
    case kAudioHardwarePropertyDevices:
        mirror_->deviceListListeners.push_back(std::move(listener));
        return kAudioHardwareNoError;
    case kAudioHardwarePropertyDefaultOutputDevice:
        mirror_->defaultOutputListeners.push_back(std::move(listener));
        return kAudioHardwareNoError;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

bool PulseAudioHardware::isConnected() const {
    return mirror_->connected;
}

} // namespace varnu::linux_backend
