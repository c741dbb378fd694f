#pragma once

// Replacing a small file so that readers and crashes see the old contents or the new, never a
// mix: the data goes to "<file>.tmp" in the same folder, is synced, and is renamed over the file.
// Implements: that replace, creating the folder when it is missing.
// Does not implement: locking against other writers of the same file.

#include <filesystem>
#include <string_view>

namespace varnu::linux_backend {

// 0 on success, else the errno of the step that failed; the old file is then untouched and no
// temporary file is left behind.
int replaceFileAtomically(const std::filesystem::path& file, std::string_view contents,
                          unsigned mode = 0600);

} // namespace varnu::linux_backend
