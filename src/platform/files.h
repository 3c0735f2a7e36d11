#pragma once
// Files the display writes for others to read (status, screenshots, frames) and the instance name
// they and the single-instance lock are named after.
#include <functional>
#include <string>

namespace plasma {

// An instance name as part of a file name: characters other than letters, digits, '-' and '_'
// become '_', and the empty name is "default".
std::string safeInstanceName(const std::string& name);

// Writes a whole file through a temporary beside it and a rename, so a reader never sees half a
// file; false (with the reason in *error) when any step failed, and then no temporary is left
// behind. The caller decides how often to log a failure.
bool writeTextAtomic(const std::string& path, const std::string& text, std::string* error = nullptr);

// The same in the folder open as dirFd (shown as folderPath in errors): the temporary is a new
// file (O_EXCL) that is never reached through a link (O_NOFOLLOW), so a link planted in the folder
// cannot redirect the write.
bool writeTextAtomicAt(int dirFd, const std::string& folderPath, const std::string& name, const std::string& text,
                       std::string* error = nullptr);

}  // namespace plasma
