#pragma once

// Where the running program's file is, as the kernel tells it through /proc/self/exe.

#include <filesystem>

namespace varnu::linux_backend {

// The absolute path of the running program, with " (deleted)" after it once the file was removed
// or replaced (a package upgrade); empty when it cannot be read.
inline std::filesystem::path runningProgramPath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

} // namespace varnu::linux_backend
