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
// file. write(tmp, error) fills the temporary; false (with the reason in *error where known) when
// any step failed, and then no temporary is left behind.
bool writeFileAtomic(const std::string& path,
                     const std::function<bool(const std::string& tmp, std::string* error)>& write,
                     std::string* error = nullptr);

// writeFileAtomic with a text. The caller decides how often to log a failure.
bool writeTextAtomic(const std::string& path, const std::string& text, std::string* error = nullptr);

}  // namespace plasma
