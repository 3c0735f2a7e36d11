#include "canvas/cairo_surface.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "canvas/fonts.h"
#include "canvas/window_image.h"
#include "support/legacy.h"
#include "support/log.h"
#include "support/utf8.h"

namespace plasma {
namespace {

// Larger surfaces would only come from hostile numbers (a stops list of thousands of names); the
// largest real panel is 8K.
constexpr int kMaxSide = 32767;
constexpr long long kMaxPixels = 80LL * 1000 * 1000;

void checkFinite(double a, double b = 0, double c = 0, double d = 0) {
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(d) ||
      std::fabs(a) > 1e7 || std::fabs(b) > 1e7 || std::fabs(c) > 1e7 || std::fabs(d) > 1e7) {
    throw RuntimeError(ErrorKind::Overflow, "drawing coordinate out of range");
  }
}

// Cairo rejects a whole string on one bad byte; show a replacement character instead.
std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    // NUL would end the text for Cairo.
    const std::size_t len = text[i] == '\0' ? 0 : utf8SequenceLength(text, i);
    if (len > 0) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace

Picture::Picture(cairo_surface_t* image) : image_(image) {}
Picture::~Picture() { cairo_surface_destroy(image_); }
int Picture::width() const { return cairo_image_surface_get_width(image_); }
int Picture::height() const { return cairo_image_surface_get_height(image_); }
bool Picture::opaque() const { return cairo_image_surface_get_format(image_) != CAIRO_FORMAT_ARGB32; }

CairoSurface::CairoSurface(int width, int height) { create(width, height); }

CairoSurface::~CairoSurface() {
  forgetDiscs();
  destroy();
}

void CairoSurface::destroy() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) cairo_surface_destroy(surface_);
  if (pixels_) ::munmap(pixels_, pixelBytes_);
  cr_ = nullptr;
  surface_ = nullptr;
  pixels_ = nullptr;
  pixelBytes_ = 0;
  standIn_.reset();
  window_ = nullptr;
  pictureOnWindow_ = false;  // the window is given a new size too
}

std::unique_ptr<CairoSurface> CairoSurface::fromPicture(const Picture& picture) {
  auto s = std::make_unique<CairoSurface>(picture.width(), picture.height());
  // An opaque picture covers every pixel; a transparent one lies over the surface's back colour.
  s->erasePending_ = !picture.opaque();
  s->paintPendingErase();
  cairo_set_operator(s->cr_, picture.opaque() ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
  cairo_set_source_surface(s->cr_, picture.cairo(), 0, 0);
  cairo_paint(s->cr_);
  cairo_set_operator(s->cr_, CAIRO_OPERATOR_OVER);
  return s;
}

void CairoSurface::create(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (width > kMaxSide || height > kMaxSide ||
      static_cast<long long>(width) * height > kMaxPixels) {
    throw RuntimeError(ErrorKind::Overflow, "surface of " + std::to_string(width) + " x " +
                                                std::to_string(height) + " pixels is too large");
  }
  destroy();
  width_ = width;
  height_ = height;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  // Populated at once: the erase below would otherwise fault the pages in one by one, which costs
  // a 1080p display about 15 ms before its first page.
  void* mem = bytes == 0 ? MAP_FAILED
                         : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (mem != MAP_FAILED) {
    pixels_ = static_cast<unsigned char*>(mem);
    pixelBytes_ = bytes;
    surface_ = cairo_image_surface_create_for_data(pixels_, CAIRO_FORMAT_RGB24, width, height, stride);
  } else {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  }
  cr_ = cairo_create(surface_);
  cairo_set_font_options(cr_, standingFontOptions());
  cairo_set_font_face(cr_, standingFace(italic_).face);
  applyFont();
  clear();
  // Erased at once, not on first use: the first page after start-up should not also pay for
  // mapping the new surface's memory.
  makeDrawable();
}

void CairoSurface::checkContext() const {
  // A context in an error state silently ignores every later drawing call; start a fresh one.
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
    auto* self = const_cast<CairoSurface*>(this);
    logLine(std::string("drawing context reset after: ") + cairo_status_to_string(cairo_status(cr_)));
    cairo_destroy(self->cr_);
    self->cr_ = cairo_create(surface_);
    cairo_set_font_options(self->cr_, standingFontOptions());
    cairo_set_font_face(self->cr_, standingFace(italic_).face);
    applyFont();
  }
}

