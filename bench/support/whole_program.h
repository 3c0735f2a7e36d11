#pragma once
// The real plasma-display, headless, against timetable-sim on 127.0.0.1: time to the first page,
// peak resident memory and CPU while it runs.
#include <optional>
#include <string>

#include "support/scene.h"

namespace plasma::bench {

struct WholeProgramOptions {
  std::string binDir;        // where plasma-display and timetable-sim are
  FrameSize size = kFullHd;
  int displayType = 0;
  std::string scenario = "normal";
  int pageSeconds = 0;       // 0: the documents' own (20 s, 20 s, 15 s)
  double settleSeconds = 2;  // after the first page, before the CPU window opens
  double runSeconds = 10;    // the CPU window
  // Show on a real X server of this display number (an Xvfb the run starts at `size`) instead of
  // headless; the server's CPU is then counted too.
  std::string xDisplay;
  // Show under sway on its headless backend (pixman, no keyboard or mouse) at `size`, both run as
  // "nobody" when the run is root; sway's CPU is then counted too.
  bool sway = false;
  // The same under weston on its headless backend with its GL renderer (software GL here): a
  // compositor that copies the client's pixels and lets its buffer go, as GPU desktops do.
  bool westonGl = false;
  // Serve DIR/circuit-N.txt as they stand instead of the sample line's live documents.
  std::string documents;
};

struct WholeProgramFigures {
  // From the fork of plasma-display to its READY=1 (sent once the first page is on screen), less
  // the 2 s the splash is kept up.
  double startMs = 0;
  long peakResidentKb = 0;
  double cpuSeconds = 0;     // used in the CPU window
  double windowSeconds = 0;  // its length
  double serverCpuSeconds = 0;  // the X server's, in the same window
  // On a real display server: from the end of the splash wait (the window shown) to READY=1.
  double afterSplashMs = 0;
  bool glMapped = false;  // a GL library is mapped into the display
  double cpuPercent() const { return windowSeconds > 0 ? 100.0 * cpuSeconds / windowSeconds : 0; }
  double withServerPercent() const {
    return windowSeconds > 0 ? 100.0 * (cpuSeconds + serverCpuSeconds) / windowSeconds : 0;
  }
};

// The splash is kept up this long before anything else starts; it is not part of the start time.
inline constexpr double kSplashMs = 2000;

// Runs the program once; throws std::runtime_error (with its log) when it does not come up.
WholeProgramFigures runWholeProgram(const WholeProgramOptions& options);

}  // namespace plasma::bench
