#pragma once
#include <functional>
#include <string>

#include "canvas/window_image.h"

namespace plasma {

// The display window: a retained image the size of one monitor, shown on refresh. The page name
// given after each presented page is for the frame dump, the status file and the simulation.
class Window : public WindowImage {
 public:
  // Called once after presentCanvas's final refresh, with the name of the page now on screen.
  virtual void pagePresented(const std::string& pageName) { (void)pageName; }
  // Brings the window to the front (a second start asked for it).
  virtual void raise() {}
  // True when what the window shows is on a monitor now: the window system has shown it, it
  // stands on a monitor and its last refresh reached the screen. A window without a window
  // system (asked for) counts as shown.
  virtual bool onScreen() const { return true; }
};

}  // namespace plasma
