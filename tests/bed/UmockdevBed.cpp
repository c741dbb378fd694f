#include "tests/bed/UmockdevBed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string_view>
#include <termios.h>
#include <thread>
#include <umockdev.h>

namespace varnu::bed {
namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// The memory an ioctl argument points to, fetched from the caller, or null.
std::unique_ptr<UMockdevIoctlData, ObjectUnref> resolved(UMockdevIoctlClient* client,
                                                         std::size_t length) {
    GError* error = nullptr;
    auto* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, length, &error);
    g_clear_error(&error);
    return std::unique_ptr<UMockdevIoctlData, ObjectUnref>(data);
}

} // namespace

DeviceCall::DeviceCall(UMockdevIoctlClient* client)
    : client_(client) {}

DeviceCall::~DeviceCall() {
    // A call nobody answered would leave the caller blocked for good.
    if (!completed_) {
        complete(-1, ENOTTY);
    }
}

unsigned long DeviceCall::request() const {
    return umockdev_ioctl_client_get_request(client_);
}

std::uint64_t DeviceCall::value() const {
    auto* arg = umockdev_ioctl_client_get_arg(client_);
    std::uint64_t value = 0;
    std::memcpy(&value, arg->data,
                std::min<std::size_t>(sizeof value, static_cast<std::size_t>(arg->data_len)));
    return value;
}

std::vector<std::uint8_t> DeviceCall::bytes(std::size_t length) const {
    auto data = resolved(client_, length);
    if (!data) {
        return {};
    }
    return {data->data, data->data + length};
}

std::vector<std::uint8_t> DeviceCall::written() const {
    auto* arg = umockdev_ioctl_client_get_arg(client_);
    return {arg->data, arg->data + arg->data_len};
}

void DeviceCall::reply(long result, std::span<const std::uint8_t> data) {
    // Resolving copies the caller's memory here; completing copies it back with the changes.
    auto target = resolved(client_, data.size());
    if (!target) {
        complete(-1, EFAULT);
        return;
    }
    std::memcpy(target->data, data.data(), data.size());
    complete(result);
}

void DeviceCall::complete(long result, int error) {
    completed_ = true;
    umockdev_ioctl_client_complete(client_, result, error);
}

struct UmockdevBed::Thread {
    struct Attachment {
        Thread* thread;
        DeviceHandler* handler;
    };
    struct Client {
        UMockdevIoctlClient* client;
        DeviceHandler* handler;
    };
    // Every few ms the open clients are looked at: umockdev declares client-vanished but never
    // emits it, so a descriptor closed, also by a process that died, shows only as a client
    // that is no longer connected.
    static constexpr guint kSweepMs = 5;

    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::vector<UMockdevIoctlBase*> handlers;
    std::vector<std::unique_ptr<Attachment>> attachments;
    // umockdev announces a client from a GLib worker thread of its own, while the sweep runs on
    // the handler thread.
    std::mutex clientsMutex;
    std::vector<Client> clients;
    std::thread thread;

    static void connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer attachment) {
        auto& attached = *static_cast<Attachment*>(attachment);
        attached.handler->opened(client);
        std::lock_guard lock(attached.thread->clientsMutex);
        attached.thread->clients.push_back(
            {static_cast<UMockdevIoctlClient*>(g_object_ref(client)), attached.handler});
    }

    static gboolean sweep(gpointer self) {
        // The list changes first: a handler told of a closed client may see another connect.
        std::vector<Client> closed;
        auto& thread = *static_cast<Thread*>(self);
        {
            std::lock_guard lock(thread.clientsMutex);
            std::erase_if(thread.clients, [&](const Client& open) {
                if (umockdev_ioctl_client_get_connected(open.client)) {
                    return false;
                }
                closed.push_back(open);
                return true;
            });
        }
        for (const auto& gone : closed) {
            gone.handler->closed(gone.client);
            g_object_unref(gone.client);
        }
        return G_SOURCE_CONTINUE;
    }

    // Its loop is the handler thread's default context, where handlers attach.
    Thread()
        : thread([this] {
            g_main_context_push_thread_default(context);
            GSource* sweeper = g_timeout_source_new(kSweepMs);
            g_source_set_callback(sweeper, sweep, this, nullptr);
            g_source_attach(sweeper, context);
            g_source_unref(sweeper);
            g_main_loop_run(loop);
            g_main_context_pop_thread_default(context);
        }) {}

    ~Thread() {
        // From inside the loop, which may not be running yet.
        run([this] { g_main_loop_quit(loop); });
        thread.join();
        std::lock_guard lock(clientsMutex);
        for (const auto& open : clients) {
            g_object_unref(open.client);
        }
        for (auto* handler : handlers) {
            g_object_unref(handler);
        }
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    // Runs the job on the handler thread and waits for it.
    void run(std::function<void()> job) {
        std::packaged_task<void()> task(std::move(job));
        auto done = task.get_future();
        g_main_context_invoke(
            context,
            [](gpointer task) {
                (*static_cast<std::packaged_task<void()>*>(task))();
                return G_SOURCE_REMOVE;
            },
            &task);
        done.wait();
    }
};

