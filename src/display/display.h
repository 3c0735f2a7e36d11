#pragma once
// frmDisplay: the one working window. It owns the display state, the timetable store, the four
// picture surfaces, the three timers and the feed, and runs every procedure on the loop's thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "canvas/cairo_surface.h"
#include "feed/timetable.h"
#include "platform/event_loop.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"
#include "present/window.h"
#include "support/legacy.h"

namespace plasma {

// The page now on screen, as the simulation, the status file and the frame log name it.
enum class PageName {
  Type0, Type1, Type2, Type3, Type4, Type5, Type6A, Type6B,
  Board, TwoRowBoard, Message, Picture, Notice, Black,
};
const char* pageNameText(PageName page);

// What the feed knows about its own health, for logs and the status file.
struct FeedStatus {
  bool everLoaded = false;
  std::int64_t lastGoodUs = -1;       // loop time of the last good load, suspended time counted
  std::int64_t lastGoodWallSeconds = 0;  // wall-clock time of the last good load (for people)
  std::string lastFailure;            // why the last failed load failed
  std::int64_t lastFailureWallSeconds = 0;
  int failuresInARow = 0;
  bool staleCleared = false;          // the train lists were emptied for old data
  bool skippedWhileBusy = false;      // a timer load found the last fetch running (logged once)
  long loads = 0;
  long failures = 0;
};

// A train list older than this (no good load since) is emptied, so no countdown is shown from old
// data. PLASMA_STALE_SECONDS overrides it.
inline constexpr int kStaleSecondsDefault = 300;

class Display;

// The page procedures the window's timers, loads and scroller start. The screen cycle, which sits
// above the pages that read this state, provides them, so the display never calls upward.
class PageProcedures {
 public:
  // The one-second tick: advances the page on screen.
  virtual void displayTick(Display& d) const = 0;
  // Paints the display type's own page (or the slideshow); restartCycle: a page change.
  virtual void showNextScreen(Display& d, bool restartCycle) const = 0;
  // The stops timer of the next-train pages.
  virtual void stopsTimerEvent(Display& d) const = 0;
  // After a good load: the page on screen is painted again with the new data.
  virtual void redrawWithNewData(Display& d) const = 0;
  // After the window took a new size: the page on screen is painted again at that size.
  virtual void redrawAtNewSize(Display& d) const { redrawWithNewData(d); }

 protected:
  ~PageProcedures() = default;
};

class Display {
 public:
  Display(Window& window, EventLoop& loop, HttpClient& http, ImageLoader& images,
          FetchMode fetchMode, const PageProcedures& procedures);
  ~Display();
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  // ---- display state: every integer 16-bit signed ----
  Int16 displayType = 0;
  Int16 screenPhase = 0;  // 0 own page (or picture), 1 departure board, 2 message page
  Int16 tickCount = 0;
  Int16 layoutVariant = 0;
  Int16 wipeEnabled = 0;
  Int16 wipeSteps = 0;
  Int16 mainPageSeconds = 0;
  Int16 boardSeconds = 0;
  Int16 messageSeconds = 0;
  Int16 colourScheme = 0;
  Int16 boardOption = 0;
  Int16 spareSetting = 0;
  Int16 scrollDelay = 0;
  Int16 stopsTickCount = 0;
  Int16 type6Alternation = 0;
  Int16 messageIndex = 0;

  // True while the page on screen is a next-train page whose stops run on the scrolling strip. Any
  // other page clears it and stops timerStops, so the scroller never copies an old strip over it.
  bool stopsStripOnScreen = false;

  // The stops strip beyond its pixels: pbStops holds only the rows the list area shows and the
  // next few, so a list of any length costs what a short one costs; the scroller draws the rows
  // further down when it reaches them.
  struct StopsStripRows {
    std::vector<std::string> names;  // the rows of the list, top to bottom
    double unitY = 0;
    int height = 0;  // the whole list's height in pixels
    int top = 0;     // the list's pixel row at the top of pbStops
  };
  StopsStripRows stopsStripRows;

  // The last colourScheme a countdown page met, so that an unknown scheme is logged once.
  Int16 countdownSchemeSeen = 0;
  // The last message text cut short for want of room, so that it is logged once.
  std::string messageCutLogged;

  TimetableStore store;

  // The two start-up globals the window reads.
  Int16 screenIndex = 0;
  std::string serverBaseUrl;

  // ---- controls ----
  Window& window;
  EventLoop& loop;
  ImageLoader& images;
  const PageProcedures& procedures;

