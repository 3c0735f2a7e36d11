#pragma once
#include <string>

namespace plasma {

// One line on stderr for an operator (journald collects it). Thread-safe.
void logLine(const std::string& message);

}  // namespace plasma