void CairoSurface::resize(int width, int height) {
  if (width == width_ && height == height_) {
    clear();
    return;
  }
  create(width, height);
}

void CairoSurface::setSource(Colour c) const {
  cairo_set_source_rgb(cr_, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

void CairoSurface::applyFont() const { cairo_set_font_size(cr_, emPixels(fontSize_)); }

void CairoSurface::setBackColour(Colour c) {
  back_ = c;
  clear();
}

void CairoSurface::setFontSize(double points) {
  checkFinite(points);
  if (points <= 0) points = 1;
  fontSize_ = points;
  applyFont();
}

void CairoSurface::setItalic(bool on) {
  if (on == italic_) return;
  italic_ = on;
  cairo_set_font_face(cr_, standingFace(italic_).face);
  applyFont();
}

void CairoSurface::moveTo(double x, double y) {
  checkFinite(x, y);
  x_ = x;
  y_ = y;
}

double CairoSurface::textWidth(std::string_view text) const {
  const std::string s = validUtf8(text);
  cairo_text_extents_t ext;
  cairo_text_extents(cr_, s.c_str(), &ext);
  checkContext();
  // Hinted advances are whole pixels; the matrix arithmetic leaves a little floating-point noise.
  return std::round(ext.x_advance);
}

double CairoSurface::textHeight(std::string_view) const {
  cairo_font_extents_t fe;
  cairo_font_extents(cr_, &fe);
  return fe.ascent + fe.descent;
}

void CairoSurface::print(std::string_view text) {
  makeDrawable();
  const std::string s = validUtf8(text);
  cairo_font_extents_t fe;
  cairo_font_extents(cr_, &fe);
  const double baseline = y_ + fe.ascent;
  setSource(fore_);
  cairo_move_to(cr_, x_, baseline);
  cairo_show_text(cr_, s.c_str());
  if (underline_) {
    const FontFace& face = standingFace(italic_);
    const double em = emPixels(fontSize_);
    const double thickness = std::max(1.0, std::round(face.underlineThickness * em));
    const double top = std::round(baseline + face.underlinePosition * em - thickness / 2);
    cairo_text_extents_t ext;
    cairo_text_extents(cr_, s.c_str(), &ext);
    cairo_rectangle(cr_, x_, top, ext.x_advance, thickness);
    cairo_fill(cr_);
  }
  cairo_new_path(cr_);
  checkContext();
  x_ = 0;
  y_ += fe.ascent + fe.descent;
}

void CairoSurface::line(double x1, double y1, double x2, double y2) {
  checkFinite(x1, y1, x2, y2);
  makeDrawable();
  cairo_save(cr_);
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr_, kLineWidth);
  cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
  setSource(fore_);
  cairo_move_to(cr_, std::floor(x1) + 0.5, std::floor(y1) + 0.5);
  cairo_line_to(cr_, std::floor(x2) + 0.5, std::floor(y2) + 0.5);
  cairo_stroke(cr_);
  cairo_restore(cr_);
  checkContext();
}

namespace {
// The pixels a box covers: from the pixel of one corner to the pixel of the other, both included.
Rect coveredPixels(double x1, double y1, double x2, double y2) {
  return {.left = std::floor(std::min(x1, x2)),
          .top = std::floor(std::min(y1, y2)),
          .right = std::floor(std::max(x1, x2)) + 1,
          .bottom = std::floor(std::max(y1, y2)) + 1};
}
}  // namespace

void CairoSurface::box(double x1, double y1, double x2, double y2) {
  checkFinite(x1, y1, x2, y2);
  makeDrawable();
  const Rect p = coveredPixels(x1, y1, x2, y2);
  cairo_save(cr_);
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  if (fillStyle_ == FillStyle::Solid) {
    setSource(fill_);
    cairo_rectangle(cr_, p.left, p.top, p.width(), p.height());
    cairo_fill(cr_);
  }
  // The outline lies inside the covered pixels, kLineWidth thick.
  setSource(fore_);
  const double lw = std::min({kLineWidth, p.width(), p.height()});
  cairo_rectangle(cr_, p.left, p.top, p.width(), lw);
  cairo_rectangle(cr_, p.left, p.bottom - lw, p.width(), lw);
  cairo_rectangle(cr_, p.left, p.top, lw, p.height());
  cairo_rectangle(cr_, p.right - lw, p.top, lw, p.height());
  cairo_fill(cr_);
  cairo_restore(cr_);
  checkContext();
}

void CairoSurface::filledBox(double x1, double y1, double x2, double y2) {
  checkFinite(x1, y1, x2, y2);
  makeDrawable();
  const Rect p = coveredPixels(x1, y1, x2, y2);
  cairo_save(cr_);
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  setSource(fore_);
  cairo_rectangle(cr_, p.left, p.top, p.width(), p.height());
  cairo_fill(cr_);
  cairo_restore(cr_);
  checkContext();
}

namespace {

constexpr std::size_t kMaxDiscs = 8;
constexpr double kMaxDiscRadius = 512;  // larger circles are drawn directly, uncached

// Like a box, a circle keeps its outline inside its shape: the outline runs just inside the radius,
// so a disc ends where a band of the same height ends and no rim stands out where they meet.
void traceCircle(cairo_t* cr, double cx, double cy, double radius, bool solid, Colour fill,
                 Colour fore) {
  cairo_new_path(cr);
  cairo_arc(cr, cx, cy, radius, 0, 2 * M_PI);
  if (solid) {
    cairo_set_source_rgb(cr, fill.r / 255.0, fill.g / 255.0, fill.b / 255.0);
    cairo_fill(cr);
  }
  cairo_set_source_rgb(cr, fore.r / 255.0, fore.g / 255.0, fore.b / 255.0);
  const double lw = std::min(kLineWidth, 2 * radius);
  cairo_new_path(cr);
  cairo_arc(cr, cx, cy, radius - lw / 2, 0, 2 * M_PI);
  cairo_set_line_width(cr, lw);
  cairo_stroke(cr);
}

}  // namespace

void CairoSurface::forgetDiscs() {
  for (Disc& d : discs_) cairo_surface_destroy(d.image);
  discs_.clear();
}

const CairoSurface::Disc& CairoSurface::disc(double cx, double cy, double radius) {
  const double fx = cx - std::floor(cx), fy = cy - std::floor(cy);
  const bool solid = fillStyle_ == FillStyle::Solid;
  for (const Disc& d : discs_) {
    if (d.radius == radius && d.fracX == fx && d.fracY == fy && d.solid == solid && d.fore == fore_ &&
        (!solid || d.fill == fill_)) {
      return d;
    }
  }
  if (discs_.size() >= kMaxDiscs) {
    cairo_surface_destroy(discs_.front().image);
    discs_.erase(discs_.begin());
  }
  const int reach = static_cast<int>(std::ceil(radius + kLineWidth)) + 1;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2 * reach + 1, 2 * reach + 1);
  cairo_t* cr = cairo_create(image);
  traceCircle(cr, reach + fx, reach + fy, radius, solid, fill_, fore_);
  cairo_destroy(cr);
  discs_.push_back({radius, fx, fy, fill_, fore_, solid, -reach, -reach, image});
  return discs_.back();
}

