#pragma once
// Servers where the display has one full-screen surface for everything (Wayland, the console): the
// splash and the message box are drawn in its middle on black, and the page takes the whole
// surface once its window is shown.
#include <memory>

#include "present/display_server.h"

namespace plasma {

struct SharedScreen {
  std::shared_ptr<Output> surface;
  bool pageShown = false;  // from then on a box draws nothing
};

// The page's own output over the shared surface: show() hands the surface to the page.
std::unique_ptr<Output> pageOnSharedScreen(std::shared_ptr<SharedScreen> screen);

// A box of this size in the middle of the shared surface; its clicks are in its own pixels.
std::unique_ptr<Output> boxOnSharedScreen(std::shared_ptr<SharedScreen> screen, PixelSize size);

}  // namespace plasma
