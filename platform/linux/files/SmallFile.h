#pragma once

// Reading a small file whole on the main thread, which must never wait on it.
// Implements: opening without blocking (a pipe without a writer would otherwise wait forever),
// regular files only (a pipe, a socket or a device is refused), a cap on the size (a file
// larger than the cap, or one that grows past it while read, is refused).
// Does not implement: reading files being written by someone else consistently.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace varnu::linux_backend {

// Far more than any file read this way ever holds: settings, a desktop entry.
inline constexpr std::size_t kLargestSmallFile = 1024 * 1024;

// In place of an errno: the path names a pipe, a socket or a device.
inline constexpr int kNotARegularFile = -1;

// The whole file, or nothing with the errno in error (ENOENT for a missing file, EISDIR for a
// folder, EFBIG for a file larger than largest, kNotARegularFile).
std::optional<std::string> readSmallFile(const std::filesystem::path& path, int& error,
                                         std::size_t largest = kLargestSmallFile);

} // namespace varnu::linux_backend