void CairoSurface::circle(double cx, double cy, double radius) {
  checkFinite(cx, cy, radius);
  makeDrawable();
  radius = std::fabs(radius);
  cairo_save(cr_);
  if (radius <= kMaxDiscRadius) {
    const Disc& d = disc(cx, cy, radius);
    cairo_set_source_surface(cr_, d.image, std::floor(cx) + d.offsetX, std::floor(cy) + d.offsetY);
    cairo_paint(cr_);
  } else {
    traceCircle(cr_, cx, cy, radius, fillStyle_ == FillStyle::Solid, fill_, fore_);
  }
  cairo_restore(cr_);
  checkContext();
}

void CairoSurface::copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                            int dy) {
  if (width <= 0 || height <= 0) return;
  // A copy over the whole surface replaces every pixel, so an erase still pending is moot.
  if (dx <= 0 && dy <= 0 && dx + width >= width_ && dy + height >= height_ && &source != this) {
    erasePending_ = false;
    dropStandIn();
  }
  makeDrawable();
  cairo_surface_t* from = source.image();
  // A canvas that stands in with this very image: the pixels are already here.
  if (from == surface_ && sx == dx && sy == dy) return;
  cairo_surface_flush(from);
  cairo_save(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr_, from, dx - sx, dy - sy);
  cairo_rectangle(cr_, dx, dy, width, height);
  cairo_fill(cr_);
  cairo_restore(cr_);
  checkContext();
}

