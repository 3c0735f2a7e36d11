// The bare console through KMS/DRM (libdrm): the page in two dumb buffers, flipped at vertical
// blank on the CRTC of the screen's connector. A flip or mode set the kernel refuses is seen and
// reported, so the status never names a page the monitor does not show. No GPU rendering, no GL.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "present/buffer_ring.h"
#include "present/clock.h"
#include "present/display_server.h"
#include "present/monitors.h"
#include "present/shared_screen.h"
#include "support/log.h"

namespace plasma {
namespace {

// How often the connectors are looked at: a monitor plugged in or switched on is taken up within
// this time, without a restart. Reading the kernel's last known state costs one ioctl each.
constexpr int kProbeMs = 2000;
// A flip completes at the next vertical blank; one that takes longer than this has gone astray.
constexpr int kFlipWaitMs = 200;

template <typename T, void (*Free)(T*)>
struct Owned {
  T* p;
  explicit Owned(T* x) : p(x) {}
  ~Owned() {
    if (p) Free(p);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};
using Resources = Owned<drmModeRes, drmModeFreeResources>;
using Connector = Owned<drmModeConnector, drmModeFreeConnector>;
using Encoder = Owned<drmModeEncoder, drmModeFreeEncoder>;

std::string connectorName(const drmModeConnector* c) {
  const char* type = drmModeGetConnectorTypeName(c->connector_type);
  return std::string(type ? type : "Unknown") + "-" + std::to_string(c->connector_type_id);
}

class KmsScreen;

class KmsServer final : public DisplayServer {
 public:
  KmsServer(int fd, std::string path);
  ~KmsServer() override;
  const char* name() const override { return "kms"; }
  std::vector<int> fds() const override { return {fd_, timer_}; }
  bool dispatch() override;
  void flush() override {}
  bool takeMonitorsChanged() override { return std::exchange(monitorsChanged_, false); }
  std::unique_ptr<Output> openScreen(int screenIndex, const std::string& title) override;
  std::unique_ptr<Output> openBox(int screenIndex, PixelSize size, BoxRole role, const std::string& title) override;

  int fd() const { return fd_; }
  // Makes this program the card's master when no other program is. Asking with a descriptor that
  // never was master needs CAP_SYS_ADMIN, so the card is opened afresh (a first opener becomes
  // master) and takes the old descriptor's number, which the event loop watches; `dropBuffers`
  // frees what was made on the old one first. False while another program drives the card.
  bool becomeMaster(const std::function<void()>& dropBuffers);
  const std::string& path() const { return path_; }
  // Handles page-flip events until done() holds or ms pass.
  void waitFor(const std::function<bool()>& done, int ms);
  std::vector<ConnectorState> connectors() const;

 private:
  std::shared_ptr<SharedScreen> screen(int screenIndex);
  void handleEvents();
  int fd_;
  std::string path_;
  int timer_ = -1;
  bool monitorsChanged_ = false;
  std::vector<ConnectorState> lastConnectors_;
  std::shared_ptr<SharedScreen> screen_;
  KmsScreen* surface_ = nullptr;
};

class KmsScreen final : public Output {
 public:
  KmsScreen(KmsServer& s, int screenIndex);
  ~KmsScreen() override;
  cairo_surface_t* image() override { return ring_.drawTarget().image; }
  PixelSize size() const override { return {width_, height_}; }
  bool present(const PixelRect& r) override;
  bool onScreen() const override { return connector_ != 0 && shown_ && lastOk_; }
  OutputEvents takeEvents() override { return std::exchange(events_, OutputEvents{}); }
  std::string place() override;
  void show() override {}
  void raise() override {}
  std::string describe() const override;
  void willOverwrite(const PixelRect& r) override { ring_.willOverwrite(r); }

  // The flip asked for last has reached the screen.
  void flipped();
  // A look at the connectors (every few seconds): a failed screen is tried again, as the card's
  // master if another program had it before.
  void probe();

 private:
  bool choose();
  std::uint32_t freeCrtc(const drmModeConnector* c, const drmModeRes* res) const;
  BufferRing::Buffer allocate();
  void destroy(BufferRing::Buffer& b);
  bool setMode(std::uint32_t fb);
  void dropBuffers();
  void releaseFb(std::uint32_t fb) {
    for (BufferRing::Buffer& b : ring_.buffers()) {
      if ((b.handle & 0xffffffffu) == fb) b.busy = false;
    }
  }
  void failed(const std::string& what, int error, const std::string& why = "");

