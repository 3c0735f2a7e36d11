// The timetable server's own picture paths on this PC: prefixes mapped to local folders without
// regard to case or separator, nothing let out of its folder, and names found whatever their case.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/picture_paths.h"

namespace plasma {
namespace {

namespace fs = std::filesystem;

TEST(PicturePathSetting, ParsesPairsAndNamesWhatItLeavesOut) {
  std::vector<std::string> problems;
  const PicturePathMap map = PicturePathMap::parse(
      R"( \\MediaServer\Plasma\ = /srv/plasma-pictures/ ;;P:\Slides=/srv/slides;no-equals; =/srv/x;Q:\=relative;//=/srv/y)",
      &problems);
  ASSERT_EQ(map.mappings().size(), 2u);
  EXPECT_EQ(map.mappings()[0].prefix, "//mediaserver/plasma");
  EXPECT_EQ(map.mappings()[0].folder, "/srv/plasma-pictures");
  EXPECT_EQ(map.mappings()[1].prefix, "p:/slides");
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_NE(problems[0].find("\"no-equals\" is not PREFIX=FOLDER"), std::string::npos) << problems[0];
  EXPECT_NE(problems[2].find("needs an absolute local folder"), std::string::npos) << problems[2];
  EXPECT_TRUE(PicturePathMap::parse("").empty());
}

struct MapCase {
  const char* entry;
  MappedPicture::Kind kind;
  const char* folder;  // of the mapping taken
  std::vector<std::string> parts;
};

TEST(PicturePathSetting, MapsUncAndDrivePathsWhateverTheirCaseAndSeparators) {
  using K = MappedPicture::Kind;
  const PicturePathMap map = PicturePathMap::parse(
      R"(\\mediaserver\plasma=/srv/a;P:\Slides=/srv/b;\\mediaserver\plasma\Deep=/srv/deep;\\srv\Ärger=/srv/c)");
  const MapCase cases[] = {
      {R"(\\mediaserver\plasma\summer.jpg)", K::Inside, "/srv/a", {"summer.jpg"}},
      {R"(\\MEDIASERVER\Plasma\Sub\Winter.JPG)", K::Inside, "/srv/a", {"Sub", "Winter.JPG"}},
      {"//mediaserver/plasma/x.png", K::Inside, "/srv/a", {"x.png"}},
      {R"(\\mediaserver/plasma\\\sub//x.png)", K::Inside, "/srv/a", {"sub", "x.png"}},
      {R"(p:/slides/a.jpg)", K::Inside, "/srv/b", {"a.jpg"}},
      {R"(P:\SLIDES\.\a.jpg)", K::Inside, "/srv/b", {"a.jpg"}},
      {R"(\\mediaserver\plasma\deep\a.jpg)", K::Inside, "/srv/deep", {"a.jpg"}},  // the longest prefix
      {R"(\\SRV\ärger\a.jpg)", K::Inside, "/srv/c", {"a.jpg"}},
      {R"(\\mediaserver\plasma\a\..\b.jpg)", K::Inside, "/srv/a", {"b.jpg"}},
      {R"(\\mediaserver\plasma\..\secret.jpg)", K::Escapes, "/srv/a", {}},
      {R"(P:\Slides\a\..\..\..\etc\passwd)", K::Escapes, "/srv/b", {}},
      {R"(\\mediaserver\plasmaX\a.jpg)", K::AsItStands, nullptr, {}},  // a prefix ends at a separator
      {R"(Q:\Slides\a.jpg)", K::AsItStands, nullptr, {}},
      {"/srv/local/a.jpg", K::AsItStands, nullptr, {}},
  };
  for (const MapCase& c : cases) {
    SCOPED_TRACE(c.entry);
    const MappedPicture m = map.map(c.entry);
    EXPECT_EQ(m.kind, c.kind);
    EXPECT_EQ(m.mapping ? m.mapping->folder : "", c.folder ? c.folder : "");
    EXPECT_EQ(m.parts, c.parts);
  }
  EXPECT_EQ(PicturePathMap().map(R"(\\mediaserver\plasma\a.jpg)").kind, K::AsItStands);
}

// A copy of a share on this PC: names in another case than the server writes them, a link that
// stays inside and one that leads out.
struct LocalShare {
  LocalShare() : dir(fs::temp_directory_path() / ("plasma-share-" + std::to_string(::getpid()))) {
    fs::create_directories(dir / "share" / "winter");
    std::ofstream(dir / "share" / "winter" / "snow.jpg") << "x";
    std::ofstream(dir / "share" / "summer.jpg") << "x";
    std::ofstream(dir / "outside.jpg") << "x";
    fs::create_symlink(dir / "share" / "summer.jpg", dir / "share" / "alias.jpg");
    fs::create_symlink(dir / "outside.jpg", dir / "share" / "escape.jpg");
    fs::create_symlink("..", dir / "share" / "up");
    settle(dir / "share");
    settle(dir / "share" / "winter");
    mapping.folder = (dir / "share").string();
  }
  ~LocalShare() { fs::remove_all(dir); }
  // Dated a minute back, as a folder nobody is writing to (a listing of it may be kept).
  static void settle(const fs::path& folder) {
    const timespec times[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
    ::utimensat(AT_FDCWD, folder.c_str(), times, 0);
  }
  std::string real(const fs::path& p) const { return fs::canonical(p).string(); }
  fs::path dir;
  PicturePathMapping mapping;
};

TEST(PictureFinder, FindsNamesInAnotherCaseAndRefusesLinksOut) {
  LocalShare s;
  PictureFinder finder;
  struct Case {
    std::vector<std::string> parts;
    std::string path;     // the real file found, or empty
    const char* problem;  // part of the reason otherwise
  };
  const Case cases[] = {
      {{"summer.jpg"}, s.real(s.dir / "share" / "summer.jpg"), ""},
      {{"SUMMER.JPG"}, s.real(s.dir / "share" / "summer.jpg"), ""},
      {{"Winter", "Snow.Jpg"}, s.real(s.dir / "share" / "winter" / "snow.jpg"), ""},
      {{"alias.jpg"}, s.real(s.dir / "share" / "summer.jpg"), ""},
      {{"autumn.jpg"}, "", "not found (looked for "},
      {{"escape.jpg"}, "", "through a link"},
      {{"UP", "outside.jpg"}, "", "through a link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parts.back());
    const PictureFinder::Found f = finder.find(s.mapping, c.parts);
    EXPECT_EQ(f.path, c.path);
    EXPECT_NE(f.problem.find(c.problem), std::string::npos) << f.problem;
  }
}

TEST(PictureFinder, ReadsAFolderOnlyOnceUntilItChanges) {
  LocalShare s;
  PictureFinder finder;
  for (int page = 0; page < 5; ++page) ASSERT_FALSE(finder.find(s.mapping, {"Summer.JPG"}).path.empty());
  EXPECT_EQ(finder.folderReads(), 1);
  // A picture copied in later is found: the folder changed, so it is read again.
  std::ofstream(s.dir / "share" / "Autumn.jpg") << "x";
  EXPECT_FALSE(finder.find(s.mapping, {"autumn.jpg"}).path.empty());
  EXPECT_EQ(finder.folderReads(), 2);
  // An exact name costs no folder read at all.
  EXPECT_FALSE(finder.find(s.mapping, {"summer.jpg"}).path.empty());
  EXPECT_EQ(finder.folderReads(), 2);
}

TEST(PicturePathSetting, FoldsAsciiAndLatinLettersOnly) {
  EXPECT_EQ(foldNameCase("Winter.JPG"), "winter.jpg");
  EXPECT_EQ(foldNameCase("ÄRGER-Été"), "ärger-été");
  EXPECT_EQ(foldNameCase("×"), "×");  // U+00D7 has no small letter
  EXPECT_TRUE(looksLikeWindowsPath(R"(\\server\share\a.jpg)"));
  EXPECT_TRUE(looksLikeWindowsPath("P:/Slides/a.jpg"));
  EXPECT_FALSE(looksLikeWindowsPath("/srv/a.jpg"));
  EXPECT_FALSE(looksLikeWindowsPath("http://host/a.jpg"));
}

}  // namespace
}  // namespace plasma
