#include "support/scene.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "cycle/cycle.h"
#include "pages/next_train.h"

namespace plasma::bench {
namespace {

const std::array<const char*, 8> kFamilyNames{
    "board", "two-row-board", "next-train-list", "next-train-strip",
    "countdown", "message", "notice", "picture"};

// A busy line at 10:00: four trains on every list, two messages, one picture.
std::vector<std::string> baseLines() {
  return {
      "OK", "20", "20", "15", "0", "0", "0", "4", "1",
      "Welcome to the Vantrel Airport Line|Tickets",
      "Trains to both airport terminals every 10 minutes, day and night.|"
      "Buy your ticket before you board: the machines on every platform take cards and coins.",
      "10:05|1", "10:17|2", "10:29|1", "10:41|2",
      "Airport Terminal 1|10:03|1|Morrow Street,Quayside,Fenwick Park,Aldergate,Linden Cross",
      "Vantrel Central|10:13|2|Saltmarsh,Holt Road,Linden Cross,Aldergate,Fenwick Park,Quayside",
      "Airport Terminal 1|10:23|1|Linden Cross,Airport Terminal 2,Airport Terminal 1",
      "Vantrel Central|10:33|2|Linden Cross,Quayside,Cathedral Square,Vantrel Central",
      "Harbour Point|10:07|1|Dockside,Ferry Lane,Brackwater,Old Mill,Sandy Bay,Harbour Point",
      "Kessing Valley|10:22|2|Orchard Hill,Fernley,Kessing Bridge,Upper Kessing,Kessing Valley",
      "Harbour Point|10:37|1|Dockside,Brackwater,Sandy Bay,Harbour Point",
      "Kessing Valley|10:52|2|Fernley,Upper Kessing,Kessing Valley",
      std::string(PLASMA_SOURCE_DIR) + "/resources/pictures/vantrel-welcome.jpg",
      "10:00"};
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::ostringstream os;
  for (const std::string& l : lines) os << l << '\n';
  return os.str();
}

Int16 displayTypeFor(PageFamily family) {
  switch (family) {
    case PageFamily::TwoRowBoard:
    case PageFamily::Countdown: return 0;
    case PageFamily::Notice: return 2;
    default: return 1;
  }
}

// Serves one fixed document.
class FixedHttpClient final : public HttpClient {
 public:
  HttpResponse get(const std::string&) override { return {true, 200, familyDocument(PageFamily::Board), ""}; }
};

}  // namespace

const char* familyName(PageFamily family) { return kFamilyNames[static_cast<std::size_t>(family)]; }

std::optional<PageFamily> familyFromName(std::string_view name) {
  for (PageFamily f : kPageFamilies) {
    if (name == familyName(f)) return f;
  }
  return std::nullopt;
}

std::string sizeName(FrameSize size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::optional<FrameSize> sizeFromName(std::string_view name) {
  int w = 0, h = 0;
  char x = 0, extra = 0;
  const std::string s(name);
  if (std::sscanf(s.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || x != 'x' || w < 16 || h < 16 ||
      w > 16384 || h > 16384) {
    return std::nullopt;
  }
  return FrameSize{w, h};
}

std::string familyDocument(PageFamily family) {
  std::vector<std::string> l = baseLines();
  switch (family) {
    case PageFamily::NextTrainStrip:
      l[15] = "Airport Terminal 1|10:03|1|Morrow Street,Quayside,Fenwick Park,Aldergate,Linden Cross,"
              "Holt Road,Saltmarsh,Cargo Terminal,Airport Terminal 2,Airport Terminal 1,Cathedral Square,"
              "Harbour Market,Ferry Lane,Old Mill";
      break;
    case PageFamily::Notice:
      // Display type 2 serves platform 1; with every main train on platform 2 it shows the notice.
      l[15] = "Airport Terminal 1|10:03|2|Morrow Street,Quayside";
      l[17] = "Airport Terminal 1|10:23|2|Linden Cross,Airport Terminal 1";
      break;
    case PageFamily::Picture:
      // Nothing due within the hour: the slideshow.
      for (int i = 11; i <= 22; ++i) l[static_cast<std::size_t>(i)] = i <= 14 ? "|" : "|||";
      break;
    default:
      break;
  }
  return joinLines(l);
}

// The Display's window. Painting is timed without the copy onto the window (present() times that),
// so copies are dropped until forwarding is switched on for the scroller.
class Scene::PaintWindow final : public Window {
 public:
  explicit PaintWindow(HeadlessWindow& target) : target_(target) {}
  void forward(bool on) { forward_ = on; }
  int clientWidth() const override { return target_.clientWidth(); }
  int clientHeight() const override { return target_.clientHeight(); }
  void setRetained(bool on) override { target_.setRetained(on); }
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx, int dy) override {
    if (forward_) target_.copyFrom(source, sx, sy, width, height, dx, dy);
  }
  void refresh() override {
    if (forward_) target_.refresh();
  }
  cairo_surface_t* image() const override { return target_.image(); }

 private:
  HeadlessWindow& target_;
  bool forward_ = false;
};

Scene::Scene(FrameSize size)
    : window_(size.width, size.height),
      paintWindow_(std::make_unique<PaintWindow>(window_)),
      http_(std::make_unique<FixedHttpClient>()),
      images_(makePictureFileLoader()),
      display_(std::make_unique<Display>(*paintWindow_, loop_, *http_, *images_, FetchMode::Inline, screenCycle())) {
  Display& d = *display_;
  d.serverBaseUrl = "http://timetable.bench";
  d.loadStep();
  // Nothing may run on its own between the timed calls.
  d.timerDatabase.setEnabled(false);
  d.timerDisplay.setEnabled(false);
  d.timerStops.setEnabled(false);
  loadUrl_ = d.timetableUrl();
  loadResponse_ = {true, 200, familyDocument(PageFamily::Board), ""};
}

Scene::~Scene() = default;

void Scene::prepare(PageFamily family) {
  family_ = family;
  Display& d = *display_;
  d.displayType = displayTypeFor(family);
  d.screenPhase = 0;
  // tickCount 0 on its own page: the load below repaints nothing, so a fresh process has still
  // drawn no text when its first page is timed.
  d.tickCount = 0;
  d.layoutVariant = 1;
  d.messageIndex = 0;
  d.type6Alternation = 1;
  d.applyTimetableResponse(loadUrl_, {true, 200, familyDocument(family), ""});
  d.wipeEnabled = 0;
  d.timerStops.setEnabled(false);
  paintWindow_->forward(false);
}

void Scene::paint() {
  Display& d = *display_;
  switch (family_) {
    case PageFamily::Board:
    case PageFamily::TwoRowBoard: drawDepartureBoard(d, false); break;
    case PageFamily::Message: drawMessageScreen(d, false); break;
    default: showNextScreen(d, false); break;
  }
  d.timerStops.setEnabled(false);
}

void Scene::present(int wipeSteps) {
  plasma::presentCanvas(display_->pbDraw(), window_, wipeSteps > 1 ? 1 : 0, wipeSteps);
}

void Scene::startScrolling() {
  prepare(PageFamily::NextTrainStrip);
  paint();
  paintWindow_->forward(true);
  display_->scrollDelay = 1;
  scrollStopsStrip(*display_, {});
}

void Scene::scrollStep() {
  if (!loop_.animating()) scrollStopsStrip(*display_, {});
  loop_.advanceUs(EventLoop::kFramePeriodUs);
}

int Scene::scrollAreaPixels() {
  const Grid g = pageGrid(display_->canvas());
  return static_cast<int>(std::lround(kStopsAreaWidth * g.unitX) *
                          std::lround(kStopsAreaHeight * g.unitY));
}

void Scene::loadDocument() {
  Display& d = *display_;
  d.displayType = 1;
  d.screenPhase = 0;
  d.applyTimetableResponse(loadUrl_, loadResponse_);
}

}  // namespace plasma::bench