  KmsServer& s_;
  int screenIndex_;
  std::uint32_t connector_ = 0, crtc_ = 0;
  std::string connectorName_;
  drmModeModeInfo mode_{};
  drmModeCrtc* saved_ = nullptr;  // what the CRTC showed before (the console), put back at the end
  int width_ = 1920, height_ = 1080;
  bool shown_ = false;       // our buffer is on the CRTC
  bool flipPending_ = false;
  bool flips_ = true;        // the driver takes page flips (else each frame is a mode set)
  std::uint32_t scannedFb_ = 0, pendingFb_ = 0;
  bool lastOk_ = true;
  bool everShown_ = false;
  bool notMaster_ = false;   // the kernel refused a mode set: another program drives the card
  std::string lastFailure_;
  OutputEvents events_;
  BufferRing ring_;
};

// ---- the screen ----

KmsScreen::KmsScreen(KmsServer& s, int screenIndex)
    : s_(s),
      screenIndex_(screenIndex),
      ring_([&s](const std::function<bool()>& done, int ms) { s.waitFor(done, ms); }, [this] { return allocate(); }) {
  if (!choose()) {
    std::string list;
    for (const ConnectorState& c : s_.connectors()) {
      list += (list.empty() ? "" : ", ") + c.name + (c.connected ? " connected" : " disconnected");
    }
    logLine("screen " + std::to_string(screenIndex_) + " has no monitor on " + s_.path() + " (connectors: " +
            (list.empty() ? "none" : list) + "); the display waits for one");
  }
}

KmsScreen::~KmsScreen() {
  if (flipPending_) s_.waitFor([this] { return !flipPending_; }, kFlipWaitMs);
  // The console's own picture goes back on the monitor, then the card is left to others.
  if (saved_ && saved_->mode_valid && connector_ != 0) {
    drmModeSetCrtc(s_.fd(), saved_->crtc_id, saved_->buffer_id, saved_->x, saved_->y, &connector_, 1, &saved_->mode);
  }
  if (saved_) drmModeFreeCrtc(saved_);
  ring_.clear([this](BufferRing::Buffer& b) { destroy(b); });
}

// Picks the connector of the screen, its CRTC and mode. False while the screen has no monitor.
bool KmsScreen::choose() {
  const std::vector<ConnectorState> all = s_.connectors();
  const std::optional<std::size_t> which = connectorForScreen(screenIndex_, all);
  if (!which) return false;
  Connector c(drmModeGetConnectorCurrent(s_.fd(), all[*which].id));
  Resources res(drmModeGetResources(s_.fd()));
  if (!c || !res || c->count_modes == 0) return false;
  std::uint32_t crtc = 0;
  const auto offer = [](const drmModeModeInfo& m) {
    return ModeOffer{m.hdisplay, m.vdisplay, static_cast<int>(m.vrefresh), (m.type & DRM_MODE_TYPE_PREFERRED) != 0,
                     (m.type & DRM_MODE_TYPE_USERDEF) != 0};
  };
  std::vector<ModeOffer> offers;
  for (int i = 0; i < c->count_modes; ++i) offers.push_back(offer(c->modes[i]));
  // The mode the console already runs on this monitor (the operator may have chosen it with
  // video= on the kernel's command line) is kept: no mode change, no flicker.
  std::optional<ModeOffer> running;
  if (c->encoder_id) {
    Encoder e(drmModeGetEncoder(s_.fd(), c->encoder_id));
    if (e && e->crtc_id) {
      crtc = e->crtc_id;
      if (drmModeCrtc* now = drmModeGetCrtc(s_.fd(), crtc)) {
        if (now->mode_valid) running = offer(now->mode);
        drmModeFreeCrtc(now);
      }
    }
  }
  const drmModeModeInfo mode = c->modes[modeForMonitor(offers, running).value_or(0)];
  if (crtc == 0) crtc = freeCrtc(c.p, res.p);
  if (crtc == 0) return false;
  const bool newSize = mode.hdisplay != width_ || mode.vdisplay != height_;
  if (crtc != crtc_) {
    if (saved_) drmModeFreeCrtc(saved_);
    saved_ = drmModeGetCrtc(s_.fd(), crtc);
  }
  connector_ = c->connector_id;
  connectorName_ = connectorName(c.p);
  crtc_ = crtc;
  mode_ = mode;
  shown_ = false;
  if (newSize) {
    width_ = mode.hdisplay;
    height_ = mode.vdisplay;
    ring_.clear([this](BufferRing::Buffer& b) { destroy(b); });
    events_.resized = true;
  }
  events_.exposed = true;
  return true;
}

// A CRTC that can drive the connector, preferably one no other monitor shows on: taking the
// console's CRTC from another monitor would leave that one dark.
std::uint32_t KmsScreen::freeCrtc(const drmModeConnector* c, const drmModeRes* res) const {
  std::vector<std::uint32_t> used;
  for (int i = 0; i < res->count_connectors; ++i) {
    if (res->connectors[i] == c->connector_id) continue;
    Connector other(drmModeGetConnectorCurrent(s_.fd(), res->connectors[i]));
    if (!other || !other->encoder_id) continue;
    Encoder e(drmModeGetEncoder(s_.fd(), other->encoder_id));
    if (e && e->crtc_id) used.push_back(e->crtc_id);
  }
  std::uint32_t fallback = 0;
  for (int i = 0; i < c->count_encoders; ++i) {
    Encoder e(drmModeGetEncoder(s_.fd(), c->encoders[i]));
    for (int j = 0; e && j < res->count_crtcs; ++j) {
      if (!(e->possible_crtcs & (1u << j))) continue;
      if (std::find(used.begin(), used.end(), res->crtcs[j]) == used.end()) return res->crtcs[j];
      if (fallback == 0) fallback = res->crtcs[j];
    }
  }
  return fallback;
}

BufferRing::Buffer KmsScreen::allocate() {
  BufferRing::Buffer b;
  std::uint32_t handle = 0, pitch = 0, fb = 0;
  std::uint64_t bytes = 0, offset = 0;
  if (drmModeCreateDumbBuffer(s_.fd(), static_cast<std::uint32_t>(width_), static_cast<std::uint32_t>(height_), 32, 0,
                              &handle, &pitch, &bytes) != 0) {
    logLine("cannot make a frame buffer on " + s_.path() + ": " + std::strerror(errno));
    return b;
  }
  void* pixels = MAP_FAILED;
  if (drmModeAddFB(s_.fd(), static_cast<std::uint32_t>(width_), static_cast<std::uint32_t>(height_), 24, 32, pitch,
                   handle, &fb) == 0 &&
      drmModeMapDumbBuffer(s_.fd(), handle, &offset) == 0) {
    pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, s_.fd(), static_cast<off_t>(offset));
  }
  if (pixels == MAP_FAILED) {
    logLine("cannot map a frame buffer on " + s_.path() + ": " + std::strerror(errno));
    if (fb) drmModeRmFB(s_.fd(), fb);
    drmModeDestroyDumbBuffer(s_.fd(), handle);
    return b;
  }
  // Dumb buffers start zeroed on most drivers, but not by promise.
  std::memset(pixels, 0, bytes);
  b.image = imageOverMapping(pixels, width_, height_, static_cast<int>(pitch));
  b.handle = (std::uintptr_t{handle} << 32) | fb;
  return b;
}

void KmsScreen::destroy(BufferRing::Buffer& b) {
  if (!b.image) return;
  dropImageOverMapping(b.image);
  drmModeRmFB(s_.fd(), static_cast<std::uint32_t>(b.handle & 0xffffffffu));
  drmModeDestroyDumbBuffer(s_.fd(), static_cast<std::uint32_t>(b.handle >> 32));
}

void KmsScreen::failed(const std::string& what, int error, const std::string& why) {
  const std::string line =
      what + " on " + connectorName_ + " (" + s_.path() + ") failed: " + std::strerror(error) + (why.empty() ? "" : "; " + why);
  if (line != lastFailure_) logLine(line);
  lastFailure_ = line;
  lastOk_ = false;
}

bool KmsScreen::setMode(std::uint32_t fb) {
  if (drmModeSetCrtc(s_.fd(), crtc_, fb, 0, 0, &connector_, 1, &mode_) != 0) {
    const int error = errno;
    notMaster_ = error == EACCES || error == EPERM;
    failed("setting mode " + std::string(mode_.name), error,
           notMaster_ ? "another program drives the card (one display program per card)" : "");
    shown_ = false;
    return false;
  }
  // The buffer shown before is free at once.
  if (scannedFb_ && scannedFb_ != fb) releaseFb(scannedFb_);
  scannedFb_ = fb;
  shown_ = true;
  return true;
}

bool KmsScreen::present(const PixelRect& r) {
  if (connector_ == 0) {
    lastOk_ = false;
    return false;
  }
  // One flip at a time: the one before must have reached the screen.
  if (flipPending_) s_.waitFor([this] { return !flipPending_; }, kFlipWaitMs);
  if (flipPending_) {
    failed("the page flip", ETIMEDOUT);
    flipPending_ = false;
  }
  BufferRing::Buffer& b = ring_.presented(r);
  const std::uint32_t fb = static_cast<std::uint32_t>(b.handle & 0xffffffffu);
  bool ok;
  if (!shown_ || !flips_) {
    ok = setMode(fb);
    // A buffer stays busy while it is scanned out; one the kernel refused to show is free again.
    if (!ok && fb != scannedFb_) b.busy = false;
  } else if (drmModePageFlip(s_.fd(), crtc_, fb, DRM_MODE_PAGE_FLIP_EVENT, this) == 0) {
    flipPending_ = true;
    pendingFb_ = fb;
    ok = true;
  } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
    logLine(LogPriority::Notice, "the driver of " + s_.path() + " takes no page flips; each frame is a mode set");
    flips_ = false;
    ok = setMode(fb);
    if (!ok && fb != scannedFb_) b.busy = false;
  } else {
    failed("the page flip", errno);
    b.busy = false;
    shown_ = false;  // set the mode afresh next time (the monitor may have gone)
    ok = false;
  }
  // A mode set shows the buffer before it returns; a flip shows it at the next vertical blank.
  if (ok && !flipPending_) ring_.shown();
  if (ok && !lastOk_) logLine(LogPriority::Notice, "the display is on " + connectorName_ + (everShown_ ? " again" : ""));
  if (ok) lastFailure_.clear();
  lastOk_ = ok;
  everShown_ = everShown_ || ok;
  return ok;
}

void KmsScreen::probe() {
  if (connector_ == 0 || lastOk_) return;
  if (notMaster_ && s_.becomeMaster([this] { dropBuffers(); })) {
    notMaster_ = false;
    logLine(LogPriority::Notice, "the display drives " + s_.path() + " now that the other program let it go");
  }
  events_.exposed = true;
}

// The buffers go with the descriptor they were made on; the page is painted afresh into new ones.
void KmsScreen::dropBuffers() {
  ring_.clear([this](BufferRing::Buffer& b) { destroy(b); });
  scannedFb_ = pendingFb_ = 0;
  flipPending_ = false;
  shown_ = false;
  events_.resized = true;
}

void KmsScreen::flipped() {
  if (!flipPending_) return;
  flipPending_ = false;
  if (scannedFb_ && scannedFb_ != pendingFb_) releaseFb(scannedFb_);
  scannedFb_ = pendingFb_;
  ring_.shown();
}

std::string KmsScreen::place() {
  const std::uint32_t before = connector_;
  const int width = width_, height = height_;
  const drmModeModeInfo mode = mode_;
  const bool found = choose();
  const std::string screen = "screen " + std::to_string(screenIndex_);
  if (!found) {
    connector_ = 0;
    shown_ = false;
    if (before == 0) return "";
    // Whatever was flipping is gone with the monitor.
    flipPending_ = false;
    for (BufferRing::Buffer& b : ring_.buffers()) b.busy = false;
    scannedFb_ = 0;
    return screen + " has no monitor: " + s_.path() + " has no connected connector for it";
  }
  if (before == connector_ && width == width_ && height == height_ && std::strcmp(mode.name, mode_.name) == 0 &&
      shown_) {
    return "";
  }
  return screen + " is the monitor on " + connectorName_ + " (" + std::to_string(width_) + "x" +
         std::to_string(height_) + ")";
}

std::string KmsScreen::describe() const {
  const std::string how = ", two dumb buffers flipped at vertical blank";
  if (connector_ == 0) return "no monitor for screen " + std::to_string(screenIndex_) + " on " + s_.path() + " yet" + how;
  return "connector " + connectorName_ + " of " + s_.path() + ", mode " + std::to_string(width_) + "x" +
         std::to_string(height_) + how;
}

// ---- the server ----

KmsServer::KmsServer(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
  timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  itimerspec every{{kProbeMs / 1000, (kProbeMs % 1000) * 1000000L}, {kProbeMs / 1000, (kProbeMs % 1000) * 1000000L}};
  if (timer_ >= 0) timerfd_settime(timer_, 0, &every, nullptr);
  lastConnectors_ = connectors();
}

KmsServer::~KmsServer() {
  screen_.reset();
  drmDropMaster(fd_);
  if (timer_ >= 0) close(timer_);
  close(fd_);
}

std::vector<ConnectorState> KmsServer::connectors() const {
  std::vector<ConnectorState> all;
  Resources res(drmModeGetResources(fd_));
  if (!res) return all;
  for (int i = 0; i < res->count_connectors; ++i) {
    Connector c(drmModeGetConnectorCurrent(fd_, res->connectors[i]));
    if (!c) continue;
    all.push_back({c->connector_id, connectorName(c.p), c->connection == DRM_MODE_CONNECTED, c->count_modes > 0});
  }
  return all;
}

bool KmsServer::becomeMaster(const std::function<void()>& dropBuffers) {
  if (drmSetMaster(fd_) == 0) return true;
  const int fresh = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fresh < 0) return false;
  if (!drmIsMaster(fresh)) {
    close(fresh);
    return false;
  }
  dropBuffers();
  const bool moved = dup3(fresh, fd_, O_CLOEXEC) == fd_;
  close(fresh);
  return moved;
}

