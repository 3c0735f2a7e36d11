// Picture paths from the timetable are trusted with nothing: a FIFO, a device, a folder or a huge
// file named in a document is never opened for reading, the slideshow shows a black page and says
// why, and the next real picture is shown as usual.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "feed/timetable.h"
#include "live_display.h"
#include "test_support/picture_files.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

namespace fs = std::filesystem;

// A path that blocks a reader for ever must not block this test for ever: fail loudly instead.
struct HangGuard {
  explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
  ~HangGuard() { ::alarm(0); }
};

struct PictureFolder {
  PictureFolder() : dir(fs::temp_directory_path() / ("plasma-pictures-" + std::to_string(::getpid()))) {
    fs::create_directories(dir / "folder.jpg");
    ::mkfifo((dir / "fifo.jpg").c_str(), 0600);
    fs::create_symlink("/dev/zero", dir / "zero-link.jpg");
    // Sparse: 65 MiB on paper, nothing on disk.
    { std::ofstream(dir / "huge.jpg"); }
    fs::resize_file(dir / "huge.jpg", kMaxPictureFileBytes + 1024 * 1024);
    fs::copy_file(test::resourcePath("pictures/vantrel-small.png"), dir / "real.png");
  }
  ~PictureFolder() { fs::remove_all(dir); }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  fs::path dir;
};

struct BadPath {
  const char* name;
  std::string path;
  const char* logged;  // the reason on stderr
};

TEST(HostilePictures, AreNeitherOpenedNorShownAndTheSlideshowGoesOn) {
  HangGuard guard(30);
  PictureFolder f;
  const BadPath bad[] = {
      {"a FIFO", f.path("fifo.jpg"), "not a regular file"},
      {"/dev/zero", "/dev/zero", "not a regular file"},
      {"a link to /dev/zero", f.path("zero-link.jpg"), "not a regular file"},
      {"a folder", f.path("folder.jpg"), "not a regular file"},
      {"a 65 MiB file", f.path("huge.jpg"), "larger than 64 MiB"},
      {"a missing file", f.path("missing.jpg"), "not found"},
  };
  // The list as a document names it; the slideshow starts at index 1 and each page change moves
  // on by one, so every bad path comes between two showings of the real picture.
  std::string line = f.path("real.png");
  for (const BadPath& b : bad) line += "|" + b.path + "|" + f.path("real.png");

  test::Rig rig(340, 200);
  rig.d().timerDatabase.setEnabled(false);
  rig.d().displayType = 1;
  rig.apply(test::document({{15, "|||"}, {23, line}}));  // no train due: the slideshow runs
  rig.d().store.pictureIndex = 0;

  for (const BadPath& b : bad) {
    SCOPED_TRACE(b.name);
    testing::internal::CaptureStderr();
    showNextScreen(rig.d(), true);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rig.d().currentPage(), PageName::Black);
    EXPECT_EQ(test::pixel(rig.window.image(), 170, 100), colours::kBlack);
    const std::size_t at = log.find("picture " + b.path + ": ");
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find(b.logged, at), std::string::npos) << log;

    showNextScreen(rig.d(), true);
    EXPECT_EQ(rig.d().currentPage(), PageName::Picture);
  }
}

// The path can turn into something else between the file test and the load: the load itself
// opens without blocking and checks again what it opened.
TEST(HostilePictures, TheLoaderRefusesWhatIsNoRegularFileEvenWithoutTheFileTest) {
  HangGuard guard(30);
  PictureFolder f;
  const auto loader = makePictureFileLoader();
  const std::atomic<bool> keepGoing{false};
  for (const std::string& path : {f.path("fifo.jpg"), std::string("/dev/zero"), f.path("zero-link.jpg"),
                                  f.path("folder.jpg"), f.path("huge.jpg")}) {
    SCOPED_TRACE(path);
    const PictureOutcome o = loader->read(path, {}, keepGoing);
    EXPECT_FALSE(o.picture);
    EXPECT_TRUE(o.missing) << o.reason;
  }
  EXPECT_EQ(loader->read(f.path("real.png"), {}, keepGoing).picture->width(), 640);
}