namespace {

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer handler) {
    DeviceCall call(client);
    static_cast<DeviceHandler*>(handler)->ioctl(call);
    return TRUE;
}

gboolean onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer handler) {
    DeviceCall call(client);
    static_cast<DeviceHandler*>(handler)->write(call);
    return TRUE;
}

gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer handler) {
    int error = static_cast<DeviceHandler*>(handler)->readError();
    if (error == 0) {
        return FALSE;
    }
    DeviceCall(client).complete(-1, error);
    return TRUE;
}

void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer handler) {
    static_cast<DeviceHandler*>(handler)->closed(client);
}

} // namespace

UmockdevBed::UmockdevBed()
    : testbed_(umockdev_testbed_new())
    , thread_(std::make_unique<Thread>()) {}

UmockdevBed::~UmockdevBed() {
    thread_.reset();
    g_object_unref(testbed_);
}

bool UmockdevBed::isActive() {
    // The preload library is what redirects /sys and /dev; without it a test would reach the
    // machine's own devices.
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::string_view(preload).find("libumockdev-preload") != std::string::npos;
}

bool UmockdevBed::add(const std::string& description) {
    std::lock_guard lock(mutex_);
    GError* error = nullptr;
    bool added = umockdev_testbed_add_from_string(testbed_, description.c_str(), &error);
    if (error) {
        g_error_free(error);
    }
    return added;
}

void UmockdevBed::remove(const std::string& syspath) {
    std::lock_guard lock(mutex_);
    umockdev_testbed_remove_device(testbed_, syspath.c_str());
}

void UmockdevBed::setProperty(const std::string& syspath, const std::string& name,
                              const std::string& value) {
    std::lock_guard lock(mutex_);
    umockdev_testbed_set_property(testbed_, syspath.c_str(), name.c_str(), value.c_str());
}

void UmockdevBed::uevent(const std::string& syspath, const std::string& action) {
    std::lock_guard lock(mutex_);
    umockdev_testbed_uevent(testbed_, syspath.c_str(), action.c_str());
}

int UmockdevBed::streamFd(const std::string& devnode) {
    std::lock_guard lock(mutex_);
    int fd = umockdev_testbed_get_dev_fd(testbed_, devnode.c_str());
    // Binary data must pass the terminal line discipline untouched.
    termios attributes{};
    if (fd >= 0 && ::tcgetattr(fd, &attributes) == 0) {
        ::cfmakeraw(&attributes);
        ::tcsetattr(fd, TCSANOW, &attributes);
    }
    return fd;
}

bool UmockdevBed::attach(const std::string& devnode, DeviceHandler& handler) {
    bool attached = false;
    // The handler's source belongs to the context that is the thread default where it attaches.
    thread_->run([&] {
        std::lock_guard lock(mutex_);
        auto* base = umockdev_ioctl_base_new();
        auto& attachment = *thread_->attachments.emplace_back(
            std::make_unique<Thread::Attachment>(Thread::Attachment{thread_.get(), &handler}));
        g_signal_connect(base, "handle-ioctl", G_CALLBACK(onIoctl), &handler);
        g_signal_connect(base, "handle-write", G_CALLBACK(onWrite), &handler);
        g_signal_connect(base, "handle-read", G_CALLBACK(onRead), &handler);
        g_signal_connect(base, "client-connected", G_CALLBACK(Thread::connected), &attachment);
        g_signal_connect(base, "client-vanished", G_CALLBACK(onVanished), &handler);
        GError* error = nullptr;
        attached = umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), base, &error);
        if (error) {
            g_error_free(error);
        }
        thread_->handlers.push_back(base);
    });
    return attached;
}

} // namespace varnu::bed
