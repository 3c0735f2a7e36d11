#pragma once
// The status file: a small JSON document beside the single-instance lock (or in the service's
// state folder) that says what one display shows and how its feed is doing, for operators and
// monitoring. It is replaced atomically, so a reader never sees half of it.
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace plasma {

struct StatusReport {
  std::string instance;
  std::string version;
  int pid = 0;
  std::int64_t uptimeSeconds = 0;
  std::int64_t writtenWall = 0;  // seconds since the epoch
  std::int64_t startWall = 0;    // when the process started, seconds since the epoch; fixed for the run

  int displayType = 0;
  int screen = 0;
  std::string serverBaseUrl;
  int phase = 0;      // 0 own page, 1 departure board, 2 message page
  std::string page;   // the page on screen: "type3", "board", "black", ...
  int layoutVariant = 0;

  std::int64_t lastGoodLoadWall = 0;  // 0: no good load yet
  std::string lastFailure;            // empty: no failed load yet
  std::int64_t lastFailureWall = 0;
  int failuresInARow = 0;
  long loads = 0;
  long failures = 0;
  long pageChanges = 0;  // pages presented since the start
  std::string lastPageError;  // the last error a page's trap caught
  std::int64_t lastPageErrorWall = 0;
};

std::string statusJson(const StatusReport& report);

// Where status and screenshots go: the service's state folder ($STATE_DIRECTORY, its first entry)
// when a service manager gives one, else the per-user runtime folder.
std::string statusFolder();

// "<prefix>-<instance><extension>": characters other than letters, digits, '-' and '_' become '_',
// and the empty name is "default" (as for the single-instance lock).
std::string instanceFileName(const std::string& prefix, const std::string& instance,
                             const std::string& extension);

// Seconds since the epoch as "2024-05-01T12:00:00Z".
std::string utcTimestamp(std::int64_t wallSeconds);

}  // namespace plasma
