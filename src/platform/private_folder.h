#pragma once
// A folder that only the display's user can change: the home of the single-instance lock and
// socket, the status file and the screenshot. With no runtime folder of a login session the
// fallback lives in the shared /tmp, where another local user may have made the folder first or
// planted links in it, so nothing is trusted by its path alone: the folder is opened once, checked
// through its descriptor, and every file in it is opened relative to that descriptor without
// following links.
#include <string>

namespace plasma {

class PrivateFolder {
 public:
  // Symlink::Refuse for folders in shared places; Symlink::Follow for a folder the service manager
  // made (its state folder may be a link into /var/lib/private).
  enum class Symlink { Refuse, Follow };

  // Creates the folder (mode 0700) when it is missing. A folder that is a link (when refused), not
  // a folder, owned by another user or writable by group or others is not used: problem() says
  // why, and usable() is false.
  PrivateFolder(std::string path, Symlink symlink);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  bool usable() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  const std::string& problem() const { return problem_; }
  // The path of a file in the folder, as seen through the descriptor (for socket addresses, which
  // have no call relative to a folder descriptor).
  std::string viaDescriptor(const std::string& name) const;

  // True when the path no longer names the folder held (it was removed or replaced); the folder
  // is then made and checked again.
  bool reopenIfGone();

 private:
  void open();
  std::string path_;
  Symlink symlink_;
  int fd_ = -1;
  std::string problem_;
};

// The folder for the lock, socket and status: $XDG_RUNTIME_DIR/plasma-display, or
// /tmp/plasma-display-<uid> when there is no runtime folder.
std::string runtimeFolderPath();

}  // namespace plasma
