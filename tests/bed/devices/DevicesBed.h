#pragma once

// The device service on the keyboard bed: varnu-devices started as a child process with a
// socket of its own and a seat the test plays, and clients that speak its words byte for byte,
// as this process or as another user.

#include "platform/linux/devices-link/DevicesProtocol.h"

#include <chrono>
#include <csignal>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnu::bed {

class DevicesBed {
public:
    DevicesBed();
    // Stops the service, if it runs.
    ~DevicesBed();
    DevicesBed(const DevicesBed&) = delete;
    DevicesBed& operator=(const DevicesBed&) = delete;

    // Starts the service with the options and waits until it listens; false if it did not. What
    // it reports goes to the descriptor given, else to this process's stderr.
    bool startService(const std::vector<std::string>& options = {}, int reports = -1);
    // Sends the signal and waits for the service to end; answers its wait status.
    int stopService(int signal = SIGTERM);
    bool serviceRuns();
    // How the seat sees users from now on: "active", "inactive" or "absent", all at once.
    void seat(std::initializer_list<std::pair<uid_t, const char*>> presences);

    const std::string& socketPath() const { return socketPath_; }

private:
    std::string folder_;
    std::string socketPath_;
    int script_ = -1;
    int scriptForService_ = -1;
    pid_t service_ = -1;
    bool started_ = false;
    std::string seatSaid_;
};

// A client on the service's socket that records every word it receives.
class RawClient {
public:
    explicit RawClient(const std::string& socketPath);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(const linux_backend::devices::ClientMessage& message);
    bool sendBytes(std::span<const std::uint8_t> bytes);
    // Reads what has come within the limit (all of it, or until the condition holds).
    void receiveFor(std::chrono::milliseconds limit);
    template <typename Condition>
    bool receiveUntil(Condition condition, std::chrono::milliseconds limit);
    // Whether the service ended the connection.
    bool ended() const { return ended_; }

    std::vector<linux_backend::devices::ServiceMessage> received;
    // Words that did not parse: there must be none.
    int garbled = 0;

private:
    bool receiveOne(std::chrono::milliseconds limit);
    int fd_ = -1;
    bool ended_ = false;
};

template <typename Condition>
bool RawClient::receiveUntil(Condition condition, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ended_) {
            return condition();
        }
        receiveOne(left);
    }
    return true;
}

// Connects as another user in a child process, as many times as asked, says Hello on each
// connection and, once welcomed, what it is told to (like Varnu, it asks for the keys), and
// records what the service says.
class ClientOfUser {
public:
    struct Heard {
        std::vector<linux_backend::devices::ServiceMessage> said;
        int ended = 0; // connections the service ended
    };

    ClientOfUser(const std::string& socketPath, uid_t user,
                 std::vector<linux_backend::devices::ClientMessage> afterWelcome =
                     {linux_backend::devices::TapWanted{true}},
                 int connections = 1);
    ~ClientOfUser();
    // What came so far, once the condition holds on it or the limit has passed.
    template <typename Condition>
    const Heard& heardUntil(Condition condition, std::chrono::milliseconds limit);
    // Ends the child and answers everything it heard.
    Heard finish();
    pid_t pid() const { return child_; }

private:
    // Takes in one record of the child's; false when none came within the limit.
    bool takeOne(std::chrono::milliseconds limit);
    pid_t child_ = -1;
    int results_ = -1;
    int stop_ = -1;
    Heard heard_;
};

template <typename Condition>
const ClientOfUser::Heard& ClientOfUser::heardUntil(Condition condition,
                                                    std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition(heard_) && std::chrono::steady_clock::now() < end) {
        takeOne(std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()));
    }
    return heard_;
}

template <typename Message>
int countOf(const std::vector<linux_backend::devices::ServiceMessage>& messages) {
    int count = 0;
    for (const auto& message : messages) {
        count += std::holds_alternative<Message>(message) ? 1 : 0;
    }
    return count;
}

} // namespace varnu::bed