void KmsServer::handleEvents() {
  drmEventContext ctx{};
  ctx.version = 2;
  // The user data is the screen that asked for the flip; it waits for its last flip before it goes.
  ctx.page_flip_handler = [](int, unsigned, unsigned, unsigned, void* data) { static_cast<KmsScreen*>(data)->flipped(); };
  drmHandleEvent(fd_, &ctx);
}

void KmsServer::waitFor(const std::function<bool()>& done, int ms) {
  const std::int64_t end = monotonicMs() + ms;
  while (!done()) {
    const std::int64_t left = end - monotonicMs();
    if (left <= 0) return;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) > 0) handleEvents();
  }
}

bool KmsServer::dispatch() {
  pollfd p[2] = {{fd_, POLLIN, 0}, {timer_, POLLIN, 0}};
  if (poll(p, 2, 0) <= 0) return true;
  if (p[0].revents & POLLIN) handleEvents();
  if (p[1].revents & POLLIN) {
    std::uint64_t ticks = 0;
    [[maybe_unused]] auto n = read(timer_, &ticks, sizeof ticks);
    std::vector<ConnectorState> now = connectors();
    if (now != lastConnectors_) monitorsChanged_ = true;
    lastConnectors_ = std::move(now);
    if (surface_) surface_->probe();
  }
  return true;
}

