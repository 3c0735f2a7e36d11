// The real display's slideshow with its pictures where a site keeps them, against the real
// timetable-sim: pictures over HTTP that keep showing once the server has stopped, and pictures
// named as a Windows timetable server names them, found through PLASMA_PICTURE_PATHS.
#include <gtest/gtest.h>
#include <signal.h>

#include <set>

#include "canvas/colour.h"
#include "e2e_support.h"
#include "test_support/rig.h"

namespace plasma::e2e {
namespace {

constexpr int kWidth = 640, kHeight = 360;

Environment slideshowEnvironment(const fs::path& tmp, const std::string& instance) {
  Environment env = cleanEnvironment();
  env["PLASMA_HEADLESS"] = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  env["PLASMA_INSTANCE"] = instance;
  env["XDG_RUNTIME_DIR"] = (tmp / "run").string();
  env["XDG_CACHE_HOME"] = (tmp / "cache").string();
  env["PLASMA_FRAME_DIR"] = (tmp / "frames").string();
  fs::create_directories(tmp / "run");
  return env;
}

// Watches the status file: each new picture page, with the colour of the frame it was written as
// at a point well inside the picture (the sample pictures are not black there).
class PicturePages {
 public:
  PicturePages(fs::path tmp, std::string instance) : tmp_(std::move(tmp)), instance_(std::move(instance)) {}
  // Polls once; true when a new picture page was seen.
  bool poll() {
    const std::string status = readText(tmp_ / "run" / "plasma-display" / ("status-" + instance_ + ".json"));
    const int frames = frameCount(tmp_ / "frames");
    if (jsonField(status, "page") != "picture" || frames == lastFrames_ || frames == 0) return false;
    lastFrames_ = frames;
    cairo_surface_t* s = loadPng(framePath(tmp_ / "frames", frames - 1));
    if (!s) return false;
    shown.push_back(test::pixel(s, kWidth / 8, kHeight / 8));
    cairo_surface_destroy(s);
    return true;
  }
  std::vector<Colour> shown;

 private:
  fs::path tmp_;
  std::string instance_;
  int lastFrames_ = 0;
};

std::string display() { return (binDir() / "plasma-display").string(); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Slideshow, PicturesOverHttpKeepShowingOnceTheServerHasStopped) {
  TempFolder tmp;
  auto sim = std::make_unique<Sim>(tmp.path / "sim", 0,
                                   std::vector<std::string>{"--scenario", "quiet", "--picture-style", "urls",
                                                            "--page-seconds", "2"});
  ASSERT_FALSE(sim->url.empty()) << sim->child.err();
  Child shows({display(), "3", "0", sim->url}, slideshowEnvironment(tmp.path, "e2e-pictures"), tmp.path / "display");
  const fs::path cache = tmp.path / "cache" / "plasma-display" / "pictures-e2e-pictures";
  // The four sample pictures are fetched ahead after the first load: a copy and a description each.
  ASSERT_TRUE(eventually(
      [&] {
        std::error_code ec;
        return std::distance(fs::directory_iterator(cache, ec), fs::directory_iterator()) == 8;
      },
      milliseconds(15000)))
      << shows.err();
  EXPECT_TRUE(contains(sim->child.out(), "GET \"/pictures/vantrel-night.jpg\" 200 [plasma-display/"))
      << sim->child.out();

  // The first picture page may have come before its picture (a black page and a line); none after.
  const std::size_t logged = shows.err().size();
  sim->child.signal(SIGTERM);
  EXPECT_EQ(sim->child.wait(milliseconds(5000)), 0);
  sim.reset();
  PicturePages pages(tmp.path, "e2e-pictures");
  pages.poll();  // a page already on screen does not count
  pages.shown.clear();
  ASSERT_TRUE(eventually([&] { return pages.poll() && pages.shown.size() >= 2; }, milliseconds(20000), milliseconds(100)))
      << shows.err();
  for (const Colour c : pages.shown) EXPECT_NE(c, colours::kBlack);
  EXPECT_FALSE(contains(shows.err().substr(logged), "picture ")) << shows.err();
  shows.signal(SIGTERM);
  EXPECT_EQ(shows.wait(milliseconds(5000)), 0);
}

TEST(Slideshow, PicturesNamedAsAWindowsServerNamesThemAreFoundThroughTheMapping) {
  TempFolder tmp;
  Sim sim(tmp.path / "sim", 0, {"--scenario", "quiet", "--picture-style", "windows", "--page-seconds", "2"});
  ASSERT_FALSE(sim.url.empty()) << sim.child.err();
  // The mapping the server prints for its pictures.
  const std::string out = sim.child.out();
  const std::size_t at = out.find("PLASMA_PICTURE_PATHS='");
  ASSERT_NE(at, std::string::npos) << out;
  const std::size_t start = at + std::string("PLASMA_PICTURE_PATHS='").size();
  const std::string mapping = out.substr(start, out.find('\'', start) - start);
  EXPECT_TRUE(contains(mapping, "//plasmasim/pictures=")) << mapping;

  Environment env = slideshowEnvironment(tmp.path, "e2e-windows");
  env["PLASMA_PICTURE_PATHS"] = mapping;
  Child shows({display(), "3", "0", sim.url}, env, tmp.path / "display");
  PicturePages pages(tmp.path, "e2e-windows");
  // Every picture, UNC and drive letter in turn (the drive's names in capitals), shows.
  ASSERT_TRUE(eventually([&] { return pages.poll() && pages.shown.size() >= 2; }, milliseconds(20000), milliseconds(100)))
      << shows.err();
  for (const Colour c : pages.shown) EXPECT_NE(c, colours::kBlack);
  EXPECT_FALSE(contains(shows.err(), "picture ")) << shows.err();
  shows.signal(SIGTERM);
  EXPECT_EQ(shows.wait(milliseconds(5000)), 0);
}

}  // namespace
}  // namespace plasma::e2e
