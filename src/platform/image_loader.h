#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "canvas/surface.h"
#include "platform/http_client.h"
#include "platform/picture_decoder.h"

namespace plasma {

class EventLoop;

inline constexpr long long kMaxPictureFileBytes = 64LL * 1024 * 1024;

// What reading and decoding one picture file gave: the picture, or why there is none. A path that
// is not a readable regular file within 64 MiB is missing (the slideshow's file test); a file that
// is there but cannot be decoded has failed.
struct PictureOutcome {
  std::shared_ptr<const Picture> picture;
  bool missing = false;
  std::string reason;
};

// Reads and decodes picture files. It runs on the picture worker, so it touches no display state.
class ImageLoader {
 public:
  virtual ~ImageLoader() = default;
  // A cheap identity of the file as it is now (for the real files: device, inode, size and
  // times), so a picture replaced on disk is read again; empty when there is no file.
  virtual std::string version(const std::string& path) = 0;
  // Reads the file whole and decodes the top-left `keep` part of it; `cancel` stops it early.
  virtual PictureOutcome read(const std::string& path, PictureLimits keep,
                              const std::atomic<bool>& cancel) = 0;
  // Every picture the document names, after each good load (window thread): a loader that keeps
  // copies of pictures fetches them ahead and lets the others go.
  virtual void named(const std::vector<std::string>& /*paths*/) {}
  // `changed` runs, on any thread, whenever a picture may read differently than when it was last
  // asked about (a fetch brought a new copy); nullptr stops it.
  virtual void onChanged(std::function<void()> /*changed*/) {}
};

// The real files: only a regular file of at most 64 MiB is opened (without blocking, so a path
// swapped for a FIFO cannot hang it), read whole and decoded from memory. Keeps no state.
std::unique_ptr<ImageLoader> makePictureFileLoader();

// What that loader does for one file; `shown` names the picture in a decode error (already fit
// for a log line).
std::string pictureFileVersion(const std::string& path);
PictureOutcome readPictureFile(const std::string& path, const std::string& shown, PictureLimits keep,
                               const std::atomic<bool>& cancel);

// Decodes the slideshow's coming pictures off the window thread, so that showing a picture page is
// a copy. The display names the pictures it may show next after every page change and every load;
// each is read again when its file has changed. With FetchMode::Inline (tests, simulation) every
// picture is decoded at once on the caller's thread.
class PictureWorker {
 public:
  PictureWorker(ImageLoader& loader, EventLoop& loop, FetchMode mode);
  // Returns within a second whatever the loader is doing: a decode that does not stop when asked
  // is left to finish on its own (the process is ending).
  ~PictureWorker();
  PictureWorker(const PictureWorker&) = delete;
  PictureWorker& operator=(const PictureWorker&) = delete;

  // The pictures the slideshow may show next, most urgent first, each kept at most `keep`. The
  // outcomes of other paths are dropped.
  void want(const std::vector<std::string>& paths, PictureLimits keep);
  // The outcome for a wanted path once it is read; none while it is still being decoded.
  std::optional<PictureOutcome> find(const std::string& path) const;
  // Runs on the loop's thread after each outcome that arrives from the worker.
  void onDecoded(std::function<void(const std::string& path)> callback);
  // True while the worker reads or decodes (tests).
  bool busy() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace plasma
