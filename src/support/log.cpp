#include "support/log.h"

#include <cstdio>
#include <mutex>

namespace plasma {

void logLine(const std::string& message) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  std::fprintf(stderr, "plasma-display: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace plasma
