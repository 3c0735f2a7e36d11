// plasma-render as a site uses it: the simulation of a bundled sample document, and single pages.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "test_support/rig.h"

namespace plasma {
namespace {

std::string run(const std::string& args, int* status = nullptr) {
  const std::string command = std::string(PLASMA_BIN_DIR) + "/plasma-render " + args + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status) *status = WEXITSTATUS(rc);
  return out;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(RenderTool, SimulationPrintsThePagesOfTheCycleInOrder) {
  const std::string doc = test::resourcePath("documents/sample-circuit-3.txt");
  // From the source folder, so the document's relative picture paths resolve.
  const std::vector<std::string> out = lines(
      run("--type 3 --document " + doc + " --simulate 120 --size 1360x770"));
  // The page changes: own page 20 s, board 20 s, message 15 s; the board is redrawn by the loads
  // at 30 s and 90 s; the own page repaints its scrolling stops list every few seconds.
  std::vector<std::string> changes;
  std::string last;
  for (const std::string& l : out) {
    const std::string page = l.substr(l.find("page="));
    if (page != last) changes.push_back(l);
    last = page;
  }
  const std::vector<std::string> expected = {
      "t=0.0 phase=0 page=type3 variant=1",   "t=20.0 phase=1 page=board variant=2",
      "t=40.0 phase=2 page=message variant=2", "t=55.0 phase=0 page=type3 variant=2",
      "t=75.0 phase=1 page=board variant=3",  "t=95.0 phase=2 page=message variant=3",
      "t=110.0 phase=0 page=type3 variant=3"};
  EXPECT_EQ(changes, expected);
  EXPECT_NE(std::find(out.begin(), out.end(), "t=30.0 phase=1 page=board variant=2"), out.end());
  EXPECT_NE(std::find(out.begin(), out.end(), "t=90.0 phase=1 page=board variant=3"), out.end());
  EXPECT_GT(out.size(), changes.size() + 4);  // the stops list repaints
}

TEST(RenderTool, RendersPagesAndBlackForARejectedDocument) {
  const std::string png = ::testing::TempDir() + "render-test.png";
  const std::string doc = test::resourcePath("documents/sample-circuit-3.txt");
  int status = -1;
  run("--type 3 --document " + doc + " --page board --size 400x300 --out " + png, &status);
  ASSERT_EQ(status, 0);
  cairo_surface_t* img = cairo_image_surface_create_from_png(png.c_str());
  ASSERT_EQ(cairo_surface_status(img), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(test::pixel(img, 200, 2), colours::kBoardBackground);
  cairo_surface_destroy(img);

  const std::string bad = ::testing::TempDir() + "bad-document.txt";
  FILE* f = std::fopen(bad.c_str(), "w");
  std::fputs("ok\n", f);
  std::fclose(f);
  run("--type 3 --document " + bad + " --size 400x300 --out " + png, &status);
  ASSERT_EQ(status, 3);  // refused
  img = cairo_image_surface_create_from_png(png.c_str());
  EXPECT_EQ(test::pixel(img, 200, 150), colours::kBlack);
  cairo_surface_destroy(img);

  run("--type 3 --document /nonexistent/doc.txt --out " + png, &status);
  EXPECT_NE(status, 0);
  run("--type 3 --document " + doc + " --size 10x10000000 --out " + png, &status);
  EXPECT_NE(status, 0);
}

std::string writeTemp(const std::string& name, const std::string& body) {
  const std::string path = ::testing::TempDir() + name;
  FILE* f = std::fopen(path.c_str(), "w");
  std::fputs(body.c_str(), f);
  std::fclose(f);
  return path;
}

// A site checks a document with plasma-render before it goes live: only a page painted from an
// accepted document passes, and an index the document does not have is an error, not index 0.
TEST(RenderTool, TheExitStatusSaysWhetherTheDocumentWouldBeShown) {
  const std::string png = ::testing::TempDir() + "render-status.png";
  const std::string good = writeTemp("status-good.txt", test::document());
  const std::string refused = writeTemp("status-refused.txt", test::document({{7, "many"}}));
  const std::string badTime =
      writeTemp("status-bad-time.txt", test::document({{15, "Airport Central|1005|1|Alpha"}}));
  struct Case {
    const char* name;
    std::string args;
    int status;
  };
  const Case cases[] = {
      {"accepted", "--type 1 --document " + good, 0},
      {"accepted, the second message", "--type 1 --document " + good + " --page message --message-index 1", 0},
      {"refused", "--type 1 --document " + refused, 3},
      {"refused, simulated", "--type 1 --document " + refused + " --simulate 5", 3},
      {"accepted, simulated", "--type 1 --document " + good + " --simulate 5", 0},
      {"accepted, but the page fails on a time", "--type 1 --document " + badTime, 4},
      {"a message the document does not have",
       "--type 1 --document " + good + " --page message --message-index 2", 2},
      {"a picture in a document without pictures",
       "--type 1 --document " + good + " --page picture --picture-index 0", 2},
      {"a picture index with another page", "--type 1 --document " + good + " --picture-index 3", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(png.c_str());
    int status = -1;
    run(c.args + " --size 340x200 --out " + png, &status);
    EXPECT_EQ(status, c.status);
    // A refused or failed page is still written (black), an argument error writes nothing.
    FILE* written = std::fopen(png.c_str(), "rb");
    EXPECT_EQ(written != nullptr, c.status != 2 && c.args.find("--simulate") == std::string::npos);
    if (written) std::fclose(written);
  }
}

TEST(RenderTool, PicturePageShowsABundledPicture) {
  const std::string png = ::testing::TempDir() + "render-picture.png";
  const std::string doc = test::resourcePath("documents/sample-circuit-3.txt");
  int status = -1;
  const std::string cd = std::string("cd ") + PLASMA_SOURCE_DIR + " && ";
  const std::string command = cd + PLASMA_BIN_DIR + "/plasma-render --type 3 --document " + doc +
                              " --page picture --picture-index 1 --size 800x450 --out " + png + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  char buf[512];
  std::string out;
  while (fgets(buf, sizeof buf, p)) out += buf;
  status = WEXITSTATUS(pclose(p));
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("(picture)"), std::string::npos) << out;
  cairo_surface_t* img = cairo_image_surface_create_from_png(png.c_str());
  // vantrel-small.png is 640 x 360: beyond it, the cleared canvas shows.
  EXPECT_NE(test::pixel(img, 320, 180), colours::kBlack);
  EXPECT_EQ(test::pixel(img, 700, 400), colours::kBlack);
  cairo_surface_destroy(img);
}

}  // namespace
}  // namespace plasma
