// Log lines as the journal and a terminal read them: the "<N>" priority prefix only when stderr
// really is the journal's stream, so `journalctl -p warning` picks out the failures and a log file
// or terminal gets plain text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/log.h"

namespace plasma {
namespace {

// Sends stderr to a fresh file for the life of the object, and sets $JOURNAL_STREAM as asked.
class CapturedStderr {
 public:
  CapturedStderr() {
    char name[] = "/tmp/plasma-log-XXXXXX";
    const int fd = ::mkstemp(name);
    path_ = name;
    std::fflush(stderr);
    saved_ = ::dup(2);
    ::dup2(fd, 2);
    ::close(fd);
    if (const char* v = std::getenv("JOURNAL_STREAM")) oldStream_ = v, hadStream_ = true;
  }
  ~CapturedStderr() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    ::unlink(path_.c_str());
    hadStream_ ? ::setenv("JOURNAL_STREAM", oldStream_.c_str(), 1) : ::unsetenv("JOURNAL_STREAM");
  }
  // $JOURNAL_STREAM naming the file stderr now is (as the service manager sets it), or another one.
  void streamIsStderr(bool yes) {
    struct stat st {};
    ::fstat(2, &st);
    const unsigned long long inode = static_cast<unsigned long long>(st.st_ino) + (yes ? 0 : 1);
    ::setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(inode)).c_str(), 1);
  }
  std::string text() const {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_;
  int saved_ = -1;
  std::string oldStream_;
  bool hadStream_ = false;
};

TEST(LogLines, PrioritiesReachTheJournalOnlyWhenStderrIsTheJournal) {
  {
    CapturedStderr err;
    err.streamIsStderr(true);
    EXPECT_TRUE(stderrIsJournal());
    logLine("timetable http://t/ failed: HTTP 500");
    logLine(LogPriority::Notice, "timetable http://t/ is back");
    logLine(LogPriority::Error, "cannot start: TYPE \"x\" is not a number");
    EXPECT_EQ(err.text(),
              "<4>plasma-display: timetable http://t/ failed: HTTP 500\n"
              "<5>plasma-display: timetable http://t/ is back\n"
              "<3>plasma-display: cannot start: TYPE \"x\" is not a number\n");
  }
  // Started by the service but with stderr sent elsewhere (a shell redirect in the unit, a
  // wrapper): the variable is inherited but names another stream.
  for (const char* stream : {"", "garbage", "12:34:56"}) {
    CapturedStderr err;
    ::setenv("JOURNAL_STREAM", stream, 1);
    logLine("plain");
    EXPECT_EQ(err.text(), "plasma-display: plain\n") << "JOURNAL_STREAM=" << stream;
  }
  {
    CapturedStderr err;
    err.streamIsStderr(false);
    EXPECT_FALSE(stderrIsJournal());
    logLine(LogPriority::Notice, "plain");
    EXPECT_EQ(err.text(), "plasma-display: plain\n");
  }
  {
    CapturedStderr err;
    ::unsetenv("JOURNAL_STREAM");
    logLine("plain");
    EXPECT_EQ(err.text(), "plasma-display: plain\n");
  }
}

}  // namespace
}  // namespace plasma