  // The canvas every page paints into (pbDraw), or a recorder wrapped around it in tests.
  Surface& canvas() { return canvasOverride_ ? *canvasOverride_ : *pbDraw_; }
  CairoSurface& pbDraw() { return *pbDraw_; }
  // The stops strip (pbStops), or a recorder wrapped around it.
  Surface& stops() { return stopsOverride_ ? *stopsOverride_ : *pbStops_; }
  CairoSurface& pbStops() { return *pbStops_; }
  const Surface& pbLogoNavy() const { return *pbLogoNavy_; }
  const Surface& pbLogoGreen() const { return *pbLogoGreen_; }
  void setCanvasOverride(Surface* s) { canvasOverride_ = s; }
  void setStopsOverride(Surface* s) { stopsOverride_ = s; }

  Timer& timerDatabase;
  Timer& timerDisplay;
  Timer& timerStops;

  // ---- the window's own steps ----
  // Sizes the canvas to the window's client area and sets the three initial values.
  void loadStep();
  // The window took a new size (its monitor changed mode): the canvas follows and the page on
  // screen is painted again.
  void windowResized();
  // Starts (or restarts) the display with a type: first load, refresh, first page.
  void setDisplayType(Int16 id);

  // Starts a frame animation on the loop (the stops scroller) that leaves the loop with this
  // Display, as the timers do; a new one replaces a running one.
  void startAnimation(std::function<bool()> step);

  // ---- canvas operations ----
  void clearCanvas();
  void setBoardColours();
  void presentCanvas(PageName page);
  void showNextPicture(bool restartCycle);
  // Names the slideshow's current and next picture to the picture worker, so the next picture page
  // finds its picture decoded. Called after every page shown and every load.
  // A page showing a picture wants it (and the next) whatever the trains.
  void wantPictures(bool showingPicture = false);
  // False while a train is due soon, when the next page cannot be a picture.
  bool slideshowMayShow() const;
  // True while a picture page waits for its picture (shown when it is decoded).
  bool picturePending() const { return !pendingPicture_.empty(); }
  const PictureWorker& pictureWorker() const { return *pictures_; }

  // ---- timetable feed (load_timetable.cpp) ----
  // One load as at start-up: fetch, parse, apply, redraw; a failure blacks the screen. The window
  // thread waits for the fetch at most kLoadWaitLimitUs, handling signals but no timer.
  void loadTimetable();
  static constexpr std::int64_t kLoadWaitLimitUs = 10500000;
  // At the end: waits up to ms for a fetch in flight; false when one still runs.
  bool fetchEndsWithin(int ms) { return fetcher_->waitIdle(ms); }
  // Empties the train lists once no good load has come for staleSeconds (checked every tick, so
  // a display resumed from suspend drops old trains at once).
  void emptyOldTrainLists();
  // The timer's load: the fetch runs off the window thread; its result is applied on it. Starts
  // nothing while a fetch is still in flight.
  void startTimetableLoad();
  // Parses and applies a fetched response on the window thread (steps after the fetch).
  void applyTimetableResponse(const std::string& url, const HttpResponse& response);
  std::string timetableUrl() const;
  FeedStatus feed;
  int staleSeconds = kStaleSecondsDefault;

  // ---- error trap ----
  // Runs a procedure under an error trap: a RuntimeError blacks the screen and leaves one log line.
  template <typename F>
  void trapped(const char* procedure, F&& body) {
    try {
      body();
    } catch (const RuntimeError& e) {
      trapError(procedure, e);
    }
  }
  void trapError(const char* procedure, const RuntimeError& e);

  // ---- observation ----
  PageName currentPage() const { return currentPage_; }
  std::function<void(PageName)> onPagePresented;
  std::function<void(const std::string&)> onTrappedError;

 private:
  std::unique_ptr<CairoSurface> pbDraw_;
  std::unique_ptr<CairoSurface> pbStops_;
  std::unique_ptr<CairoSurface> pbLogoNavy_;
  std::unique_ptr<CairoSurface> pbLogoGreen_;
  Surface* canvasOverride_ = nullptr;
  Surface* stopsOverride_ = nullptr;
  HttpClient& http_;
  std::unique_ptr<FetchWorker> fetcher_;
  std::unique_ptr<PictureWorker> pictures_;
  std::string pendingPicture_;
  std::string shownPicturePath_;  // the picture the window holds whole, when the canvas lets it go
  bool slideshowPage_ = false;     // the page being presented is the slideshow's (or its black)
  bool slideshowOnScreen_ = false;
  void showPicture(const std::string& path, const PictureOutcome& outcome);
  void pictureDecoded(const std::string& path);
  PageName currentPage_ = PageName::Black;
  EventLoop::AnimationId animation_ = 0;
};

// Puts a whole, valid document into the display state and the store (the slideshow's place kept).
void applyParsedTimetable(Display& d, ParsedTimetable&& parsed);

}  // namespace plasma
