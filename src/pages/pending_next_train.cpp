// Placeholder until the next-train pages are built; every call is a run-time error.
#include "display/procedures.h"

namespace plasma {
namespace {
[[noreturn]] void notBuilt(const char* what) {
  throw RuntimeError(ErrorKind::BadDocument, std::string(what) + " is not built yet");
}
}  // namespace
void drawType1Screen(Display& d) { d.trapped("drawType1Screen", [] { notBuilt("drawType1Screen"); }); }
void drawType2Screen(Display& d) { d.trapped("drawType2Screen", [] { notBuilt("drawType2Screen"); }); }
void drawType3Screen(Display& d) { d.trapped("drawType3Screen", [] { notBuilt("drawType3Screen"); }); }
void drawType4Screen(Display& d) { d.trapped("drawType4Screen", [] { notBuilt("drawType4Screen"); }); }
void drawType5Screen(Display& d) { d.trapped("drawType5Screen", [] { notBuilt("drawType5Screen"); }); }
void stopsTimerEvent(Display& d) { if (d.screenPhase != 0) d.timerStops.setEnabled(false); }
}  // namespace plasma
