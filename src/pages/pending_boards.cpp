// Placeholder until the departure boards and notices are built; every call is a run-time error.
#include "display/procedures.h"

namespace plasma {
namespace {
[[noreturn]] void notBuilt(const char* what) {
  throw RuntimeError(ErrorKind::BadDocument, std::string(what) + " is not built yet");
}
}  // namespace
void drawDepartureBoard(Display& d, bool) { d.screenPhase = 1; d.timerStops.setEnabled(false); notBuilt("drawDepartureBoard"); }
void drawTwoRowDepartureBoard(Display&) { notBuilt("drawTwoRowDepartureBoard"); }
void drawAllTrainsDepart(Display&, const std::string&, double, double) { notBuilt("drawAllTrainsDepart"); }
void drawLastTrains(Display&, double, double) { notBuilt("drawLastTrains"); }
void drawLastTrain(Display&, double, double) { notBuilt("drawLastTrain"); }
}  // namespace plasma
