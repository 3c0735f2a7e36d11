#pragma once
// The drawing model every page paints with: a retained picture surface with back, fore and fill
// colours, a fill style, one standing face (Arial Narrow bold) of which only size, italic and
// underline change, a current position that text drawing advances, and whole-pixel copies.
#include <cairo.h>

#include <memory>
#include <string_view>

#include "canvas/colour.h"
#include "canvas/geometry.h"

namespace plasma {

enum class FillStyle { Solid, Transparent };

// A decoded picture: an RGB24 image, or premultiplied ARGB32 when it has transparent pixels;
// shared between the loader and the canvas.
class Picture {
 public:
  explicit Picture(cairo_surface_t* image);  // takes ownership
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  int width() const;
  int height() const;
  bool opaque() const;
  cairo_surface_t* cairo() const { return image_; }

 private:
  cairo_surface_t* image_;
};

class WindowImage;

// The operations pages use on a picture surface (the canvas, the stops strip, the logo holders).
class Surface {
 public:
  virtual ~Surface() = default;

  virtual int pixelWidth() const = 0;
  virtual int pixelHeight() const = 0;
  // Changes the surface's size; the content is erased to the back colour.
  virtual void resize(int width, int height) = 0;

  // Setting the back colour erases the surface, as clear() does.
  virtual void setBackColour(Colour c) = 0;
  virtual Colour backColour() const = 0;
  virtual void setForeColour(Colour c) = 0;
  virtual Colour foreColour() const = 0;
  virtual void setFillColour(Colour c) = 0;
  virtual Colour fillColour() const = 0;
  virtual void setFillStyle(FillStyle style) = 0;
  virtual FillStyle fillStyle() const = 0;

  virtual void setFontSize(double points) = 0;
  virtual double fontSize() const = 0;
  virtual void setItalic(bool on) = 0;
  virtual bool italic() const = 0;
  virtual void setUnderline(bool on) = 0;
  virtual bool underline() const = 0;

  virtual void moveTo(double x, double y) = 0;
  virtual double currentX() const = 0;
  virtual double currentY() const = 0;

  // Draws text with its top-left corner at the current position in the fore colour on a
  // transparent background; then x returns to 0 and y advances by one line.
  virtual void print(std::string_view text) = 0;
  // Width (sum of advances) and height (ascent + descent) of a text in the current font, pixels.
  virtual double textWidth(std::string_view text) const = 0;
  virtual double textHeight(std::string_view text) const = 0;

  // A line in the fore colour with the canvas line width.
  virtual void line(double x1, double y1, double x2, double y2) = 0;
  // A box outline in the fore colour, its interior filled with the fill colour when the fill style
  // is solid. Covers both corners.
  virtual void box(double x1, double y1, double x2, double y2) = 0;
  // A box filled entirely with the fore colour (whatever the fill style).
  virtual void filledBox(double x1, double y1, double x2, double y2) = 0;
  // A circle outline in the fore colour, its interior filled when the fill style is solid.
  virtual void circle(double cx, double cy, double radius) = 0;

  // Plain pixel copy of a rectangle of another surface onto this one.
  virtual void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                        int dy) = 0;

  // Erases to the back colour, draws the background picture again and moves to (0, 0).
  virtual void clear() = 0;
  // Makes a picture the background (drawn now at the top-left, natural size, under everything;
  // its transparent pixels show the back colour).
  virtual void setPicture(std::shared_ptr<const Picture> picture) = 0;
  virtual void removePicture() = 0;
  // True while a background picture is set: a clear then shows it, not the back colour alone.
  virtual bool hasPicture() const = 0;
  // The window now shows, whole and alone, the picture that is (or is to be again) this surface's
  // background: the surface takes the window's pixels for its own and lets the picture go, so a
  // slideshow page holds the screen once, not three times. The window must keep those pixels
  // until this surface is next cleared without the picture, drawn on or resized. False (and
  // nothing changes) where the surface cannot do this or the picture does not cover it wholly.
  virtual bool pictureShownOn(const WindowImage&) { return false; }
  // Cleared and nothing drawn since, and a screenful picture is on its way: the surface's memory
  // goes back to the system until something is drawn.
  virtual void giveBackPixels() {}

  // The pixels, for copies, raster checks and PNG output.
  virtual cairo_surface_t* image() const = 0;
};

// What a DrawingStateGuard puts back; parts combine with |.
enum class DrawingState : unsigned {
  ForeColour = 1u << 0,
  FillColour = 1u << 1,
  FillStyle = 1u << 2,
  FontSize = 1u << 3,
  Italic = 1u << 4,
  Underline = 1u << 5,
  All = (1u << 6) - 1,
};
constexpr DrawingState operator|(DrawingState a, DrawingState b) {
  return static_cast<DrawingState>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

// Saves the drawing state of a surface (colours, fill, font size, italic, underline; by default
// all of it) and puts the saved parts back when the scope ends, also when a drawing step throws: a
// step that draws in its own colours cannot leave them to the next step. The back colour is not
// part of it, since setting it erases the surface.
class DrawingStateGuard {
 public:
  explicit DrawingStateGuard(Surface& surface, DrawingState parts = DrawingState::All)
      : surface_(surface),
        parts_(parts),
        fore_(surface.foreColour()),
        fill_(surface.fillColour()),
        fillStyle_(surface.fillStyle()),
        fontSize_(surface.fontSize()),
        italic_(surface.italic()),
        underline_(surface.underline()) {}
  ~DrawingStateGuard() {
    if (has(DrawingState::ForeColour)) surface_.setForeColour(fore_);
    if (has(DrawingState::FillColour)) surface_.setFillColour(fill_);
    if (has(DrawingState::FillStyle)) surface_.setFillStyle(fillStyle_);
    if (has(DrawingState::FontSize)) surface_.setFontSize(fontSize_);
    if (has(DrawingState::Italic)) surface_.setItalic(italic_);
    if (has(DrawingState::Underline)) surface_.setUnderline(underline_);
  }
  DrawingStateGuard(const DrawingStateGuard&) = delete;
  DrawingStateGuard& operator=(const DrawingStateGuard&) = delete;

 private:
  bool has(DrawingState part) const {
    return (static_cast<unsigned>(parts_) & static_cast<unsigned>(part)) != 0;
  }
  Surface& surface_;
  DrawingState parts_;
  Colour fore_;
  Colour fill_;
  FillStyle fillStyle_;
  double fontSize_;
  bool italic_;
  bool underline_;
};

// The fixed width, in pixels, of every line, box outline and circle outline on the canvas. Two
// pixels keep a frame visible from a platform's distance without crowding a 768-line panel.
inline constexpr double kLineWidth = 2.0;

}  // namespace plasma
