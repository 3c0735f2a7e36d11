#include "display/display.h"

#include <algorithm>
#include <cstdlib>

#include "display/page_rules.h"
#include "plasma/artwork.h"
#include "support/log.h"

namespace plasma {

const char* pageNameText(PageName page) {
  switch (page) {
    case PageName::Type0: return "type0";
    case PageName::Type1: return "type1";
    case PageName::Type2: return "type2";
    case PageName::Type3: return "type3";
    case PageName::Type4: return "type4";
    case PageName::Type5: return "type5";
    case PageName::Type6A: return "type6a";
    case PageName::Type6B: return "type6b";
    case PageName::Board: return "board";
    case PageName::TwoRowBoard: return "two-row-board";
    case PageName::Message: return "message";
    case PageName::Picture: return "picture";
    case PageName::Notice: return "notice";
    case PageName::Black: return "black";
  }
  return "black";
}

namespace {

std::unique_ptr<CairoSurface> logoHolder(const char* name) {
  const artwork::Blob blob = artwork::find(name);
  if (blob.empty()) throw RuntimeError(ErrorKind::FileNotFound, std::string("artwork ") + name);
  return CairoSurface::fromPicture(*decodePicture(blob.data, blob.size, name));
}

int staleSecondsFromEnvironment() {
  const char* v = std::getenv("PLASMA_STALE_SECONDS");
  if (!v || !*v) return kStaleSecondsDefault;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  if (*end != '\0' || n <= 0 || n > 86400 * 7) {
    logLine(std::string("PLASMA_STALE_SECONDS=\"") + v + "\" is not a number of seconds; using 300");
    return kStaleSecondsDefault;
  }
  return static_cast<int>(n);
}

}  // namespace

Display::Display(Window& w, EventLoop& l, HttpClient& http, ImageLoader& imgs, FetchMode fetchMode,
                 const PageProcedures& pages)
    : window(w),
      loop(l),
      images(imgs),
      procedures(pages),
      timerDatabase(l.createTimer("timetable timer", 30000, true, [this] { startTimetableLoad(); })),
      timerDisplay(l.createTimer("display tick", 1000, true, [this] {
        emptyOldTrainLists();
        procedures.displayTick(*this);
      })),
      timerStops(l.createTimer("stops timer", 1000, false, [this] { procedures.stopsTimerEvent(*this); })),
      pbDraw_(std::make_unique<CairoSurface>(33, 29)),
      pbStops_(std::make_unique<CairoSurface>(37, 29)),
      pbLogoNavy_(logoHolder("logo-navy.bmp")),
      pbLogoGreen_(logoHolder("logo-green.bmp")),
      http_(http),
      fetcher_(std::make_unique<FetchWorker>(http, l, fetchMode)),
      pictures_(std::make_unique<PictureWorker>(imgs, l, fetchMode)) {
  staleSeconds = staleSecondsFromEnvironment();
  pictures_->onDecoded([this](const std::string& path) { pictureDecoded(path); });
}

// The timers and the animation call into this Display: they leave the loop with it, so none can
// run on a dead one.
Display::~Display() {
  loop.stopAnimation(animation_);
  loop.removeTimer(timerStops);
  loop.removeTimer(timerDisplay);
  loop.removeTimer(timerDatabase);
}

void Display::startAnimation(std::function<bool()> step) {
  animation_ = loop.startAnimation(std::move(step));
}

void Display::loadStep() {
  // The window itself is placed by whoever made it (one monitor); the canvas is its client area.
  pbDraw_->resize(window.clientWidth(), window.clientHeight());
  // Like the window, the canvas starts black: a slideshow picture smaller than the screen before
  // any page has set colours stands on black.
  pbDraw_->setBackColour(colours::kBlack);
  wipeSteps = 1;
  type6Alternation = 1;
  messageIndex = 0;
}

void Display::windowResized() {
  pbDraw_->resize(window.clientWidth(), window.clientHeight());
  pbDraw_->setBackColour(colours::kBlack);
  shownPicturePath_.clear();  // the window's image was made anew
  trapped("windowResized", [this] { procedures.redrawAtNewSize(*this); });
}

void Display::setDisplayType(Int16 id) {
  displayType = id;
  screenPhase = 0;
  layoutVariant = 1;
  loadTimetable();
  window.refresh();
  procedures.showNextScreen(*this, true);
}

void Display::clearCanvas() {
  canvas().setBackColour(colours::kBlack);
  canvas().clear();
  // A clear draws the background picture again: with a slideshow picture still set, the error
  // screen shows that picture on black, and the status must say so.
  presentCanvas(canvas().hasPicture() ? PageName::Picture : PageName::Black);
}

void Display::setBoardColours() {
  canvas().setBackColour(colours::kBoardBackground);
  canvas().setForeColour(colours::kWhite);
}

void Display::presentCanvas(PageName page) {
  // Only a next-train page can carry the stops strip; any other page ends the scroller.
  if (page < PageName::Type1 || page > PageName::Type5) {
    stopsStripOnScreen = false;
    timerStops.setEnabled(false);
  }
  // Any page shown takes the place of a picture page still waiting for its picture.
  pendingPicture_.clear();
  plasma::presentCanvas(canvas(), window, wipeEnabled, wipeSteps);
  currentPage_ = page;
  slideshowOnScreen_ = slideshowPage_ || page == PageName::Picture;
  slideshowPage_ = false;
  // A picture page names its pictures once the window holds it (showPicture); a clear over a
  // picture still shows it.
  if (page != PageName::Picture) {
    shownPicturePath_.clear();
    wantPictures();
  }
  window.pagePresented(pageNameText(page));
  if (onPagePresented) onPagePresented(page);
}

void Display::showNextPicture(bool restartCycle) {
  if (restartCycle) tickCount = 0;
  pendingPicture_.clear();
  if (store.pictureCount == 0) {
    clearCanvas();
    return;
  }
  if (restartCycle) store.pictureIndex = add16(store.pictureIndex, 1);
  if (store.pictureIndex >= store.pictureCount) store.pictureIndex = 0;
  const std::string& path = item(store.pictureFiles, store.pictureIndex);
  // The same picture again (a redraw after a load): the window still shows it, so it is neither
  // decoded again nor copied.
  if (!restartCycle && path == shownPicturePath_ && canvas().pictureShownOn(window)) {
    slideshowPage_ = true;
    presentCanvas(PageName::Picture);
    return;
  }
  // The picture is looked for before the list changes, so the next one is not decoded while two
  // screenfuls are still held.
  auto outcome = pictures_->find(path);
  if (!outcome) {
    wantPictures(true);
    outcome = pictures_->find(path);
  }
  if (outcome) {
    showPicture(path, *outcome);
    return;
  }
  // Still being decoded: the page appears when its picture does; until then the previous page
  // stays, without a stops strip running over it, and the cleared canvas holds no memory.
  pendingPicture_ = path;
  canvas().giveBackPixels();
  stopsStripOnScreen = false;
  timerStops.setEnabled(false);
}

void Display::showPicture(const std::string& path, const PictureOutcome& outcome) {
  slideshowPage_ = true;  // also when the picture fails and the page is black
  if (outcome.missing) {
    // The path comes from the server: escaped, so it cannot forge or erase log lines, and a
    // password in a picture's URL is not written out.
    logLine("picture " + escapeForLog(maskCredentials(path), 200) + ": " + outcome.reason);
    clearCanvas();
    return;
  }
  if (!outcome.picture) throw RuntimeError(ErrorKind::InvalidPicture, outcome.reason);
  canvas().setPicture(outcome.picture);
  shownPicturePath_.clear();
  presentCanvas(PageName::Picture);
  if (canvas().pictureShownOn(window)) shownPicturePath_ = path;
  wantPictures();
}

void Display::pictureDecoded(const std::string& path) {
  if (pendingPicture_.empty() || pendingPicture_ != path) return;
  pendingPicture_.clear();
  const auto outcome = pictures_->find(path);
  if (!outcome) return;
  trapped("showNextPicture", [&] {
    canvas().removePicture();
    canvas().clear();
    showPicture(path, *outcome);
  });
}

bool Display::slideshowMayShow() const {
  // Every page checks for a train due within the hour before it gives way to the slideshow, and
  // the clock and the trains change only with a load; the rule's own failure leaves the decision
  // to the page.
  try {
    return !trainDueSoon(*this);
  } catch (const RuntimeError&) {
    return true;
  }
}

void Display::wantPictures(bool showingPicture) {
  const auto count = static_cast<std::size_t>(std::max<int>(0, store.pictureCount));
  // While trains are due no page shows a picture: a decoded screenful would only take memory.
  if (count == 0 || store.pictureFiles.empty() || !(showingPicture || slideshowMayShow())) {
    pictures_->want({}, {});
    return;
  }
  const std::size_t n = std::min(count, store.pictureFiles.size());
  const auto index = static_cast<std::size_t>(std::max<int>(0, store.pictureIndex));
  const std::size_t current = index >= n ? 0 : index;
  const std::size_t next = current + 1 >= n ? 0 : current + 1;
  // At most two screenfuls besides the window's own: the picture a page is about to show, alone;
  // or, while the slideshow is on screen, the next one (decoded ahead) and this page's picture
  // where only this list holds it (a load redraws it). A picture the window holds is not kept
  // twice, and none is decoded ahead of a first picture page while another page holds the canvas.
  std::vector<std::string> paths;
  const std::string& now = store.pictureFiles[current];
  if (showingPicture) {
    paths.push_back(now);
  } else if (slideshowOnScreen_) {
    if (shownPicturePath_ != now) paths.push_back(now);
    if (next != current || paths.empty()) paths.push_back(store.pictureFiles[next]);
  }
  pictures_->want(paths, PictureLimits{pbDraw_->pixelWidth(), pbDraw_->pixelHeight()});
}

void Display::trapError(const char* procedure, const RuntimeError& e) {
  logLine(std::string(procedure) + ": " + e.what() + "; the screen is black until the next page");
  if (onTrappedError) onTrappedError(std::string(procedure) + ": " + e.what());
  clearCanvas();
}

std::string Display::timetableUrl() const {
  return serverBaseUrl + "/tabs/plasmatimetable.php?Circuit=" + decimal(displayType);
}

}  // namespace plasma
