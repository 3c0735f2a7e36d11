#pragma once
// A Display on the virtual clock with a headless window, a scripted HTTP client and the real
// picture loader: what every behaviour test of the pages and the cycle stands on.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "canvas/recording_surface.h"
#include "display/display.h"
#include "cycle/cycle.h"
#include "platform/event_loop.h"
#include "present/headless_window.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"

namespace plasma::test {

// Answers each GET from a queue of responses (the last one repeats); records every URL.
class ScriptedHttpClient final : public HttpClient {
 public:
  HttpResponse get(const std::string& url) override;
  void push(HttpResponse r) { responses.push_back(std::move(r)); }
  void pushDocument(const std::string& body) { push({true, 200, body, ""}); }
  void pushFailure(const std::string& why) { push({false, 0, "", why}); }
  std::deque<HttpResponse> responses;
  std::vector<std::string> urls;
};

// Everything a test needs around one Display.
struct Rig {
  explicit Rig(int width = 1360, int height = 770);
  // A display whose pictures come from `loader`, decoded on the picture worker in `mode`.
  Rig(int width, int height, std::unique_ptr<ImageLoader> loader, FetchMode mode);
  VirtualEventLoop loop;
  HeadlessWindow window;
  ScriptedHttpClient http;
  std::unique_ptr<ImageLoader> images;
  std::unique_ptr<Display> display;
  std::unique_ptr<RecordingSurface> recorder;
  std::vector<std::string> pages;  // presented pages, in order

  Display& d() { return *display; }
  // Wraps the canvas in a recorder (fresh log) and returns it.
  RecordingSurface& record();
  // Loads a document into the display state and store exactly as a good load does, without the
  // redraw (tests then call the page they look at).
  void apply(const std::string& document);
};

// A valid document: the 25 lines, given lines replaced. Line numbers as in the document.
std::string document(const std::vector<std::pair<int, std::string>>& lines = {});

// Reads a pixel of a surface or window image.
Colour pixel(cairo_surface_t* image, int x, int y);

// An opaque slideshow picture: red, with a blue 4 x 4 bottom-right corner, so a misplaced or
// missing copy shows.
std::shared_ptr<const Picture> redPicture(int w, int h);

// Path of a file under tests/fixtures or resources.
std::string fixturePath(const std::string& name);
std::string resourcePath(const std::string& name);

}  // namespace plasma::test
