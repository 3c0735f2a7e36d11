// The one UTF-8 check of the display: the timetable decoder, the canvas and the status file all
// rely on it letting through only what Cairo and strict JSON readers accept.
#include <gtest/gtest.h>

#include <string>

#include "support/utf8.h"

namespace plasma {
namespace {

TEST(Utf8, AcceptsEveryLengthUpToTheLastCodePoint) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));  // NUL is ASCII
  EXPECT_TRUE(isValidUtf8("Z\xC3\xBCrich"));            // 2 bytes
  EXPECT_TRUE(isValidUtf8("\xE2\x82\xAC 5"));           // 3 bytes
  EXPECT_TRUE(isValidUtf8("\xF0\x9F\x9A\x86"));         // 4 bytes
  EXPECT_TRUE(isValidUtf8("\xF4\x8F\xBF\xBF"));         // U+10FFFF
  EXPECT_EQ(utf8SequenceLength("\xE2\x82\xAC", 0), 3u);
}

TEST(Utf8, RefusesWhatCairoWouldRefuse) {
  EXPECT_FALSE(isValidUtf8("\xC0\x80"));              // overlong NUL
  EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));          // overlong '/'
  EXPECT_FALSE(isValidUtf8("\xF0\x80\x80\xAF"));      // overlong '/'
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));          // surrogate
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));      // past U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xE2\x82"));              // cut short at the end
  EXPECT_FALSE(isValidUtf8("\xE2\x41\xAC"));          // continuation missing
  EXPECT_FALSE(isValidUtf8("\x80"));                  // lone continuation
  EXPECT_FALSE(isValidUtf8("caf\xE9"));               // Windows-1252
}

}  // namespace
}  // namespace plasma
