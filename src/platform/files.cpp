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

bool writeTextAtomic(const std::string& path, const std::string& text, std::string* error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    if (error) *error = "cannot create " + path + ".tmp: " + std::strerror(errno);
    return false;
  }
  const bool ok = writeTextAtomicAt(dir, folder, name, text, error);
  ::close(dir);
  return ok;
}

bool writeTextAtomicAt(int dir, const std::string& folderPath, const std::string& name, const std::string& text,
                       std::string* error) {
  const auto fail = [&](const std::string& what, int e) {
    if (error) *error = what + ": " + std::strerror(e);
    return false;
  };
  const std::string tmp = name + ".tmp-" + std::to_string(::getpid());
  const std::string shown = folderPath + "/" + tmp;
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir, tmp.c_str(), flags, 0644);
  if (fd < 0 && errno == EEXIST) {
    // Left by an earlier process that had the same pid.
    ::unlinkat(dir, tmp.c_str(), 0);
    fd = ::openat(dir, tmp.c_str(), flags, 0644);
  }
  if (fd < 0) return fail("cannot create " + shown, errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = n == 0 ? ENOSPC : errno;
      ::close(fd);
      ::unlinkat(dir, tmp.c_str(), 0);
      return fail("cannot write " + shown, e);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    const int e = errno;
    ::unlinkat(dir, tmp.c_str(), 0);
    return fail("cannot write " + shown, e);
  }
  if (::renameat(dir, tmp.c_str(), dir, name.c_str()) != 0) {
    const int e = errno;
    ::unlinkat(dir, tmp.c_str(), 0);
    return fail("cannot replace " + folderPath + "/" + name, e);
  }
  return true;
}

}  // namespace plasma
