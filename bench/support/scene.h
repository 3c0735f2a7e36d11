#pragma once
// A Display on a virtual clock, loaded from fixed timetable documents, whose pages, presentation,
// scroll steps and document loads can be timed one at a time. Shared by plasma-bench and the perf
// tests, so both measure exactly the same work.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "display/display.h"
#include "platform/event_loop.h"
#include "present/headless_window.h"
#include "platform/image_loader.h"

namespace plasma::bench {

// The page families a display shows, each painted by the procedure the page cycle calls for it.
enum class PageFamily {
  Board,           // one-row departure board, four trains
  TwoRowBoard,     // the two-row board of display type 0
  NextTrainList,   // next-train page with a stops list printed on the page
  NextTrainStrip,  // next-train page whose long stops list goes onto the scrolling strip
  Countdown,       // logo countdown page of display type 0
  Message,         // message page: heading and fitted, wrapped text
  Notice,          // "All trains depart" notice
  Picture,         // slideshow picture: the file is read and decoded for every page
};

inline constexpr std::array<PageFamily, 8> kPageFamilies{
    PageFamily::Board,     PageFamily::TwoRowBoard, PageFamily::NextTrainList,
    PageFamily::NextTrainStrip, PageFamily::Countdown, PageFamily::Message,
    PageFamily::Notice,    PageFamily::Picture};

const char* familyName(PageFamily family);
std::optional<PageFamily> familyFromName(std::string_view name);

struct FrameSize {
  int width;
  int height;
};
inline constexpr FrameSize kFullHd{1920, 1080};
inline constexpr FrameSize kUltraHd{3840, 2160};
std::string sizeName(FrameSize size);  // "1920x1080"
std::optional<FrameSize> sizeFromName(std::string_view name);

// The fixed document a family is painted from (a 25-line timetable document, clock 10:00).
std::string familyDocument(PageFamily family);

class Scene {
 public:
  explicit Scene(FrameSize size);
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  Display& display() { return *display_; }
  HeadlessWindow& window() { return window_; }

  // Loads the family's document and display type, so that paint() draws that family's page.
  void prepare(PageFamily family);
  // Paints the prepared page into the canvas exactly as the page cycle does, but the copy onto the
  // window is left out: presentation is timed on its own (present()).
  void paint();
  // presentCanvas onto the headless window: one plain copy, or the strip wipe of wipeSteps steps.
  void present(int wipeSteps);

  // The stops strip: paints the strip page for real and starts a scroll run; scrollStep() then
  // advances the run by one frame (one list-area copy onto the window and one refresh), starting
  // a new run whenever one ends.
  void startScrolling();
  void scrollStep();
  // Size of the list area one scroll step copies, in pixels.
  int scrollAreaPixels();

  // Decodes, parses and applies the board document as a timer load does (display type 1 on its own
  // page: the page refreshes itself, so no redraw follows the load).
  void loadDocument();

 private:
  class PaintWindow;
  VirtualEventLoop loop_;
  HeadlessWindow window_;
  std::unique_ptr<PaintWindow> paintWindow_;
  std::unique_ptr<HttpClient> http_;
  std::unique_ptr<ImageLoader> images_;
  std::unique_ptr<Display> display_;
  std::string loadUrl_;
  HttpResponse loadResponse_;
  PageFamily family_ = PageFamily::Board;
};

}  // namespace plasma::bench
