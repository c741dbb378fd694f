#include "platform/linux/store/JsonUserDefaults.h"

#include "platform/linux/files/AtomicFile.h"
#include "platform/linux/files/PrintableText.h"
#include "platform/linux/files/SmallFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

namespace varnu::linux_backend {

namespace {

using nlohmann::json;

constexpr const char* kFolderName = "varnu";
constexpr const char* kFileName = "defaults.json";
constexpr int kIndent = 4;
// Varnu writes a flat object. Writing deeper nesting back, indented, grows with the square of
// its depth, and describing a value recurses once per level, so a deeper file counts as corrupt.
constexpr int kDeepestNesting = 64;

std::string serialize(const json& value, int indent) {
    // A stray invalid UTF-8 sequence must not stop the settings from being saved.
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

DefaultsValue defaultsValue(const json& value) {
    switch (value.type()) {
    case json::value_t::boolean:
        return value.get<bool>();
    case json::value_t::number_integer:
        return value.get<std::int64_t>();
    case json::value_t::number_unsigned: {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(unsignedValue);
        }
        return static_cast<double>(unsignedValue);
    }
    case json::value_t::number_float:
        return value.get<double>();
    case json::value_t::string:
        return value.get<std::string>();
    default:
        return DefaultsOtherValue{serialize(value, -1)};
    }
}

std::string describe(int error) {
    return error == kNotARegularFile ? "not a regular file" : std::strerror(error);
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

} // namespace

std::filesystem::path defaultsFilePath(const Environment& environment) {
    const auto home = configHome(environment);
    if (home.empty()) {
        return {};
    }
    return home / kFolderName / kFileName;
}

JsonUserDefaults::JsonUserDefaults(std::filesystem::path file, std::shared_ptr<MainQueue> mainQueue)
    : file_(std::move(file))
    , mainQueue_(std::move(mainQueue)) {
    load();
}

JsonUserDefaults::~JsonUserDefaults() {
    flush();
}

void JsonUserDefaults::load() {
    if (file_.empty()) {
        return;
    }
    removeInterruptedReplace(file_);
    int error = 0;
    const auto contents = readSmallFile(file_, error);
    // ENOTDIR: a folder on the way is a file, so there is no settings file either.
    if (!contents && error != EFBIG && error != ENOENT && error != ENOTDIR) {
        keepFile_ = true;
        reportOnce("cannot read " + file_.string() + ": " + describe(error) +
                   "; settings changed now will not be saved");
        return;
    }
    if (!contents && error != EFBIG) {
        return;
    }
    if (contents) {
        bool tooDeep = false;
        const auto measureDepth = [&](int depth, json::parse_event_t, json&) {
            tooDeep = tooDeep || depth > kDeepestNesting;
            return true;
        };
        auto parsed = json::parse(*contents, measureDepth, false);
        if (!parsed.is_discarded() && parsed.is_object() && !tooDeep) {
            document_ = std::move(parsed);
            return;
        }
    }
    unusableFileInPlace_ = contents ? "could not be parsed" : "is larger than 1 MiB";
    moveUnusableFileAside();
}

bool JsonUserDefaults::moveUnusableFileAside() {
    // A link is kept; the file it points to is what cannot be parsed.
    int error = 0;
    const auto corrupt = linkTarget(file_, error);
    if (corrupt.empty()) {
        reportOnce("cannot move the unreadable " + file_.string() +
                   " aside: " + std::strerror(error));
        return false;
    }
    const std::string base = corrupt.string() + ".corrupt-" + timestamp();
    std::string target = base;
    std::error_code ec;
    for (int attempt = 1; std::filesystem::exists(std::filesystem::symlink_status(target, ec));
         ++attempt) {
        target = base + "-" + std::to_string(attempt);
    }
    if (::rename(corrupt.c_str(), target.c_str()) != 0) {
        error = errno;
        reportOnce("cannot move the unreadable " + file_.string() +
                   " aside: " + std::strerror(error));
        return false;
    }
    std::fprintf(stderr, "varnu: %s %s; moved it to %s and started afresh\n",
                 printableText(corrupt.string()).c_str(), unusableFileInPlace_,
                 printableText(target).c_str());
    unusableFileInPlace_ = nullptr;
    return true;
}

std::optional<DefaultsValue> JsonUserDefaults::object(std::string_view key) {
    const auto it = document_.find(std::string(key));
    if (it == document_.end()) {
        return std::nullopt;
    }
    return defaultsValue(*it);
}

std::optional<std::string> JsonUserDefaults::string(std::string_view key) {
    const auto it = document_.find(std::string(key));
    if (it == document_.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

void JsonUserDefaults::setInteger(std::string_view key, std::int64_t value) {
    set(key, json(value));
}

void JsonUserDefaults::setBool(std::string_view key, bool value) {
    set(key, json(value));
}

void JsonUserDefaults::setString(std::string_view key, std::string_view value) {
    set(key, json(std::string(value)));
}

void JsonUserDefaults::set(std::string_view key, nlohmann::json value) {
    document_[std::string(key)] = std::move(value);
    dirty_ = true;
    scheduleWrite();
}

void JsonUserDefaults::scheduleWrite() {
    if (scheduledWrite_ || !mainQueue_) {
        return;
    }
    // The first change of a burst opens a window; everything changed in it goes out in one write.
    scheduledWrite_ =
        mainQueue_->asyncAfter(kWriteInterval, [this, alive = std::weak_ptr<bool>(alive_)] {
            if (alive.expired()) {
                return;
            }
            scheduledWrite_.reset();
            // A failed write is tried again a window later, unless it never can succeed.
            if (dirty_ && !write() && !file_.empty() && !keepFile_) {
                scheduleWrite();
            }
        });
}

bool JsonUserDefaults::flush() {
    if (scheduledWrite_) {
        scheduledWrite_->cancel();
        scheduledWrite_.reset();
    }
    if (dirty_) {
        write();
    }
    return !dirty_;
}

bool JsonUserDefaults::write() {
    if (file_.empty()) {
        reportOnce("no home directory to keep the settings in");
        return false;
    }
    if (keepFile_ || (unusableFileInPlace_ && !moveUnusableFileAside())) {
        return false;
    }
    if (const int error = replaceFileAtomically(file_, serialize(document_, kIndent) + "\n")) {
        reportOnce("cannot save " + file_.string() + ": " + std::strerror(error));
        return false;
    }
    dirty_ = false;
    errorReported_ = false;
    return true;
}

void JsonUserDefaults::reportOnce(const std::string& message) {
    if (errorReported_) {
        return;
    }
    errorReported_ = true;
    std::fprintf(stderr, "varnu: %s\n", printableText(message).c_str());
}

} // namespace varnu::linux_backend