// A picture list as the display meets it: a good picture, one with a damaged chunk length, a GIF
// whose frame exceeds its screen. The damaged ones give the black page and one line naming the
// file and the reason; the slideshow goes on.
TEST(HostilePictures, DamagedPicturesGiveTheBlackPageAndOneLineNamingFileAndReason) {
  HangGuard guard(30);
  PictureFolder f;
  const auto red = [](int, int) { return test::Rgba{255, 0, 0, 255}; };
  test::Bytes png = test::pngFile(64, 32, test::PngKind::Rgb, false, red);
  png[test::pngIdatOffset(png) + 3] ^= 0x10;
  test::writeFile(f.path("chunk.png"), png);
  test::Bytes gif = test::gifFile(10, 10, {0, 0, 1, 1, false}, {{1, 2, 3, 255}}, -1, [](int, int) { return 0; });
  gif[6 + 7 + 3 * 256 + 5] = 0xFF;  // the frame 255 pixels wide
  test::writeFile(f.path("frame.gif"), gif);

  test::Rig rig(340, 200);
  rig.d().timerDatabase.setEnabled(false);
  rig.d().displayType = 1;
  rig.apply(test::document({{15, "|||"}, {23, f.path("real.png") + "|" + f.path("chunk.png") + "|" +
                                                f.path("real.png") + "|" + f.path("frame.gif")}}));
  rig.d().store.pictureIndex = 0;
  for (const char* bad : {"chunk.png", "frame.gif"}) {
    SCOPED_TRACE(bad);
    testing::internal::CaptureStderr();
    showNextScreen(rig.d(), true);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rig.d().currentPage(), PageName::Black);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find(f.path(bad) + ": "), std::string::npos) << log;
    EXPECT_NE(log.find(std::string(bad).ends_with("png") ? "PNG" : "outside its 10 x 10 screen"), std::string::npos) << log;
    showNextScreen(rig.d(), true);
    EXPECT_EQ(rig.d().currentPage(), PageName::Picture);
  }
}

// A loader that holds every read until the test lets it go, and notes the thread each ran on.
class HeldLoader final : public ImageLoader {
 public:
  std::string version(const std::string&) override { return "1"; }
  PictureOutcome read(const std::string& path, PictureLimits, const std::atomic<bool>& cancel) override {
    std::unique_lock<std::mutex> lock(mutex_);
    threads.push_back(std::this_thread::get_id());
    cv_.wait(lock, [&] { return released_ || cancel; });
    if (path.find("broken") != std::string::npos) return {nullptr, false, path + ": PNG: invalid chunk length"};
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 20, 10);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return {std::make_shared<Picture>(s), false, {}};
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  std::vector<std::thread::id> threads;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
};

