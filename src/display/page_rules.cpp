#include "display/page_rules.h"

#include <vector>

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

// Minutes to the first train of a list; nothing when the list has none.
template <typename Record>
std::optional<Int16> firstTrainMinutes(const std::vector<Record>& list, Int16 count,
                                       const char* listName, Int16 clockMinutes) {
  if (count == 0) return std::nullopt;
  return minutesToDeparture({listName, 0}, item(list, 0, listName).departTime, clockMinutes);
}

bool usesMainList(Int16 displayType) { return displayType >= 0 && displayType <= 3; }

}  // namespace

DueTrains otherAndDomesticMinutes(const Display& d) {
  const TimetableStore& s = d.store;
  return {firstTrainMinutes(s.otherDepartures, s.otherDepartureCount, kOtherList, s.clockMinutes),
          firstTrainMinutes(s.domesticDepartures, s.domesticDepartureCount, kDomesticList,
                            s.clockMinutes)};
}

bool trainDueSoon(const Display& d) {
  const TimetableStore& s = d.store;
  if (usesMainList(d.displayType)) {
    return dueWithinTheHour(
        firstTrainMinutes(s.mainDepartures, s.mainDepartureCount, kMainList, s.clockMinutes));
  }
  const DueTrains due = otherAndDomesticMinutes(d);
  return dueWithinTheHour(due.other) || dueWithinTheHour(due.domestic);
}

}  // namespace plasma
