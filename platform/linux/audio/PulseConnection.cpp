#include "platform/linux/audio/PulseConnection.h"

#include <pulse/pulseaudio.h>
#include <sys/time.h>

namespace varnu::linux_backend {
namespace {

static_assert(kPortTypeHDMI == PA_DEVICE_PORT_TYPE_HDMI);
static_assert(kNoCard == PA_INVALID_INDEX);

constexpr const char* kClientName = "Varnu";
// The properties an ALSA sink carries about its device.
constexpr const char* kAlsaId = "alsa.id";
constexpr const char* kAlsaName = "alsa.name";
// How long a default-sink write may take to show in the server's answers. PipeWire's pulse
// server only records the wish and answers at once; its session manager applies it a moment
// later, or not at all.
constexpr auto kDefaultWriteGrace = std::chrono::milliseconds(2000);

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
    if (info.proplist) {
        record.alsaId = text(pa_proplist_gets(info.proplist, kAlsaId));
        record.alsaName = text(pa_proplist_gets(info.proplist, kAlsaName));
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

timeval fromNow(std::chrono::milliseconds delay) {
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(delay.count()) * PA_USEC_PER_MSEC);
    return when;
}

} // namespace

struct PulseConnection::Callbacks {
    static void onContextState(pa_context* context, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
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
        auto* self = static_cast<PulseConnection*>(userdata);
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
                self->track(pa_context_get_sink_info_by_index(context, index, onSinkInfo, self));
            }
            break;
        case PA_SUBSCRIPTION_EVENT_CARD:
            if (removed) {
                self->cards_.erase(index);
                self->publish();
            } else {
                self->track(pa_context_get_card_info_by_index(context, index, onCardInfo, self));
            }
            break;
        case PA_SUBSCRIPTION_EVENT_SERVER:
            self->requestServerInfo();
            break;
        default:
            break;
        }
    }

    // Called once per sink or card, then once more with eol set (negative when the query
    // failed, e.g. because the sink went away in between).
    template <auto Records, auto Convert, typename Info>
    static void onInfo(pa_context* context, const Info* info, int eol, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context != self->context_) {
            return;
        }
        if (eol != 0 || !info) {
            self->operationDone();
            return;
        }
        (self->*Records)[info->index] = Convert(*info);
    }
    static constexpr auto onSinkInfo = &onInfo<&PulseConnection::sinks_, sinkRecord, pa_sink_info>;
    static constexpr auto onCardInfo = &onInfo<&PulseConnection::cards_, cardRecord, pa_card_info>;

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context != self->context_) {
            return;
        }
        if (info) {
            self->defaultSink_ = text(info->default_sink_name);
        }
        self->writes_.serverShows(self->defaultSink_);
        self->settled();
        self->operationDone();
    }

    static void onDefaultSinkSet(pa_context* context, int success, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (context == self->context_ && self->writes_.answered(success != 0)) {
            self->settled();
            self->publish();
        }
    }

    // The server did not take up the write in time: what it says now stands.
    static void onWriteGraceOver(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                 void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        api->time_free(event);
        self->writeGrace_ = nullptr;
        self->writes_.settleAll();
        self->publish();
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                        void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        api->time_free(event);
        self->retry_ = nullptr;
        if (!self->context_) {
            self->connect();
        }
    }
};

PulseConnection::PulseConnection(std::shared_ptr<MainQueue> mainQueue,
                                 std::weak_ptr<AudioDeviceMirror> mirror, PulseAudioOptions options)
    : mainQueue_(std::move(mainQueue))
    , mirror_(std::move(mirror))
    , options_(std::move(options)) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        report("cannot create the audio server main loop");
        return;
    }
    api_ = pa_threaded_mainloop_get_api(loop_);
    pa_threaded_mainloop_set_name(loop_, "varnu-pulse");
    if (pa_threaded_mainloop_start(loop_) < 0) {
        report("cannot start the audio server thread");
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    connect();
    pa_threaded_mainloop_unlock(loop_);
}

PulseConnection::~PulseConnection() {
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

bool PulseConnection::setDefaultSink(const std::string& sinkName, std::uint64_t write) {
    if (!loop_) {
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    bool sent = false;
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
        if (pa_operation* op = pa_context_set_default_sink(context_, sinkName.c_str(),
                                                           &Callbacks::onDefaultSinkSet, this)) {
            pa_operation_unref(op);
            writes_.sent(sinkName, write);
            armWriteGrace();
            // On PulseAudio the answer to this already shows the written default.
            requestServerInfo();
            sent = true;
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    return sent;
}

void PulseConnection::connect() {
    context_ = pa_context_new(api_, kClientName);
    if (!context_) {
        scheduleRetry();
        return;
    }
    forgetServer();
    ready_ = false;
    pa_context_set_state_callback(context_, &Callbacks::onContextState, this);
    pa_context_set_subscribe_callback(context_, &Callbacks::onSubscription, this);
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        reportUnreachable();
        dropContext();
        scheduleRetry();
    }
}

void PulseConnection::dropContext() {
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

void PulseConnection::forgetServer() {
    sinks_.clear();
    cards_.clear();
    defaultSink_.clear();
    pending_ = 0;
    writes_.forget();
    settled();
}

// Once every write has settled, its grace period has nothing left to end.
void PulseConnection::settled() {
    if (writes_.allSettled() && writeGrace_) {
        api_->time_free(writeGrace_);
        writeGrace_ = nullptr;
    }
}

void PulseConnection::armWriteGrace() {
    const timeval when = fromNow(kDefaultWriteGrace);
    if (writeGrace_) {
        api_->time_restart(writeGrace_, &when);
    } else {
        writeGrace_ = api_->time_new(api_, &when, &Callbacks::onWriteGraceOver, this);
    }
}

void PulseConnection::scheduleRetry() {
    if (retry_) {
        return;
    }
    const timeval when = fromNow(options_.reconnectInterval);
    retry_ = api_->time_new(api_, &when, &Callbacks::onRetry, this);
}

void PulseConnection::reportUnreachable() {
    if (reportedUnreachable_) {
        return;
    }
    reportedUnreachable_ = true;
    const int error = context_ ? pa_context_errno(context_) : PA_ERR_UNKNOWN;
    report(std::string("the audio server is not available (") + pa_strerror(error) + "); retrying");
}

void PulseConnection::report(const std::string& text) {
    if (options_.diagnostics) {
        *options_.diagnostics << "varnu: " << text << '\n' << std::flush;
    }
}

void PulseConnection::track(pa_operation* op) {
    if (op) {
        ++pending_;
        pa_operation_unref(op);
    }
}

void PulseConnection::requestServerInfo() {
    track(pa_context_get_server_info(context_, &Callbacks::onServerInfo, this));
}

void PulseConnection::operationDone() {
    if (pending_ > 0) {
        --pending_;
    }
    publish();
}

// Posts the picture when no answer is outstanding and it differs from the last one posted.
void PulseConnection::publish() {
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
    snapshot.defaultWritesSettled = writes_.settled();
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

void PulseConnection::onReady() {
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
    track(pa_context_get_sink_info_list(context_, Callbacks::onSinkInfo, this));
    track(pa_context_get_card_info_list(context_, Callbacks::onCardInfo, this));
    ready_ = true;
    operationDone();
}

void PulseConnection::onLost() {
    reportUnreachable();
    dropContext();
    forgetServer();
    publish();
    scheduleRetry();
}

} // namespace varnu::linux_backend
