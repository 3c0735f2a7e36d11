#include "platform/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plasma {

PrivateFolder::PrivateFolder(std::string path, Symlink symlink) : path_(std::move(path)), symlink_(symlink) {
  open();
}

PrivateFolder::~PrivateFolder() {
  if (fd_ >= 0) ::close(fd_);
}

void PrivateFolder::open() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  problem_.clear();
  if (::mkdir(path_.c_str(), 0700) != 0 && errno != EEXIST) {
    problem_ = "cannot create " + path_ + ": " + std::strerror(errno);
    return;
  }
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (symlink_ == Symlink::Refuse ? O_NOFOLLOW : 0);
  const int fd = ::open(path_.c_str(), flags);
  if (fd < 0) {
    const int e = errno;
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      problem_ = path_ + " is a symbolic link, not a folder of this user";
    } else if (e == ENOTDIR) {
      problem_ = path_ + " is not a folder";
    } else {
      problem_ = "cannot open " + path_ + ": " + std::strerror(e);
    }
    return;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    problem_ = path_ + " is not a folder";
  } else if (st.st_uid != ::geteuid()) {
    problem_ = path_ + " belongs to uid " + std::to_string(st.st_uid) + ", not to this user (uid " +
               std::to_string(::geteuid()) + ")";
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    problem_ = path_ + " has mode " + mode + ": others could plant files in it";
  }
  if (!problem_.empty()) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

std::string PrivateFolder::viaDescriptor(const std::string& name) const {
  return "/proc/self/fd/" + std::to_string(fd_) + "/" + name;
}

bool PrivateFolder::reopenIfGone() {
  if (fd_ < 0) return false;
  struct stat held, now;
  const int follow = symlink_ == Symlink::Refuse ? AT_SYMLINK_NOFOLLOW : 0;
  if (::fstat(fd_, &held) == 0 && ::fstatat(AT_FDCWD, path_.c_str(), &now, follow) == 0 &&
      held.st_dev == now.st_dev && held.st_ino == now.st_ino && held.st_nlink > 0) {
    return false;
  }
  open();
  return true;
}

std::string runtimeFolderPath() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  return (xdg && *xdg) ? std::string(xdg) + "/plasma-display"
                       : "/tmp/plasma-display-" + std::to_string(::geteuid());
}

bool writeFileAtomicAt(const PrivateFolder& folder, const std::string& name, const std::string& bytes,
                       std::string* error) {
  const auto fail = [&](const std::string& what, int e) {
    if (error) *error = what + ": " + std::strerror(e);
    return false;
  };
  if (!folder.usable()) return fail("cannot write " + name + " in " + folder.path(), ENOENT);
  const int dir = folder.fd();
  const std::string tmp = name + ".tmp-" + std::to_string(::getpid());
  const std::string shown = folder.path() + "/" + tmp;
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir, tmp.c_str(), flags, 0644);
  if (fd < 0 && errno == EEXIST) {
    // Only this user can write in the folder: a temporary of this name is left from an earlier
    // process that had the same pid.
    ::unlinkat(dir, tmp.c_str(), 0);
    fd = ::openat(dir, tmp.c_str(), flags, 0644);
  }
  if (fd < 0) return fail("cannot create " + shown, errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
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
    return fail("cannot replace " + folder.path() + "/" + name, e);
  }
  return true;
}

}  // namespace plasma
