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

}  // namespace plasma
