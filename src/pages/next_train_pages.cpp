// The next-train pages of display types 1 to 5: choose the train, then draw the page from its
// elements, or the "All trains depart" notice when this platform has nothing within the hour.
#include <optional>

#include "pages/next_train.h"

namespace plasma {
namespace {

constexpr Int16 kDepartingBelow = 2;  // fewer minutes than this read "Now / Departing"

// What a page shows of its train once the train is chosen.
struct NextTrain {
  std::string destination;
  std::string platformText;
  Int16 minutes;
  std::vector<std::string> stops;
  bool skipFirst;  // types 4 and 5 leave stop 0 out (it is the station the display stands at)
};

std::string platformText(Int16 platform) { return decimal(platform); }
Int16 otherPlatform(Int16 platform) { return platform == 1 ? 2 : 1; }

// Types 1 to 3 subtract in floating point and round the difference.
Int16 minutesFromClock(TrainSlot at, const std::string& departTime, Int16 clockMinutes) {
  const double minute = departureMinuteExact(at, departTime);
  return withContext(std::string(at.list) + " slot " + decimal(at.index),
                     [&] { return round16(minute - clockMinutes); });
}

// The stops of a train. An empty text has no stop to show, which blacks the page; the error names
// the record.
std::vector<std::string> stopsOf(TrainSlot at, const std::string& stops) {
  std::vector<std::string> list = split(stops, ',');
  if (list.empty()) {
    throw RuntimeError(ErrorKind::SubscriptOutOfRange, std::string(at.list) + " slot " +
                                                           decimal(at.index) +
                                                           " stops \"\": no stop to show");
  }
  return list;
}

void drawNextTrainPage(Display& d, const NextTrain& train, Grid g, PageName page) {
  drawNextTrainTitle(d, g.unitX, g.unitY);
  drawNextTrainDestination(d, train.destination, g.unitX, g.unitY);
  drawDepartsPlatform(d, train.platformText, g.unitX, g.unitY);
  if (train.minutes < kDepartingBelow) {
    drawDepartingNow(d, g.unitX, g.unitY);
  } else {
    drawMinutesToDeparture(d, decimal(train.minutes), g.unitX, g.unitY);
  }
  drawStopsHeading(d, g.unitX, g.unitY);
  // Entry 0 counts here even when it is skipped: 9 entries always go to the strip.
  const bool scrolling = static_cast<long long>(train.stops.size()) - 1 >= kFixedListRows;
  if (scrolling) {
    renderStopsStrip(d, train.stops, train.skipFirst, g.unitX, g.unitY);
  } else {
    drawStopsList(d, train.stops, train.skipFirst, g.unitX, g.unitY);
  }
  // An outline only, whatever fill style a page interrupted by an error may have left behind.
  Surface& c = d.canvas();
  c.setFillStyle(FillStyle::Transparent);
  c.box(kPageFrame.left * g.unitX, kPageFrame.top * g.unitY, kPageFrame.right * g.unitX,
        kPageFrame.bottom * g.unitY);

  d.stopsStripOnScreen = scrolling;
  d.presentCanvas(page);
  if (scrolling) {
    d.stopsTickCount = 0;
    d.timerStops.setEnabled(true);
  } else {
    // A redraw with a short list must not let the scroller copy the earlier strip over it.
    d.timerStops.setEnabled(false);
  }
}

// Types 2 and 3: the first main train on this platform, within the hour.
void drawMainPlatformScreen(Display& d, Int16 platform, PageName page) {
  const TimetableStore& s = d.store;
  const Grid g = pageGrid(d.canvas());
  const TrainRecord* chosen = nullptr;
  Int16 slot = 0;
  for (Int16 i = 0; i < s.mainDepartureCount; ++i) {
    const TrainRecord& r = item(s.mainDepartures, i, kMainList);
    if (r.platform == platform) {
      chosen = &r;
      slot = i;
      break;
    }
  }
  const std::string otherText = platformText(otherPlatform(platform));
  if (!chosen) {
    drawAllTrainsDepart(d, otherText, g.unitX, g.unitY);
    return;
  }
  const TrainSlot at{kMainList, slot};
  const Int16 minutes = minutesFromClock(at, chosen->departTime, s.clockMinutes);
  if (minutes > kDueWithin) {
    drawAllTrainsDepart(d, otherText, g.unitX, g.unitY);
    return;
  }
  drawNextTrainPage(
      d, {chosen->destination, platformText(platform), minutes, stopsOf(at, chosen->stops), false},
      g, page);
}

// The first record of a list on this platform, with its slot and minute of day.
template <typename Record>
struct OnPlatform {
  const Record* record;
  TrainSlot at;
  Int16 minute;
};

template <typename Record>
std::optional<OnPlatform<Record>> firstOnPlatform(const std::vector<Record>& list, Int16 count,
                                                  const char* listName, Int16 platform) {
  for (Int16 i = 0; i < count; ++i) {
    const Record& r = item(list, i, listName);
    if (r.platform == platform) {
      const TrainSlot at{listName, i};
      return OnPlatform<Record>{&r, at, departureMinute(at, r.departTime)};
    }
  }
  return std::nullopt;
}

// Types 4 and 5: the earlier of the first other and the first domestic train on this platform;
// on a tie the other train, which names its destination and stops.
void drawAirportPlatformScreen(Display& d, Int16 platform, PageName page) {
  const TimetableStore& s = d.store;
  const Grid g = pageGrid(d.canvas());
  const auto other = firstOnPlatform(s.otherDepartures, s.otherDepartureCount, kOtherList, platform);
  const auto domestic =
      firstOnPlatform(s.domesticDepartures, s.domesticDepartureCount, kDomesticList, platform);
  const std::string otherText = platformText(otherPlatform(platform));
  if (!other && !domestic) {
    drawAllTrainsDepart(d, otherText, g.unitX, g.unitY);
    return;
  }
  const Int16 otherTime = other ? other->minute : kNoTrain;
  const Int16 domesticTime = domestic ? domestic->minute : kNoTrain;
  // A train that exists always wins over a list without one, whatever its time: the 9999 of a
  // missing train is no departure, and a real train may leave at minute 9999 or later.
  const bool domesticChosen = domestic && (!other || otherTime > domesticTime);
  const TrainSlot at = domesticChosen ? domestic->at : other->at;
  const Int16 minutes = withContext(std::string(at.list) + " slot " + decimal(at.index), [&] {
    return sub16(domesticChosen ? domesticTime : otherTime, s.clockMinutes);
  });
  if (minutes > kDueWithin) {
    drawAllTrainsDepart(d, otherText, g.unitX, g.unitY);
    return;
  }
  NextTrain train{kDomesticDestination, platformText(platform), minutes, {kDomesticStop}, true};
  if (!domesticChosen) {
    train.destination = other->record->destination;
    train.stops = stopsOf(other->at, other->record->stops);
  }
  drawNextTrainPage(d, train, g, page);
}

}  // namespace

void drawType1Screen(Display& d) {
  d.trapped("drawType1Screen", [&] {
    const Grid g = pageGrid(d.canvas());
    const TrainRecord& r = item(d.store.mainDepartures, 0, kMainList);
    const TrainSlot at{kMainList, 0};
    drawNextTrainPage(d,
                      {r.destination, platformText(r.platform),
                       minutesFromClock(at, r.departTime, d.store.clockMinutes),
                       stopsOf(at, r.stops), false},
                      g, PageName::Type1);
  });
}

void drawType2Screen(Display& d) {
  d.trapped("drawType2Screen", [&] { drawMainPlatformScreen(d, 1, PageName::Type2); });
}

void drawType3Screen(Display& d) {
  d.trapped("drawType3Screen", [&] { drawMainPlatformScreen(d, 2, PageName::Type3); });
}

void drawType4Screen(Display& d) {
  d.trapped("drawType4Screen", [&] { drawAirportPlatformScreen(d, 1, PageName::Type4); });
}

void drawType5Screen(Display& d) {
  d.trapped("drawType5Screen", [&] { drawAirportPlatformScreen(d, 2, PageName::Type5); });
}

}  // namespace plasma
