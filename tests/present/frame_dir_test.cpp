// PLASMA_FRAME_DIR and plasma-render --frames name a folder for the frames: one that does not exist
// yet is made with its parents; one that cannot be made is refused once, at start, with the reason.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "present/headless_window.h"

namespace plasma {
namespace {

namespace fs = std::filesystem;

TEST(FrameDir, AMissingFolderIsMadeAndOneThatCannotBeIsRefusedWithTheReason) {
  const fs::path base = fs::path(::testing::TempDir()) / "frame-dir-test";
  fs::remove_all(base);
  fs::create_directories(base);

  std::string why;
  const fs::path nested = base / "new" / "frames";
  ASSERT_TRUE(prepareFrameDir(nested.string(), why)) << why;
  EXPECT_TRUE(fs::is_directory(nested));
  ASSERT_TRUE(prepareFrameDir(nested.string(), why)) << why;  // already there
  HeadlessWindow window(64, 48);
  window.setFrameDir(nested.string());
  window.pagePresented("board");
  EXPECT_TRUE(fs::exists(nested / "frame-000000.png"));

  const fs::path file = base / "a-file";
  std::ofstream(file) << "x";
  why.clear();
  EXPECT_FALSE(prepareFrameDir(file.string(), why));
  EXPECT_FALSE(why.empty());
  why.clear();
  EXPECT_FALSE(prepareFrameDir((file / "below").string(), why));
  EXPECT_FALSE(why.empty());

  if (::geteuid() != 0) {  // root may write anywhere
    const fs::path locked = base / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    why.clear();
    EXPECT_FALSE(prepareFrameDir(locked.string(), why));
    EXPECT_FALSE(prepareFrameDir((locked / "inner").string(), why));
    EXPECT_FALSE(why.empty());
    fs::permissions(locked, fs::perms::owner_all);
  }
  fs::remove_all(base);
}

}  // namespace
}  // namespace plasma
