#pragma once

// The user-defaults store as a JSON file, $XDG_CONFIG_HOME/varnu/defaults.json.
// Implements: typed values that survive a restart (an integer stays an integer, a Boolean a
// Boolean, a text a text, a real a real); keys Varnu does not know are kept as they are; every
// write replaces the file atomically (temporary file in the same folder, fsync, rename); a
// burst of changes reaches the disk as one write, at most one per second; flush() for quit
// and for the termination signals (see TerminationSignals.h); a file that cannot be parsed,
// nests deeper than 64 levels or is larger than 1 MiB is moved aside as
// defaults.json.corrupt-<time> and the store starts empty; a file that exists but cannot be
// read (a folder, a pipe, no permission, a loop of links) is never replaced, and this run keeps
// its changes in memory; a settings file that is a symbolic link stays one, and the file it
// points to is read, moved aside and written; a failed write keeps the previous file, says so
// once, and is tried again a second later, and at the next flush.
// Does not implement: sharing the file between running processes, or noticing edits made to it
// while Varnu runs (they are overwritten at the next write).
//
// Main thread only.

#include "platform/Dispatch.h"
#include "platform/UserDefaults.h"
#include "platform/linux/files/XdgEnvironment.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace varnu::linux_backend {

// <config home>/varnu/defaults.json; empty when there is no home directory.
std::filesystem::path defaultsFilePath(const Environment& environment);

class JsonUserDefaults final : public UserDefaults {
public:
    static constexpr std::chrono::milliseconds kWriteInterval{1000};

    JsonUserDefaults(std::filesystem::path file, std::shared_ptr<MainQueue> mainQueue);
    // Writes what is still pending.
    ~JsonUserDefaults() override;

    JsonUserDefaults(const JsonUserDefaults&) = delete;
    JsonUserDefaults& operator=(const JsonUserDefaults&) = delete;

    std::optional<DefaultsValue> object(std::string_view key) override;
    std::optional<std::string> string(std::string_view key) override;
    void setInteger(std::string_view key, std::int64_t value) override;
    void setBool(std::string_view key, bool value) override;
    void setString(std::string_view key, std::string_view value) override;

    // Writes pending changes now. True when the file holds the current state.
    bool flush();

    const std::filesystem::path& file() const { return file_; }

private:
    void load();
    void set(std::string_view key, nlohmann::json value);
    void scheduleWrite();
    bool write();
    bool moveUnusableFileAside();
    void reportOnce(const std::string& message);

    std::filesystem::path file_;
    std::shared_ptr<MainQueue> mainQueue_;
    nlohmann::json document_ = nlohmann::json::object();
    bool dirty_ = false;
    // The file exists but could not be read: replacing it could destroy settings that are
    // still there, so this run keeps its changes in memory.
    bool keepFile_ = false;
    // Why the file could not be used, while it could not yet be moved aside; tried again before
    // each write.
    const char* unusableFileInPlace_ = nullptr;
    bool errorReported_ = false;
    std::shared_ptr<Cancellable> scheduledWrite_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace varnu::linux_backend
