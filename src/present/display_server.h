#pragma once
// The display servers the display shows on, each through its own interface: X11 (xcb, shared
// memory), Wayland (wl_shm buffers, xdg-shell) and the bare console (KMS/DRM dumb buffers). One is
// chosen before the first window; the splash, the message box and every page go through it.
#include <cairo.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "canvas/geometry.h"

namespace plasma {

// What happened to an output since its window last asked; each is reported once.
struct OutputEvents {
  bool resized = false;  // the image has a new size, black: the page wants painting again
  bool exposed = false;  // what the server showed was lost: the whole image wants presenting again
  bool closed = false;   // a window manager closed the window: the program ends
  bool key = false;      // a key was pressed over it
  std::optional<Point> click;  // where a pointer button was pressed, in the image's pixels
};

// One surface on the screen that keeps a retained image and shows it.
class Output {
 public:
  virtual ~Output() = default;
  // The image the output shows: RGB24 at its size in real pixels. What is written into it shows
  // at the next present. A double-buffered output may hand out another surface after a present,
  // always with the same pixels; it may wait for the server before it hands one out.
  virtual cairo_surface_t* image() = 0;
  // The image's size; never waits.
  virtual PixelSize size() const = 0;
  // Shows the changed rectangle of the image as one frame, paced by the server (a frame callback,
  // a page flip, 60 Hz). False when the frame did not reach the screen.
  virtual bool present(const PixelRect& changed) = 0;
  // True when what it shows is on a monitor now: shown by the server, on a monitor, and its last
  // present reached the screen.
  virtual bool onScreen() const = 0;
  virtual OutputEvents takeEvents() = 0;
  // Placed again on the monitor of its screen after the monitors changed. A line for the log when
  // the placement changed ("screen 1 is the monitor 1920x1080 at 1920,0"), else empty.
  virtual std::string place() = 0;
  // Shows an output that was made ready hidden.
  virtual void show() = 0;
  // Brings it to the front (a second start asked for it).
  virtual void raise() = 0;
  // "window 1920x1080 px at 0,0, full screen on monitor 1" for the start-up line.
  virtual std::string describe() const = 0;

  // A server that keeps its own copy of what it shows (X11) can move pixels there: a scrolling
  // strip then costs the rows that come into view, not the whole area.
  virtual bool movesPixels() const { return false; }
  // Moves the area's pixels on the screen up by `rows` and shows the rows this uncovers at its
  // bottom from `from` at (fromX, fromY). The image is left as it was: the window brings it up to
  // date when someone next reads or draws on it.
  virtual bool presentScroll(const PixelRect& area, int rows, cairo_surface_t* from, int fromX, int fromY) {
    (void)area, (void)rows, (void)from, (void)fromX, (void)fromY;
    return false;
  }
  // The rectangle is about to be drawn over whole: an output with several buffers need not bring
  // that part of the next one up to date first.
  virtual void willOverwrite(const PixelRect& r) { (void)r; }
};

// What a small box on the screen is for.
enum class BoxRole { Splash, MessageBox };

class DisplayServer {
 public:
  virtual ~DisplayServer() = default;
  // "x11", "wayland" or "kms".
  virtual const char* name() const = 0;
  // The descriptors that become readable when the server has something to say.
  virtual std::vector<int> fds() const = 0;
  // Reads and handles what the server sent. False once the connection to it is lost.
  virtual bool dispatch() = 0;
  // Sends what is queued; called before the program sleeps.
  virtual void flush() = 0;
  // True once after the monitors were added, removed or changed.
  virtual bool takeMonitorsChanged() = 0;
  // The page output over the monitor of `screenIndex`, made ready but hidden until show().
  virtual std::unique_ptr<Output> openScreen(int screenIndex, const std::string& title) = 0;
  // A box of this size centred on the monitor of `screenIndex`, shown at once. On Wayland and the
  // console the box is drawn in the middle of the screen's own surface, on black.
  virtual std::unique_ptr<Output> openBox(int screenIndex, PixelSize size, BoxRole role,
                                          const std::string& title) = 0;
};

enum class ServerKind { X11, Wayland, Kms };
const char* serverName(ServerKind kind);

// The servers to try, in order, for the environment the program was started in:
// PLASMA_DISPLAY_SERVER (x11, wayland or kms) alone when it is set, else SDL_VIDEODRIVER's x11,
// wayland or kmsdrm (what older configurations set), else Wayland where WAYLAND_DISPLAY is set,
// X11 where DISPLAY is, and the console where neither is. A value that names no server is
// reported in *problem and ignored.
std::vector<ServerKind> serverCandidates(const std::map<std::string, std::string>& env, std::string* problem);

// Connects to the first candidate that answers; null with the reasons in *why when none does.
std::unique_ptr<DisplayServer> openDisplayServer(const std::vector<ServerKind>& candidates, std::string* why);

std::unique_ptr<DisplayServer> openX11Server(std::string* why);
std::unique_ptr<DisplayServer> openWaylandServer(std::string* why);
std::unique_ptr<DisplayServer> openKmsServer(std::string* why);

}  // namespace plasma
