#include "platform/linux/files/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnu::linux_backend {

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinksFollowed = 40;

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

std::filesystem::path temporaryFor(const std::filesystem::path& file) {
    auto temporary = file;
    temporary += ".tmp";
    return temporary;
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
    const auto temporary = temporaryFor(target);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                          static_cast<mode_t>(mode));
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
    if (target.empty()) {
        return;
    }
    const auto temporary = temporaryFor(target);
    struct stat info {};
    if (::lstat(temporary.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::unlink(temporary.c_str());
    }
}

} // namespace varnu::linux_backend
