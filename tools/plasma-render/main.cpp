// plasma-render: paints one page of a display type from a timetable document into a PNG, or plays
// the whole cycle on a virtual clock. Sites use it to check a document before it goes live, so the
// exit status says whether the document would be shown:
//   0  the page was painted from the accepted document
//   1  the PNG could not be written
//   2  wrong arguments, an unreadable document, or an index the document does not have
//   3  the document is refused (the page renders black; the reason is on stderr)
//   4  the document is accepted but the page fails on it (black; the reason is on stderr)
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "canvas/geometry.h"
#include "cycle/cycle.h"
#include "display/display.h"
#include "platform/event_loop.h"
#include "present/headless_window.h"
#include "platform/image_loader.h"
#include "platform/site_pictures.h"

using namespace plasma;

namespace {

// Serves the same document for every load.
class DocumentHttpClient final : public HttpClient {
 public:
  explicit DocumentHttpClient(std::string body) : body_(std::move(body)) {}
  HttpResponse get(const std::string&) override { return {true, 200, body_, ""}; }

 private:
  std::string body_;
};

bool readDocument(const std::string& path, std::string& out) {
  std::ostringstream os;
  if (path == "-") {
    os << std::cin.rdbuf();
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    os << in.rdbuf();
  }
  out = os.str();
  return true;
}

enum Status { kPainted = 0, kNotWritten = 1, kUsage = 2, kRefused = 3, kPageFailed = 4 };

// An index given for the message or picture page must name one the document has.
bool indexInRange(const char* option, int index, int count, const char* what) {
  if (index < count) return true;
  if (count == 0) {
    std::fprintf(stderr, "plasma-render: %s %d: the document has no %s\n", option, index, what);
  } else {
    std::fprintf(stderr, "plasma-render: %s %d is outside the document's %d %s (0 to %d)\n", option,
                 index, count, what, count - 1);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Paints pages of the Vantrel plasma display from a timetable document.", "plasma-render"};
  int type = 0;
  std::string documentPath, outPath, sizeText = "1920x1080", page = "own", type6Page = "b", framesDir;
  int variant = 1, messageIndex = 0, pictureIndex = 0;
  double simulateSeconds = -1;
  app.add_option("--type", type, "display type 0..6")->required();
  app.add_option("--document", documentPath, "timetable document file, or - for standard input")->required();
  app.add_option("--out", outPath, "PNG file to write (render mode)");
  app.add_option("--size", sizeText, "canvas size WIDTHxHEIGHT")->capture_default_str();
  app.add_option("--page", page, "page to render")->check(CLI::IsMember({"own", "board", "message", "picture"}))
      ->capture_default_str();
  app.add_option("--variant", variant, "layout variant")->check(CLI::Range(1, 4))->capture_default_str();
  app.add_option("--message-index", messageIndex, "message shown by --page message")->check(CLI::Range(0, 32767));
  app.add_option("--picture-index", pictureIndex, "picture shown by --page picture")->check(CLI::Range(0, 32767));
  app.add_option("--type6-page", type6Page, "type 6 page")->check(CLI::IsMember({"a", "b"}))->capture_default_str();
  app.add_option("--simulate", simulateSeconds, "play the cycle for this many simulated seconds")
      ->check(CLI::Range(0.0, 7.0 * 86400));
  app.add_option("--frames", framesDir, "with --simulate: write every presented page here as PNG");
  app.set_version_flag("--version", std::string("plasma-render ") + PLASMA_VERSION);
  CLI11_PARSE(app, argc, argv);

  const std::optional<PixelSize> size = parsePixelSize(sizeText);
  if (!size) {
    std::fprintf(stderr, "plasma-render: --size \"%s\" is not WIDTHxHEIGHT (%d..%d)\n", sizeText.c_str(),
                 kMinCanvasSide, kMaxCanvasSide);
    return kUsage;
  }
  const int width = size->width, height = size->height;
  if (type < -32768 || type > 32767) {
    std::fprintf(stderr, "plasma-render: --type %d is outside the 16-bit range\n", type);
    return kUsage;
  }
  if (simulateSeconds < 0 && outPath.empty()) {
    std::fprintf(stderr, "plasma-render: give --out FILE.png, or --simulate SECONDS\n");
    return kUsage;
  }
  std::string document;
  if (!readDocument(documentPath, document)) {
    std::fprintf(stderr, "plasma-render: cannot read %s\n", documentPath.c_str());
    return kUsage;
  }

  VirtualEventLoop loop;
  HeadlessWindow window(width, height);
  DocumentHttpClient http(document);
  // Pictures are found as the display finds them: mapped server paths, and URLs fetched (at once,
  // here) into a cache of the tool's own.
  CurlClientOptions pictureClient;
  pictureClient.userAgent = std::string("plasma-render/") + PLASMA_VERSION;
  auto images = makeSitePictureLoader(pictureClient, "plasma-render", FetchMode::Inline);
  Display d(window, loop, http, *images, FetchMode::Inline, screenCycle());
  d.serverBaseUrl = "file-document";
  d.loadStep();

  if (simulateSeconds >= 0) {
    if (!framesDir.empty()) {
      if (std::string why; !prepareFrameDir(framesDir, why)) {
        std::fprintf(stderr, "plasma-render: --frames %s: %s\n", framesDir.c_str(), why.c_str());
        return kUsage;
      }
      window.setFrameDir(framesDir);
    }
    d.onPagePresented = [&](PageName p) {
      std::printf("t=%.1f phase=%d page=%s variant=%d\n", loop.nowUs() / 1e6, d.screenPhase, pageNameText(p),
                  d.layoutVariant);
    };
    d.setDisplayType(static_cast<Int16>(type));
    loop.advanceUs(static_cast<std::int64_t>(simulateSeconds * 1e6));
    std::fflush(stdout);
    return d.feed.everLoaded ? kPainted : kRefused;
  }

  // The state of setDisplayType's first step, at the chosen variant; then a load as the timer does.
  d.displayType = static_cast<Int16>(type);
  d.screenPhase = 0;
  d.layoutVariant = static_cast<Int16>(variant);
  d.applyTimetableResponse(d.timetableUrl(), {true, 200, document, ""});
  const bool accepted = d.feed.failuresInARow == 0;
  bool pageFailed = false;
  d.onTrappedError = [&](const std::string&) { pageFailed = true; };
  if (accepted) {
    const bool messageAsked = page == "message" || app.count("--message-index") > 0;
    const bool pictureAsked = page == "picture" || app.count("--picture-index") > 0;
    if ((messageAsked &&
         !indexInRange("--message-index", messageIndex, d.store.messageCount, "messages")) ||
        (pictureAsked &&
         !indexInRange("--picture-index", pictureIndex, d.store.pictureCount, "pictures"))) {
      return kUsage;
    }
    d.messageIndex = static_cast<Int16>(messageIndex);
    d.store.pictureIndex = static_cast<Int16>(pictureIndex);
    d.type6Alternation = type6Page == "a" ? 2 : 1;
    d.wipeEnabled = 0;
    if (page == "own") {
      showNextScreen(d, false);
    } else if (page == "board") {
      d.trapped("drawDepartureBoard", [&] { drawDepartureBoard(d, false); });
    } else if (page == "message") {
      drawMessageScreen(d, false);
    } else {
      d.canvas().removePicture();
      d.canvas().clear();
      d.trapped("showNextPicture", [&] { d.showNextPicture(false); });
    }
  }
  if (!writePngAtomic(window.image(), outPath)) return kNotWritten;
  std::fprintf(stderr, "plasma-render: wrote %s (%s)\n", outPath.c_str(), pageNameText(d.currentPage()));
  if (!accepted) {
    std::fprintf(stderr, "plasma-render: the document is refused (status %d)\n", kRefused);
    return kRefused;
  }
  if (pageFailed) {
    std::fprintf(stderr, "plasma-render: the page failed on this document (status %d)\n", kPageFailed);
    return kPageFailed;
  }
  return kPainted;
}
