#include "support/log.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace plasma {

std::string logText(LogPriority priority, const std::string& message, bool toJournal) {
  std::string line;
  if (toJournal) line = "<" + std::to_string(static_cast<int>(priority)) + ">";
  return line + "plasma-display: " + message + "\n";
}

bool stderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream || !*stream) return false;
  unsigned long long device = 0, inode = 0;
  char extra = 0;
  if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &extra) != 2) return false;
  struct stat st {};
  if (::fstat(2, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == device && static_cast<unsigned long long>(st.st_ino) == inode;
}

void logLine(const std::string& message) { logLine(LogPriority::Warning, message); }

void logLine(LogPriority priority, const std::string& message) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const std::string line = logText(priority, message, stderrIsJournal());
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace plasma
