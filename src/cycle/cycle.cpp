// The one-second display tick and the choice of the display type's own page.
#include <optional>

#include "display/procedures.h"

namespace plasma {

Grid pageGrid(const Surface& canvas) {
  return {canvas.pixelWidth() / 272.0, canvas.pixelHeight() / 154.0};
}

Int16 minutesToDeparture(const std::string& departTime, Int16 clockMinutes) {
  return sub16(minuteOfDay(departTime), clockMinutes);
}

namespace {

std::string slotContext(TrainSlot at, const std::string& departTime) {
  return std::string(at.list) + " slot " + decimal(at.index) + " departTime \"" +
         escapeForLog(departTime) + "\"";
}

}  // namespace

double departureMinuteExact(TrainSlot at, const std::string& departTime) {
  return withContext(slotContext(at, departTime), [&] { return minuteOfDayExact(departTime); });
}

Int16 departureMinute(TrainSlot at, const std::string& departTime) {
  return withContext(slotContext(at, departTime), [&] { return minuteOfDay(departTime); });
}

Int16 minutesToDeparture(TrainSlot at, const std::string& departTime, Int16 clockMinutes) {
  return withContext(slotContext(at, departTime),
                     [&] { return sub16(minuteOfDay(departTime), clockMinutes); });
}

namespace {

constexpr Int16 kDueWithin = 60;

// Minutes to the first train of a list; nothing when the list has none.
template <typename Record>
std::optional<Int16> firstTrainMinutes(const std::vector<Record>& list, Int16 count,
                                       const char* listName, Int16 clockMinutes) {
  if (count == 0) return std::nullopt;
  return minutesToDeparture({listName, 0}, item(list, 0, listName).departTime, clockMinutes);
}

bool dueWithinTheHour(std::optional<Int16> minutes) { return minutes && *minutes <= kDueWithin; }

struct DueTrains {
  std::optional<Int16> other;
  std::optional<Int16> domestic;
};

DueTrains otherAndDomesticMinutes(const Display& d) {
  const TimetableStore& s = d.store;
  return {firstTrainMinutes(s.otherDepartures, s.otherDepartureCount, kOtherList, s.clockMinutes),
          firstTrainMinutes(s.domesticDepartures, s.domesticDepartureCount, kDomesticList,
                            s.clockMinutes)};
}

bool usesMainList(Int16 displayType) { return displayType >= 0 && displayType <= 3; }

// The board has no error trap of its own; from the tick, where no page procedure would catch it,
// an error must still end in the black screen rather than leave the old page (and its countdown)
// standing.
void boardFromTick(Display& d) {
  d.trapped("drawDepartureBoard", [&] { drawDepartureBoard(d, true); });
}

}  // namespace

bool trainDueSoon(const Display& d) {
  const TimetableStore& s = d.store;
  if (usesMainList(d.displayType)) {
    return dueWithinTheHour(
        firstTrainMinutes(s.mainDepartures, s.mainDepartureCount, kMainList, s.clockMinutes));
  }
  const DueTrains due = otherAndDomesticMinutes(d);
  return dueWithinTheHour(due.other) || dueWithinTheHour(due.domestic);
}

void displayTick(Display& d) {
  d.tickCount = add16(d.tickCount, 1);
  switch (d.screenPhase) {
    case 0:
      if (d.tickCount >= d.mainPageSeconds) {
        if (d.displayType != 6) {
          boardFromTick(d);
        } else if (d.type6Alternation == 1) {
          d.type6Alternation = 2;  // page A follows page B
          showNextScreen(d, true);
        } else {
          boardFromTick(d);
          d.type6Alternation = 1;
        }
      }
      break;
    case 1:
      if (d.tickCount >= d.boardSeconds) {
        if (d.store.messageCount > 0) {
          drawMessageScreen(d, true);
        } else {
          showNextScreen(d, true);
        }
      }
      break;
    case 2:
      if (d.tickCount >= d.messageSeconds) showNextScreen(d, true);
      break;
    default:
      break;
  }
}

namespace {

void paintOwnPage(Display& d) {
  switch (d.displayType) {
    case 0: drawType0Screen(d); break;
    case 1: drawType1Screen(d); break;
    case 2: drawType2Screen(d); break;
    case 3: drawType3Screen(d); break;
    case 4: drawType4Screen(d); break;
    case 5: drawType5Screen(d); break;
    case 6:
      if (d.type6Alternation == 1) {
        drawType6ScreenB(d);
      } else {
        drawType6ScreenA(d);
      }
      break;
    default:
      // A type outside 0..6 has no page of its own: the canvas stays cleared and unpresented, so
      // the window keeps the previous page.
      break;
  }
}

}  // namespace

void showNextScreen(Display& d, bool restartCycle) {
  d.trapped("showNextScreen", [&] {
    d.screenPhase = 0;
    if (restartCycle) d.tickCount = 0;
    d.canvas().removePicture();
    d.canvas().clear();
    if (!trainDueSoon(d)) {
      d.showNextPicture(restartCycle);
      return;
    }
    if (d.displayType == 6) {
      const DueTrains due = otherAndDomesticMinutes(d);
      if (d.type6Alternation == 1) {
        if (!dueWithinTheHour(due.other)) {
          d.type6Alternation = 2;
          d.setBoardColours();
          d.canvas().clear();
          drawType6ScreenA(d);
          return;
        }
      } else if (!dueWithinTheHour(due.domestic)) {
        d.type6Alternation = 1;
        // The board also gets the time of the page that was skipped.
        d.boardSeconds = add16(d.boardSeconds, d.mainPageSeconds);
        drawDepartureBoard(d, true);
        return;
      }
    }
    d.setBoardColours();
    d.canvas().clear();
    paintOwnPage(d);
  });
}

}  // namespace plasma