bool waitFor(test::Rig& rig, const std::function<bool()>& done) {
  for (int i = 0; i < 2000; ++i) {
    rig.loop.settle();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST(PicturesAhead, AreDecodedOffTheWindowThreadAndShownWhenReadyOrBlackWhenBroken) {
  auto owned = std::make_unique<HeldLoader>();
  HeldLoader& loader = *owned;
  test::Rig rig(340, 200, std::move(owned), FetchMode::WorkerThread);
  Display& d = rig.d();
  d.timerDatabase.setEnabled(false);
  d.displayType = 1;
  rig.apply(test::document({{15, "|||"}, {23, "a.png|b.png|broken.png"}}));
  d.store.pictureIndex = 0;

  // The first picture page finds nothing decoded: the window keeps its page until the picture is.
  showNextScreen(d, true);
  EXPECT_TRUE(d.picturePending());
  EXPECT_TRUE(rig.pages.empty());
  loader.release();
  ASSERT_TRUE(waitFor(rig, [&] { return !rig.pages.empty(); }));
  EXPECT_EQ(rig.pages.back(), "picture");
  EXPECT_EQ(test::pixel(rig.window.image(), 5, 5), (Colour{255, 0, 0}));

  // Its successor was decoded ahead, so the next page change shows it at once: a failed decode
  // is the black page and one log line naming the file and the reason.
  ASSERT_TRUE(waitFor(rig, [&] { return d.pictureWorker().find("broken.png").has_value(); }));
  testing::internal::CaptureStderr();
  showNextScreen(d, true);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(d.picturePending());
  EXPECT_EQ(rig.pages.back(), "black");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find("broken.png: PNG: invalid chunk length"), std::string::npos) << log;

  ASSERT_TRUE(waitFor(rig, [&] { return d.pictureWorker().find("a.png").has_value(); }));
  showNextScreen(d, true);
  EXPECT_EQ(rig.pages.back(), "picture");
  for (std::thread::id t : loader.threads) EXPECT_NE(t, std::this_thread::get_id());
}

// Screen-sized pictures of one colour each, counted as they are read.
class ColourLoader final : public ImageLoader {
 public:
  std::string version(const std::string&) override { return "1"; }
  PictureOutcome read(const std::string& path, PictureLimits keep, const std::atomic<bool>&) override {
    reads.push_back(path);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, keep.width, keep.height);
    cairo_t* cr = cairo_create(s);
    const Colour c = colourOf(path);
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return {std::make_shared<Picture>(s), false, {}};
  }
  static Colour colourOf(const std::string& path) {
    return path == "a.jpg" ? Colour{255, 0, 0} : path == "b.jpg" ? Colour{0, 255, 0} : Colour{0, 0, 255};
  }
  std::vector<std::string> reads;
};

TEST(PicturesAhead, TheSlideshowHoldsOnlyTheNextPictureAndARedrawAfterALoadDecodesNothing) {
  auto owned = std::make_unique<ColourLoader>();
  ColourLoader& loader = *owned;
  test::Rig rig(320, 180, std::move(owned), FetchMode::Inline);
  Display& d = rig.d();
  d.timerDatabase.setEnabled(false);
  d.displayType = 0;  // its own page is drawn again after a load, a second into the page
  const std::string quiet = test::document({{15, "|||"}, {23, "a.jpg|b.jpg|c.jpg"}});
  rig.apply(quiet);
  d.store.pictureIndex = 2;  // the next page change shows a.jpg

  for (const std::string shown : {"a.jpg", "b.jpg", "c.jpg", "a.jpg"}) {
    SCOPED_TRACE(shown);
    showNextScreen(d, true);
    EXPECT_EQ(rig.pages.back(), "picture");
    EXPECT_EQ(test::pixel(rig.window.image(), 5, 5), ColourLoader::colourOf(shown));
    // The window holds the picture on screen; only the next one is kept besides it.
    EXPECT_FALSE(d.pictureWorker().find(shown).has_value());
    const std::string next = shown == "a.jpg" ? "b.jpg" : shown == "b.jpg" ? "c.jpg" : "a.jpg";
    EXPECT_TRUE(d.pictureWorker().find(next).has_value());
  }
  // A load redraws the page: the same picture stays, read neither again nor afresh.
  const std::size_t reads = loader.reads.size(), pages = rig.pages.size();
  rig.apply(quiet);
  d.wantPictures();
  d.tickCount = 1;
  redrawWithNewData(d);
  ASSERT_EQ(rig.pages.size(), pages + 1);
  EXPECT_EQ(rig.pages.back(), "picture");
  EXPECT_EQ(test::pixel(rig.window.image(), 5, 5), ColourLoader::colourOf("a.jpg"));
  EXPECT_EQ(loader.reads.size(), reads);
  // A failed load blacks nothing out over the picture: the error page shows it still.
  d.clearCanvas();
  EXPECT_EQ(rig.pages.back(), "picture");
  EXPECT_EQ(test::pixel(rig.window.image(), 5, 5), ColourLoader::colourOf("a.jpg"));

  // Trains due: no page can show a picture, so none is kept.
  rig.apply(test::document({{23, "a.jpg|b.jpg|c.jpg"}}));
  d.wantPictures();
  EXPECT_FALSE(d.pictureWorker().find("b.jpg").has_value());
}

