#pragma once
// Kept apart from the tests: Xlib's macros (None, Status, ...) collide with GoogleTest's names.
#include <optional>
#include <string>

namespace plasma::e2e {

// Moves the pointer of the X display to (x, y) and tells whether its image there is wholly
// transparent; nullopt when the display cannot be opened.
std::optional<bool> pointerInvisibleAt(const std::string& xdisplay, int x, int y);

}  // namespace plasma::e2e
