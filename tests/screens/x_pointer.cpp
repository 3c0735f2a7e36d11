#include "screens/x_pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

namespace plasma::e2e {

std::optional<bool> pointerInvisibleAt(const std::string& xdisplay, int x, int y) {
  ::Display* dpy = XOpenDisplay(xdisplay.c_str());
  if (!dpy) return std::nullopt;
  XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, x, y);
  XSync(dpy, False);
  ::usleep(200000);  // the server sets the window's cursor as the pointer enters it
  std::optional<bool> invisible;
  if (XFixesCursorImage* c = XFixesGetCursorImage(dpy)) {
    invisible = true;
    for (int i = 0; i < c->width * c->height; ++i) invisible = *invisible && (c->pixels[i] >> 24) == 0;
    XFree(c);
  }
  XCloseDisplay(dpy);
  return invisible;
}

}  // namespace plasma::e2e
