#pragma once
// What a running display reports about itself: the status file after each page and every few
// seconds, a screenshot on request, and a one-line summary for the service manager.
#include <cstdint>
#include <memory>
#include <string>

#include "display/display.h"
#include "platform/private_folder.h"
#include "platform/status_file.h"

namespace plasma {

class StatusPublisher {
 public:
  // instance: the single-instance name ("" = default); folder: where the files go. Without a
  // usable folder nothing is written.
  StatusPublisher(const Display& display, std::string instance, PrivateFolder& folder);
  StatusPublisher(const Display& display, std::string instance, const std::string& folder);

  // Remembers the last error a page's trap caught (the feed keeps its own).
  void notePageError(const std::string& what);
  // Counts a page presented on the screen.
  void notePageChange() { ++pageChanges_; }

  StatusReport report() const;
  // One line for `systemctl status`: what is on screen and how the feed is doing.
  std::string summary() const;

  // Replace the status file and the metrics beside it / write the window image beside them. A
  // failure is logged once until a write succeeds again.
  bool write();
  bool writeScreenshot();

  const std::string& statusPath() const { return statusPath_; }
  const std::string& metricsPath() const { return metricsPath_; }
  const std::string& screenshotPath() const { return screenshotPath_; }

 private:
  void noteWrite(bool ok, const std::string& error);
  const Display& d_;
  std::unique_ptr<PrivateFolder> ownFolder_;
  PrivateFolder& folder_;
  std::string instance_;
  std::string statusName_;
  std::string metricsName_;
  std::string screenshotName_;
  std::string statusPath_;
  std::string metricsPath_;
  std::string screenshotPath_;
  std::int64_t startWall_ = 0;
  std::string lastPageError_;
  std::int64_t lastPageErrorWall_ = 0;
  long pageChanges_ = 0;
  bool failing_ = false;
};

}  // namespace plasma
