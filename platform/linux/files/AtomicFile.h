#pragma once

// Replacing a small file so that readers and crashes see the old contents or the new, never a
// mix: the data goes to a temporary file of its own beside the file ("<file>.varnu-tmp-" and
// eight random letters or digits, created exclusively, never through a link), is synced, is
// renamed over the file, and the folder is synced.
// Implements: that replace, creating the folder when it is missing; a file that is a symbolic
// link keeps its link, and the file it points to is replaced instead; removing the temporary
// files replaces cut short (a crash, a power cut) left behind.
// Does not implement: locking against other writers of the same file.

#include <filesystem>
#include <string_view>

namespace varnu::linux_backend {

// The file a path stands for: the path itself, or where its chain of symbolic links ends (which
// need not exist). Empty with ELOOP in error when the chain does not end.
std::filesystem::path linkTarget(const std::filesystem::path& file, int& error);

// 0 on success, else the errno of the step that failed; the old file is then untouched and no
// temporary file is left behind. The folder of a link's target is never created: a link into a
// folder that is gone (an unmounted disk) is not a place to start a new file. The new file gets
// the mode given, less the umask.
int replaceFileAtomically(const std::filesystem::path& file, std::string_view contents,
                          unsigned mode = 0600);

// Removes the temporary files of replaces of this file that never finished: regular files of
// this user's whose names have exactly the temporary's shape, and the "<file>.tmp" earlier
// versions used.
void removeInterruptedReplace(const std::filesystem::path& file);

} // namespace varnu::linux_backend