void CairoSurface::clear() {
  x_ = 0;
  y_ = 0;
  // The erase would paint the back colour and then the picture over all of it.
  if (coversWholly(picture_.get())) {
    erasePending_ = false;
    standIn(picture_);
    return;
  }
  if (pictureOnWindow_) {
    if (back_ == windowBack_) return;  // the window still holds the picture on this colour, alone
    dropStandIn();                      // the picture is taken back from the window
    if (coversWholly(picture_.get())) {
      standIn(picture_);
      return;
    }
  }
  standIn_.reset();
  window_ = nullptr;
  erasePending_ = true;
}

void CairoSurface::giveBackPixels() {
  if (erasePending_) releaseOwnPixels();
}

void CairoSurface::releaseOwnPixels() const {
  // The pages read back as zero when next touched; makeDrawable() fills them before that matters.
  if (pixels_) ::madvise(pixels_, pixelBytes_, MADV_DONTNEED);
}

bool CairoSurface::coversWholly(const Picture* p) const {
  return p && p->opaque() && p->width() == width_ && p->height() == height_;
}

void CairoSurface::standIn(std::shared_ptr<const Picture> p) const {
  window_ = nullptr;
  standIn_ = std::move(p);
  backgroundOnly_ = true;
  releaseOwnPixels();
}

namespace {

std::shared_ptr<const Picture> copyOf(cairo_surface_t* from, int width, int height) {
  cairo_surface_flush(from);
  cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(copy);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, from, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  return std::make_shared<Picture>(copy);
}

}  // namespace

void CairoSurface::dropStandIn() const {
  if (window_ && pictureOnWindow_) {
    // Rare: drawn over a slideshow picture that only the window held.
    const_cast<CairoSurface*>(this)->picture_ = copyOf(window_->image(), windowPictureWidth_, windowPictureHeight_);
    pictureOnWindow_ = false;
  }
  standIn_.reset();
  window_ = nullptr;
}

void CairoSurface::fillFromStandIn() const {
  paintPendingErase();
  if (!standIn_ && !window_) return;
  if (window_ && pictureOnWindow_) dropStandIn();  // the kept copy of the picture now stands in
  cairo_surface_t* from = standIn_ ? standIn_->cairo() : window_ ? window_->image() : picture_->cairo();
  cairo_surface_flush(from);
  cairo_save(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr_, from, 0, 0);
  cairo_paint(cr_);
  cairo_restore(cr_);
  standIn_.reset();
  window_ = nullptr;
  checkContext();
}

void CairoSurface::makeDrawable() const {
  fillFromStandIn();
  backgroundOnly_ = false;  // the caller draws
}

