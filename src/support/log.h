#pragma once
#include <string>

namespace plasma {

// How much a line matters, as syslog and the journal number it (journalctl -p warning).
enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// One line on stderr for an operator (journald collects it). Thread-safe. Failures are warnings
// unless said otherwise.
void logLine(const std::string& message);
void logLine(LogPriority priority, const std::string& message);

// The line as written: with the journal's "<N>" priority prefix when stderr is the journal's
// stream (it strips the prefix and files the line under that priority), plain text otherwise.
std::string logText(LogPriority priority, const std::string& message, bool toJournal);

// True when stderr is the stream the service manager connected to the journal ($JOURNAL_STREAM
// names its device and inode; a redirected stderr no longer matches).
bool stderrIsJournal();

}  // namespace plasma
