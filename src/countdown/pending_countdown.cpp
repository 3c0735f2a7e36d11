// Placeholder until the countdown pages are built; every call is a run-time error.
#include "display/procedures.h"

namespace plasma {
namespace {
[[noreturn]] void notBuilt(const char* what) {
  throw RuntimeError(ErrorKind::BadDocument, std::string(what) + " is not built yet");
}
}  // namespace
void drawType0Screen(Display& d) { d.trapped("drawType0Screen", [] { notBuilt("drawType0Screen"); }); }
void drawType6ScreenA(Display& d) { d.trapped("drawType6ScreenA", [] { notBuilt("drawType6ScreenA"); }); }
void drawType6ScreenB(Display& d) { d.trapped("drawType6ScreenB", [] { notBuilt("drawType6ScreenB"); }); }
}  // namespace plasma
