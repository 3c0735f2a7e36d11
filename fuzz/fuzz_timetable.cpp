// Arbitrary bytes as a timetable server's answer. They are decoded and parsed as the feed does;
// a document that parses is applied to a small headless display, which then paints every page
// of every display type in every layout variant, runs the cycle and the stops scroller for a few
// seconds of its virtual clock, and takes the document again while each phase is on screen.
// Whatever the bytes, nothing may crash, read or write out of bounds, leak or hang, and no page of
// an accepted document may read past the end of a train list.
// Half of the mutations are structural (document_mutator.h): they edit fields where byte flips
// would need luck to make a time land on 9999 with the clock an hour before it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "document_mutator.h"

#include "display/display.h"
#include "cycle/cycle.h"
#include "platform/event_loop.h"
#include "present/headless_window.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"

namespace {

using namespace plasma;

// Picture paths come from the fuzzed document, so none may reach the file system: a path such as
// /dev/zero, a FIFO or a huge file must not be opened millions of times by the fuzzer. Every
// picture is missing, which is the slideshow's black screen. (The real loader's refusals of
// such paths have their own tests.)
class NoPictureFiles final : public ImageLoader {
 public:
  std::string version(const std::string&) override { return {}; }
  PictureOutcome read(const std::string&, PictureLimits, const std::atomic<bool>&) override {
    return {nullptr, true, "not found"};
  }
};

// The timetable timer stays off; a load started anyway fails without touching the network.
class NoNetwork final : public HttpClient {
 public:
  HttpResponse get(const std::string&) override { return {false, 0, "", "no network while fuzzing"}; }
};

constexpr int kWidth = 340;  // a small canvas keeps each page cheap; 1.25 px per grid step
constexpr int kHeight = 200;
constexpr const char* kUrl = "http://fuzz.invalid/tabs/plasmatimetable.php?Circuit=0";
// Display types 0 to 6 and one outside the range, whose own page is never painted.
constexpr Int16 kDisplayTypes[] = {0, 1, 2, 3, 4, 5, 6, 7};

struct Harness {
  VirtualEventLoop loop;
  HeadlessWindow window{kWidth, kHeight};
  NoNetwork http;
  NoPictureFiles images;
  Display d{window, loop, http, images, FetchMode::Inline, screenCycle()};

  Harness() {
    d.serverBaseUrl = "http://fuzz.invalid";
    d.loadStep();
    d.onTrappedError = [](const std::string& what) { checkTrappedError(what); };
  }

  // Every page tests a list's count before it reads a train from it, so a train list read past
  // its end is a fault of the page, not of the document: stop the fuzzer on it. (Other trapped
  // errors, such as a time without ":", are the document's and black the page as they should.)
  static void checkTrappedError(const std::string& what) {
    for (const char* list : {"mainDepartures", "otherDepartures", "domesticDepartures"}) {
      if (what.find(std::string(list) + " has no slot") != std::string::npos) {
        std::fprintf(stderr, "a page read past the end of a train list: %s\n", what.c_str());
        std::abort();
      }
    }
  }

  // Back to a fresh display between inputs, so each input runs the same way on its own.
  void reset() {
    d.timerDatabase.setEnabled(false);
    d.timerDisplay.setEnabled(false);
    d.timerStops.setEnabled(false);
    // A scroll run left by the last input ends at its next frame, with every timer off.
    loop.startAnimation([] { return false; });
    loop.advanceUs(EventLoop::kFramePeriodUs);
    window.resetLog();
    d.displayType = 0;
    d.screenPhase = 0;
    d.tickCount = 0;
    d.layoutVariant = 1;
    d.wipeEnabled = 1;
    d.stopsTickCount = 0;
    d.stopsStripOnScreen = false;
    d.countdownSchemeSeen = 0;
    d.loadStep();  // wipeSteps 1, type6Alternation 1, messageIndex 0
    d.store = TimetableStore{};
    d.feed = FeedStatus{};
    d.canvas().removePicture();
    d.canvas().clear();
  }

  // The document arrives while the display shows `phase`, as a timer load would find it.
  void applyIn(Int16 phase, const HttpResponse& response) {
    d.screenPhase = phase;
    d.tickCount = 1;
    d.applyTimetableResponse(kUrl, response);
  }

  void paintEverything() {
    for (const Int16 type : kDisplayTypes) {
      d.displayType = type;
      for (Int16 variant = 1; variant <= 4; ++variant) {
        for (const Int16 alternation : {1, 2}) {
          d.layoutVariant = variant;
          d.type6Alternation = alternation;
          showNextScreen(d, true);
        }
        // The board advances the variant before it paints: start one below.
        d.layoutVariant = variant == 1 ? 4 : static_cast<Int16>(variant - 1);
        d.trapped("drawDepartureBoard", [this] { drawDepartureBoard(d, true); });
        d.layoutVariant = variant;
        for (const Int16 message : {0, 1, 2, 40}) {
          d.messageIndex = message;
          drawMessageScreen(d, false);
        }
        drawMessageScreen(d, true);
      }
      runCycle();
    }
  }

  // The own page again, then a few seconds of the cycle: the stops timer scrolls and repaints a
  // long list, and the display tick changes pages as the document's durations say.
  void runCycle() {
    d.layoutVariant = 1;
    d.type6Alternation = 1;
    d.stopsTickCount = 0;
    showNextScreen(d, true);
    d.timerDisplay.setEnabled(true);
    loop.advanceMs(5000);
    d.timerDisplay.setEnabled(false);
    d.timerStops.setEnabled(false);
  }
};

}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
  std::minstd_rand random(seed);
  if (random() % 2 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  const std::string before(reinterpret_cast<const char*>(data), size);
  const std::string after = plasma::fuzz::mutateDocument(before, random);
  if (after == before || after.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, after.data(), after.size());
  return after.size();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness* harness = new Harness;  // made once: the logos and fonts load only once
  const std::string body(reinterpret_cast<const char*>(data), size);
  try {
    (void)parseTimetable(decodeDocumentText(body));
  } catch (const RuntimeError&) {
    return 0;  // refused: the feed's tests look at the reasons
  }
  Harness& h = *harness;
  h.reset();
  const HttpResponse response{true, 200, body, ""};
  h.applyIn(0, response);
  h.paintEverything();
  h.applyIn(1, response);
  h.applyIn(2, response);
  return 0;
}
