#include "platform/linux/files/SmallFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnu::linux_backend {

namespace {

constexpr std::size_t kReadBlock = 8192;

} // namespace

std::optional<std::string> readSmallFile(const std::filesystem::path& path, int& error,
                                         std::size_t largest) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    const auto fail = [&](int cause) -> std::optional<std::string> {
        error = cause;
        ::close(fd);
        return std::nullopt;
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return fail(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(S_ISDIR(info.st_mode) ? EISDIR : kNotARegularFile);
    }
    if (info.st_size < 0 || static_cast<std::size_t>(info.st_size) > largest) {
        return fail(EFBIG);
    }
    std::string contents;
    char buffer[kReadBlock];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return fail(errno);
        }
        if (count == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
        if (contents.size() > largest) {
            return fail(EFBIG);
        }
    }
    ::close(fd);
    return contents;
}

} // namespace varnu::linux_backend
