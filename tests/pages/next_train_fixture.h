#pragma once
// A Rig for the next-train pages: clock at 10:00, layout variant 1, no timetable fetches (so the
// virtual clock can run for many seconds without a load blacking the page).
#include <string>
#include <vector>

#include "test_support/rig.h"

namespace plasma::test {

// "Stop 1,Stop 2,...,Stop n".
inline std::string stopNames(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += (i > 1 ? "," : "") + std::string("Stop ") + std::to_string(i);
  return s;
}

struct TrainRig : Rig {
  explicit TrainRig(int width = 1360, int height = 770) : Rig(width, height) {
    d().store.clockMinutes = 600;
    d().layoutVariant = 1;
    d().displayType = 1;
    d().mainPageSeconds = 100;
    d().boardSeconds = 100;
    d().messageSeconds = 100;
    d().scrollDelay = 1;
    d().timerDatabase.setEnabled(false);
  }
  void main(std::vector<TrainRecord> trains) {
    d().store.mainDepartureCount = static_cast<Int16>(trains.size());
    d().store.mainDepartures = std::move(trains);
  }
  void other(std::vector<TrainRecord> trains) {
    d().store.otherDepartureCount = static_cast<Int16>(trains.size());
    d().store.otherDepartures = std::move(trains);
  }
  void domestics(std::vector<DomesticRecord> trains) {
    d().store.domesticDepartureCount = static_cast<Int16>(trains.size());
    d().store.domesticDepartures = std::move(trains);
  }
  // Board colours on a cleared canvas, as showNextScreen leaves it for the painter.
  RecordingSurface& boardCanvas() {
    RecordingSurface& r = record();
    d().setBoardColours();
    r.clear();
    r.reset();
    return r;
  }
  // Paints the page of a display type as showNextScreen's painter call does, and records it.
  RecordingSurface& page(Int16 displayType) {
    d().displayType = displayType;
    RecordingSurface& r = boardCanvas();
    switch (displayType) {
      case 1: drawType1Screen(d()); break;
      case 2: drawType2Screen(d()); break;
      case 3: drawType3Screen(d()); break;
      case 4: drawType4Screen(d()); break;
      case 5: drawType5Screen(d()); break;
      default: break;
    }
    return r;
  }
};

inline TrainRecord trainAt(std::string departTime, Int16 platform = 1,
                           std::string stops = "Alpha,Beta,Gamma",
                           std::string destination = "Airport Central") {
  return {std::move(destination), std::move(departTime), platform, std::move(stops)};
}

}  // namespace plasma::test
