#include "platform/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace plasma {

std::string safeInstanceName(const std::string& name) {
  std::string out;
  for (char c : name) {
    out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
  }
  return out.empty() ? "default" : out;
}

bool writeFileAtomic(const std::string& path,
                     const std::function<bool(const std::string& tmp, std::string* error)>& write,
                     std::string* error) {
  const std::string tmp = path + ".tmp";
  if (!write(tmp, error)) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot replace " + path + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool writeTextAtomic(const std::string& path, const std::string& text, std::string* error) {
  return writeFileAtomic(path, [&text](const std::string& tmp, std::string* why) {
    const auto fail = [&](const std::string& what) {
      if (why) *why = what + ": " + std::strerror(errno);
      return false;
    };
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("cannot create " + tmp);
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = ENOSPC;
        const bool r = fail("cannot write " + tmp);
        ::close(fd);
        return r;
      }
      done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) return fail("cannot write " + tmp);
    return true;
  }, error);
}

}  // namespace plasma
