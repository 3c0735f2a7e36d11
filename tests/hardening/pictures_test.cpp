// Picture paths from the timetable are trusted with nothing: a FIFO, a device, a folder or a huge
// file named in a document is never opened for reading, the slideshow shows a black page and says
// why, and the next real picture is shown as usual.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
  const auto loader = makeSdlImageLoader();
  for (const std::string& path : {f.path("fifo.jpg"), std::string("/dev/zero"), f.path("zero-link.jpg"),
                                  f.path("folder.jpg"), f.path("huge.jpg")}) {
    SCOPED_TRACE(path);
    try {
      loader->load(path);
      ADD_FAILURE() << "loaded";
    } catch (const RuntimeError& e) {
      EXPECT_TRUE(e.kind() == ErrorKind::InvalidPicture || e.kind() == ErrorKind::FileNotFound) << e.what();
    }
  }
  EXPECT_EQ(loader->load(f.path("real.png"))->width(), 640);
}

}  // namespace
}  // namespace plasma