std::shared_ptr<SharedScreen> KmsServer::screen(int screenIndex) {
  if (!screen_) {
    auto surface = std::make_shared<KmsScreen>(*this, screenIndex);
    surface_ = surface.get();
    screen_ = std::make_shared<SharedScreen>();
    screen_->surface = std::move(surface);
  }
  return screen_;
}

std::unique_ptr<Output> KmsServer::openScreen(int screenIndex, const std::string&) {
  return pageOnSharedScreen(screen(screenIndex));
}

std::unique_ptr<Output> KmsServer::openBox(int screenIndex, PixelSize size, BoxRole, const std::string&) {
  return boxOnSharedScreen(screen(screenIndex), size);
}

// The card to drive: PLASMA_DRM_DEVICE, else SDL_KMSDRM_DEVICE_INDEX's card (older
// configurations), else the first card that can show a dumb buffer on a connector.
std::vector<std::string> cardPaths() {
  if (const char* p = std::getenv("PLASMA_DRM_DEVICE"); p && *p) return {p};
  if (const char* i = std::getenv("SDL_KMSDRM_DEVICE_INDEX"); i && *i) return {std::string("/dev/dri/card") + i};
  std::vector<std::string> all;
  for (int i = 0; i < 16; ++i) all.push_back("/dev/dri/card" + std::to_string(i));
  return all;
}

}  // namespace

std::unique_ptr<DisplayServer> openKmsServer(std::string* why) {
  std::string reasons;
  for (const std::string& path : cardPaths()) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      if (errno != ENOENT) reasons += (reasons.empty() ? "" : "; ") + path + ": " + std::strerror(errno);
      continue;
    }
    std::uint64_t dumb = 0;
    drmModeRes* res = drmModeGetResources(fd);
    const bool kms = res && res->count_connectors > 0 && res->count_crtcs > 0;
    if (res) drmModeFreeResources(res);
    if (!kms || drmGetCap(fd, DRM_CAP_DUMB_BUFFER, &dumb) != 0 || !dumb) {
      reasons += (reasons.empty() ? "" : "; ") + path + ": no display outputs";
      close(fd);
      continue;
    }
    // The first opener of a card is its master already; a later one asks (and may be refused
    // while another program drives the card, which the first mode set then reports).
    drmSetMaster(fd);
    return std::make_unique<KmsServer>(fd, path);
  }
  if (why) *why = reasons.empty() ? "no graphics card in /dev/dri" : reasons;
  return nullptr;
}

}  // namespace plasma
