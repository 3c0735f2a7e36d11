// Placeholder until the message page is built; every call is a run-time error.
#include "display/procedures.h"

namespace plasma {
void drawMessageScreen(Display& d, bool) {
  d.trapped("drawMessageScreen", [&] {
    d.screenPhase = 2;
    throw RuntimeError(ErrorKind::BadDocument, "drawMessageScreen is not built yet");
  });
}
}  // namespace plasma
