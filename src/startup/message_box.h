#pragma once
#include <memory>
#include <string>

#include "canvas/cairo_surface.h"
#include "present/display_server.h"

namespace plasma {

class RealEventLoop;

// The start-up message box as a picture: a title bar with the title, the error icon, the message
// and one OK button. `ok` is where the button stands, in the picture's pixels.
struct MessageBoxPicture {
  std::unique_ptr<CairoSurface> picture;
  PixelRect ok;
};
MessageBoxPicture paintMessageBox(const std::string& title, const std::string& message);

// Shows the message box on the screen's monitor until it is dismissed (a click on OK, any key, the
// window closed) or the program is told to stop. A screen without keyboard or mouse cannot dismiss
// it, so it also goes by itself after `timeoutMs`.
void showMessageBox(DisplayServer& server, RealEventLoop& loop, int screenIndex, const std::string& title,
                    const std::string& message, int timeoutMs);

}  // namespace plasma
