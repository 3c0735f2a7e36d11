#pragma once
// The monotonic clock the presenters pace frames and wait for their servers by.
#include <time.h>

#include <cstdint>

namespace plasma {

inline std::int64_t monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

inline std::int64_t monotonicMs() { return monotonicUs() / 1000; }

}  // namespace plasma