cairo_surface_t* CairoSurface::image() const {
  if (standIn_) return standIn_->cairo();
  if (window_) return window_->image();
  paintPendingErase();
  return surface_;
}

void CairoSurface::removePicture() {
  if (picture_) paintPendingErase();  // an erase asked for before still shows the picture
  picture_.reset();                     // (a picture or window standing in for the pixels stays)
  pictureOnWindow_ = false;
}

bool CairoSurface::pictureShownOn(const WindowImage& window) {
  cairo_surface_t* shown = window.image();
  if (!shown || cairo_image_surface_get_width(shown) != width_ || cairo_image_surface_get_height(shown) != height_ ||
      cairo_image_surface_get_format(shown) != CAIRO_FORMAT_RGB24) {
    return false;
  }
  // Either the picture on the back colour is all this surface shows (it has just been presented),
  // or the surface was cleared without a picture and nothing drawn since (the same page again).
  const bool presented = picture_ && picture_->opaque() && backgroundOnly_ && !erasePending_ &&
                         (!standIn_ || standIn_ == picture_) && !window_;
  const bool cleared = erasePending_ && !picture_ && !pictureOnWindow_;
  const bool already = window_ == &window && pictureOnWindow_;
  if (!presented && !cleared && !already) return false;
  if (presented) {
    windowPictureWidth_ = std::min(picture_->width(), width_);
    windowPictureHeight_ = std::min(picture_->height(), height_);
  }
  picture_.reset();
  standIn_.reset();
  erasePending_ = false;
  window_ = &window;
  pictureOnWindow_ = true;
  windowBack_ = back_;
  releaseOwnPixels();
  return true;
}

void CairoSurface::paintPendingErase() const {
  if (!erasePending_) return;
  erasePending_ = false;
  cairo_save(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  setSource(back_);
  cairo_paint(cr_);
  if (picture_) {
    // Over, not source: outside the picture and under its transparent pixels the back colour stays.
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
    cairo_set_source_surface(cr_, picture_->cairo(), 0, 0);
    cairo_paint(cr_);
  }
  cairo_restore(cr_);
  checkContext();
  backgroundOnly_ = true;
}

void CairoSurface::setPicture(std::shared_ptr<const Picture> picture) {
  pictureOnWindow_ = false;  // the new picture takes the old one's place
  if (coversWholly(picture.get())) {
    erasePending_ = false;
    picture_ = std::move(picture);
    standIn(picture_);
    return;
  }
  // Whether the surface will show this picture on the back colour and nothing else.
  const bool onBackOnly = erasePending_ || (backgroundOnly_ && !picture_ && !standIn_ && !window_);
  // An opaque picture over the whole surface replaces every pixel an erase would paint.
  if (picture && picture->opaque() && picture->width() >= width_ && picture->height() >= height_) {
    erasePending_ = false;
    standIn_.reset();
    window_ = nullptr;
  }
  makeDrawable();
  picture_ = std::move(picture);
  if (!picture_) {
    backgroundOnly_ = onBackOnly;
    return;
  }
  cairo_save(cr_);
  // Transparent pixels show the back colour the erase has just painted.
  cairo_set_operator(cr_, picture_->opaque() ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
  cairo_set_source_surface(cr_, picture_->cairo(), 0, 0);
  cairo_rectangle(cr_, 0, 0, picture_->width(), picture_->height());
  cairo_fill(cr_);
  cairo_restore(cr_);
  checkContext();
  backgroundOnly_ = onBackOnly;
}

bool writePng(cairo_surface_t* image, const std::string& path) {
  cairo_surface_flush(image);
  const cairo_status_t st = cairo_surface_write_to_png(image, path.c_str());
  if (st != CAIRO_STATUS_SUCCESS) {
    logLine("cannot write " + path + ": " + cairo_status_to_string(st));
    return false;
  }
  return true;
}

}  // namespace plasma
