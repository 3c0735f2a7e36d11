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

template <typename Record>
Int16 firstTrainMinutes(const std::vector<Record>& list, Int16 count, Int16 clockMinutes) {
  if (count == 0) return sub16(kNoTrain, clockMinutes);
  return minutesToDeparture(item(list, 0).departTime, clockMinutes);
}

bool usesMainList(Int16 displayType) { return displayType >= 0 && displayType <= 3; }

}  // namespace

DueTrains otherAndDomesticMinutes(const Display& d) {
  const TimetableStore& s = d.store;
  return {firstTrainMinutes(s.otherDepartures, s.otherDepartureCount, s.clockMinutes),
          firstTrainMinutes(s.domesticDepartures, s.domesticDepartureCount, s.clockMinutes)};
}

bool trainDueSoon(const Display& d) {
  const TimetableStore& s = d.store;
  if (usesMainList(d.displayType)) {
    if (s.mainDepartureCount == 0) return false;
    return minutesToDeparture(item(s.mainDepartures, 0).departTime, s.clockMinutes) <= kDueWithin;
  }
  if (s.otherDepartureCount == 0 && s.domesticDepartureCount == 0) return false;
  const DueTrains due = otherAndDomesticMinutes(d);
  return due.other <= kDueWithin || due.domestic <= kDueWithin;
}

}  // namespace plasma