TEST(PicturesAhead, APageChangeWhileAPictureIsPendingWinsOverIt) {
  auto owned = std::make_unique<HeldLoader>();
  HeldLoader& loader = *owned;
  test::Rig rig(340, 200, std::move(owned), FetchMode::WorkerThread);
  Display& d = rig.d();
  d.timerDatabase.setEnabled(false);
  d.displayType = 1;
  rig.apply(test::document({{15, "|||"}, {23, "a.png|b.png"}}));
  showNextScreen(d, true);
  ASSERT_TRUE(d.picturePending());
  drawMessageScreen(d, true);  // no train due: the other picture, also pending
  d.setBoardColours();
  d.canvas().clear();
  d.presentCanvas(PageName::Board);  // a page shown meanwhile
  EXPECT_FALSE(d.picturePending());
  loader.release();
  waitFor(rig, [&] { return d.pictureWorker().find("a.png").has_value() && d.pictureWorker().find("b.png").has_value(); });
  rig.loop.settle();
  EXPECT_EQ(rig.pages.back(), "board");
}

// The real display on the wall clock, its slideshow made of the slowest pictures it accepts (an
// interlaced PNG of 32 million pixels takes over a second to decode): the tick never waits for a
// decode, and the pictures are shown.
TEST(PicturesAhead, TheTickKeepsItsSecondWhileTheSlowestPicturesAreDecoded) {
  HangGuard guard(60);
  PictureFolder f;
  const auto stripes = [](int x, int y) { return test::Rgba{static_cast<unsigned char>((x / 16 + y / 16) % 2 ? 255 : 0), 0, 0, 255}; };
  test::writeFile(f.path("interlaced.png"), test::pngFile(8192, 4096, test::PngKind::GrayOneBit, true, stripes));
  test::writeFile(f.path("huge.png"), test::pngFile(8192, 8192, test::PngKind::GrayOneBit, false, stripes));
  hardening::LiveDisplay live(CurlClientOptions{}, 1920, 1080);
  Display& d = *live.d;
  long pictures = 0;
  d.onPagePresented = [&](PageName p) { pictures += p == PageName::Picture ? 1 : 0; };
  d.displayType = 1;
  applyParsedTimetable(d, parseTimetable(test::document(
                              {{1, "2"}, {2, "2"}, {3, "2"}, {15, "|||"},
                               {23, f.path("interlaced.png") + "|" + f.path("huge.png")}})));
  showNextScreen(d, true);
  live.runFor(7000);
  std::printf("  %ld ticks, largest gap %.1f ms, %ld picture pages\n", live.ticks.ticks, live.ticks.maxGapMs(), pictures);
  EXPECT_GE(live.ticks.ticks, 5);
  EXPECT_LE(live.ticks.maxGapMs(), 1100);
  EXPECT_GE(pictures, 2);
}

// A loader stuck in the kernel (a dead network share): nothing it does holds up the end.
class StuckLoader final : public ImageLoader {
 public:
  std::string version(const std::string&) override { return "1"; }
  PictureOutcome read(const std::string&, PictureLimits, const std::atomic<bool>&) override {
    std::this_thread::sleep_for(std::chrono::seconds(4));
    return {nullptr, true, "gone"};
  }
};

TEST(PicturesAhead, TheWorkerEndsWithinASecondWhateverTheDecoderDoes) {
  static StuckLoader stuck;  // outlives the worker's thread
  VirtualEventLoop loop;
  auto worker = std::make_unique<PictureWorker>(stuck, loop, FetchMode::WorkerThread);
  worker->want({"stuck.png"}, {});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto start = std::chrono::steady_clock::now();
  worker.reset();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.5);
}

}  // namespace
}  // namespace plasma
