// The one-second display tick and the choice of the display type's own page.
#include "cycle/cycle.h"

namespace plasma {

namespace {

// The board has no error trap of its own; from the tick, where no page procedure would catch it,
// an error must still end in the black screen rather than leave the old page (and its countdown)
// standing.
void boardFromTick(Display& d) {
  d.trapped("drawDepartureBoard", [&] { drawDepartureBoard(d, true); });
}

}  // namespace

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

void redrawWithNewData(Display& d) {
  d.wipeEnabled = 0;
  if (d.screenPhase == 0) {
    // Next-train pages of types 1 to 5 refresh themselves with the stops timer.
    if ((d.displayType == 0 || d.displayType == 6) && d.tickCount != 0) showNextScreen(d, false);
  }
  if (d.screenPhase == 1) drawDepartureBoard(d, false);
  if (d.screenPhase == 2) drawMessageScreen(d, false);
  d.wipeEnabled = 1;
}

namespace {

class ScreenCycle final : public PageProcedures {
 public:
  void displayTick(Display& d) const override { plasma::displayTick(d); }
  void showNextScreen(Display& d, bool restartCycle) const override {
    plasma::showNextScreen(d, restartCycle);
  }
  void stopsTimerEvent(Display& d) const override { plasma::stopsTimerEvent(d); }
  void redrawWithNewData(Display& d) const override { plasma::redrawWithNewData(d); }
};

}  // namespace

const PageProcedures& screenCycle() {
  static const ScreenCycle cycle;
  return cycle;
}

}  // namespace plasma
