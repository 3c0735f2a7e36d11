// Long runs on the virtual clock: a display of each type against a server that answers every
// load at random with a good document (the sample timetable at the moving clock, any scenario), a
// broken one or a failure. The cycle must never stall, pages must keep coming, and memory must
// stay flat once the caches are warm. PLASMA_SOAK_HOURS sets the simulated hours (default 2; the
// ctest test "soak-24h" runs 24).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "feed/sample_timetable.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;  // its quarantine holds freed memory: RSS is not ours
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

int soakHours() {
  const char* v = std::getenv("PLASMA_SOAK_HOURS");
  const int h = v ? std::atoi(v) : 0;
  return h > 0 ? h : 2;
}

// Breaks a good document so that the parser must refuse it.
std::string broken(const std::string& doc, std::mt19937& random) {
  std::vector<std::string> lines = split(doc, '\n');
  lines.pop_back();  // the empty part after the final line feed
  auto joined = [&lines](const char* end = "\n") {
    std::string out;
    for (const std::string& l : lines) out += l + end;
    return out;
  };
  switch (random() % 8) {
    case 0: lines[0] = "ok"; return joined();
    case 1: return joined("\r\n");
    case 2: lines.erase(lines.begin() + 1 + random() % 24); return joined();
    case 3: lines[1 + random() % 8] = "2x"; return joined();
    case 4: lines[1 + random() % 8] = "40000"; return joined();
    case 5: lines[15] = "Airport Terminal 1|7:40|1"; return joined();
    case 6: lines[24] = "731"; return joined();
    default: return doc.substr(0, random() % (doc.size() - lines.back().size() - 1));
  }
}

// Each load, at random: a good document (60 %), a broken one (20 %) or a failed transfer (20 %).
class RandomServer final : public HttpClient {
 public:
  RandomServer(EventLoop& loop, int circuit, std::uint32_t seed)
      : loop_(loop), circuit_(circuit), random_(seed) {
    options_.pictures = {test::resourcePath("pictures/vantrel-small.png"), "/nonexistent/picture.jpg"};
  }

  HttpResponse get(const std::string&) override {
    // The server's clock runs with the display's: a day of timetables, midnight included.
    const int clock = kStartClock + static_cast<int>(loop_.nowUs() / 60000000);
    constexpr sample::Scenario kScenarios[] = {sample::Scenario::Normal, sample::Scenario::Quiet,
                                               sample::Scenario::Midnight, sample::Scenario::Flaky};
    options_.scenario = kScenarios[random_() % 4];
    const std::string doc = sample::timetableDocument(circuit_, clock, options_);
    const unsigned roll = random_() % 10;
    if (roll < 6) {
      ++good;
      return {true, 200, doc, ""};
    }
    if (roll < 8) {
      ++brokenDocuments;
      std::string bad = broken(doc, random_);
      try {
        (void)parseTimetable(decodeDocumentText(bad));
        ADD_FAILURE() << "a broken document parsed:\n" << bad;
      } catch (const RuntimeError&) {
      }
      return {true, 200, bad, ""};
    }
    ++failedTransfers;
    return {false, 0, "", roll == 8 ? "Operation timed out after 10000 milliseconds" : "HTTP 500"};
  }

  long good = 0;
  long brokenDocuments = 0;
  long failedTransfers = 0;

 private:
  static constexpr int kStartClock = 5 * 60;
  EventLoop& loop_;
  int circuit_;
  std::mt19937 random_;
  sample::DocumentOptions options_;
};

Int16 phaseSeconds(const Display& d) {
  switch (d.screenPhase) {
    case 0: return d.mainPageSeconds;
    case 1: return d.boardSeconds;
    default: return d.messageSeconds;
  }
}

class Soak : public testing::TestWithParam<int> {};

TEST_P(Soak, TheCycleNeverStallsAndMemoryStaysFlat) {
  const Int16 type = static_cast<Int16>(GetParam());
  const int hours = soakHours();
  VirtualEventLoop loop;
  HeadlessWindow window(340, 200);
  RandomServer server(loop, type, 1000u + static_cast<std::uint32_t>(type));
  const auto images = makePictureFileLoader();
  Display d(window, loop, server, *images, FetchMode::Inline, screenCycle());
  d.serverBaseUrl = "http://timetable.test";
  long presented = 0;
  std::int64_t lastPresentedUs = 0;
  d.onPagePresented = [&](PageName) {
    ++presented;
    lastPresentedUs = loop.nowUs();
  };
  long trapped = 0;
  d.onTrappedError = [&](const std::string&) { ++trapped; };
  d.loadStep();
  testing::internal::CaptureStderr();  // thousands of failed loads, each with its log line
  d.setDisplayType(type);

  const long startKiB = residentKiB();
  long warmKiB = 0, peakKiB = startKiB;
  const long seconds = hours * 3600L;
  long worstOverrun = 0;
  std::int64_t worstPresentGapUs = 0;
  for (long s = 1; s <= seconds; ++s) {
    loop.advanceMs(1000);
    // A page lasts its phase's time: a tick that fails to change the page would let the count run
    // on past it (the page a type-6 display skips lends its time to the board, within the same
    // settings).
    const long over = long{d.tickCount} - std::max<Int16>(phaseSeconds(d), 1);
    worstOverrun = std::max(worstOverrun, over);
    const std::int64_t gap = loop.nowUs() - lastPresentedUs;
    worstPresentGapUs = std::max(worstPresentGapUs, gap);
    if (over > 0 || gap > (std::max<Int16>(phaseSeconds(d), 1) + 2) * 1000000LL) {
      ADD_FAILURE() << "stalled at " << s << " s: phase " << d.screenPhase << ", tick " << d.tickCount
                    << " of " << phaseSeconds(d) << ", last page " << gap / 1000000 << " s ago";
      break;
    }
    if (s % 600 == 0) {
      const long kib = residentKiB();
      peakKiB = std::max(peakKiB, kib);
      if (s == std::min(3600L, seconds / 2)) warmKiB = kib;
    }
  }
  const std::string log = testing::internal::GetCapturedStderr();
  const long finalKiB = residentKiB();
  peakKiB = std::max(peakKiB, finalKiB);

  const long loads = d.feed.loads;
  std::printf("  type %d: %d simulated hours, %ld loads (%ld good, %ld broken, %ld failed), %ld pages,"
              " %ld page errors; RSS start %ld KiB, warm %ld KiB, peak %ld KiB, final %ld KiB\n",
              type, hours, loads, server.good, server.brokenDocuments, server.failedTransfers, presented,
              trapped, startKiB, warmKiB, peakKiB, finalKiB);

  EXPECT_GE(loads, seconds / 30 - 1);
  EXPECT_EQ(d.feed.failures, server.brokenDocuments + server.failedTransfers);
  EXPECT_LE(worstOverrun, 0);
  EXPECT_GE(presented, seconds / 60);
  // Every refused document and failed transfer left its line.
  long failedLines = 0;
  for (const std::string& line : split(log, '\n')) {
    if (line.rfind("plasma-display: timetable http://timetable.test/", 0) == 0 &&
        line.find(" failed: ") != std::string::npos) {
      ++failedLines;
    }
  }
  EXPECT_EQ(failedLines, d.feed.failures);
  // Memory: what one more warm hour adds stays within a few pages of cache churn.
  if (!kUnderAddressSanitizer) {
    EXPECT_LE(finalKiB - warmKiB, 4096) << "resident memory grew";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryDisplayType, Soak, testing::Range(0, 7),
                         [](const testing::TestParamInfo<int>& info) {
                           return "Type" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace plasma
