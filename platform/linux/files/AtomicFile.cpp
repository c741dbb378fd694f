#include "platform/linux/files/AtomicFile.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnu::linux_backend {

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinksFollowed = 40;
constexpr std::string_view kTemporaryMarker = ".varnu-tmp-";
constexpr std::string_view kTemporaryLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kTemporaryLetterCount = 8;
// Names taken by someone else, one after another, before the replace gives up.
constexpr int kTemporaryAttempts = 100;
// What earlier versions wrote to, always under this one name.
constexpr std::string_view kEarlierTemporarySuffix = ".tmp";

int writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data.remove_prefix(static_cast<std::size_t>(count));
    }
    return 0;
}

std::string randomLetters() {
    std::array<unsigned char, kTemporaryLetterCount> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) !=
        static_cast<ssize_t>(bytes.size())) {
        // Early in boot: the exclusive create keeps the name unique all the same.
        static std::atomic<unsigned long> counter{0};
        auto seed = static_cast<unsigned long>(
                        std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<unsigned long>(::getpid()) << 16) ^ counter++;
        for (auto& byte : bytes) {
            byte = static_cast<unsigned char>(seed);
            seed = seed * 6364136223846793005UL + 1442695040888963407UL;
        }
    }
    std::string letters;
    for (const auto byte : bytes) {
        letters += kTemporaryLetters[byte % kTemporaryLetters.size()];
    }
    return letters;
}

// A new, empty temporary file beside the target, or -1 with errno set.
int createTemporary(const std::filesystem::path& target, unsigned mode,
                    std::filesystem::path& temporary) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        temporary = target;
        temporary += std::string(kTemporaryMarker) + randomLetters();
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   static_cast<mode_t>(mode));
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

bool isTemporaryName(std::string_view name, std::string_view fileName) {
    if (name == std::string(fileName) + std::string(kEarlierTemporarySuffix)) {
        return true;
    }
    if (!name.starts_with(fileName)) {
        return false;
    }
    name.remove_prefix(fileName.size());
    if (!name.starts_with(kTemporaryMarker)) {
        return false;
    }
    name.remove_prefix(kTemporaryMarker.size());
    return name.size() == kTemporaryLetterCount &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return kTemporaryLetters.find(c) != std::string_view::npos; });
}

} // namespace

std::filesystem::path linkTarget(const std::filesystem::path& file, int& error) {
    auto path = file;
    for (int followed = 0; followed <= kMaxLinksFollowed; ++followed) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
            return path;
        }
        const auto target = std::filesystem::read_symlink(path, ec);
        if (ec) {
            error = ec.value();
            return {};
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    error = ELOOP;
    return {};
}

int replaceFileAtomically(const std::filesystem::path& file, std::string_view contents,
                          unsigned mode) {
    if (file.empty() || !file.has_filename()) {
        return ENOENT;
    }
    int error = 0;
    const auto target = linkTarget(file, error);
    if (target.empty()) {
        return error;
    }
    const auto folder = target.parent_path();
    if (!folder.empty() && target == file) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            return ec.value();
        }
    }
    std::filesystem::path temporary;
    const int fd = createTemporary(target, mode, temporary);
    if (fd < 0) {
        return errno;
    }
    error = writeAll(fd, contents);
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    // Makes the rename itself durable.
    const int folderFd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 0;
}

void removeInterruptedReplace(const std::filesystem::path& file) {
    int error = 0;
    const auto target = linkTarget(file, error);
    if (target.empty() || !target.has_filename()) {
        return;
    }
    const auto folder = target.parent_path().empty() ? "." : target.parent_path();
    const auto fileName = target.filename().string();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const auto& path = it->path();
        struct stat info {};
        if (isTemporaryName(path.filename().string(), fileName) &&
            ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid()) {
            ::unlink(path.c_str());
        }
    }
}

} // namespace varnu::linux_backend
