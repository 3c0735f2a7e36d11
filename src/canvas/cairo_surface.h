#pragma once
#include <vector>

#include "canvas/surface.h"

namespace plasma {

// A Surface on an opaque Cairo image (RGB24), so copies to the window are plain memory copies.
class CairoSurface final : public Surface {
 public:
  CairoSurface(int width, int height);
  ~CairoSurface() override;
  CairoSurface(const CairoSurface&) = delete;
  CairoSurface& operator=(const CairoSurface&) = delete;

  // A surface that shows a decoded picture at its natural size (the logo holders).
  static std::unique_ptr<CairoSurface> fromPicture(const Picture& picture);

  int pixelWidth() const override { return width_; }
  int pixelHeight() const override { return height_; }
  void resize(int width, int height) override;

  void setBackColour(Colour c) override;
  Colour backColour() const override { return back_; }
  void setForeColour(Colour c) override { fore_ = c; }
  Colour foreColour() const override { return fore_; }
  void setFillColour(Colour c) override { fill_ = c; }
  Colour fillColour() const override { return fill_; }
  void setFillStyle(FillStyle style) override { fillStyle_ = style; }
  FillStyle fillStyle() const override { return fillStyle_; }

  void setFontSize(double points) override;
  double fontSize() const override { return fontSize_; }
  void setItalic(bool on) override;
  bool italic() const override { return italic_; }
  void setUnderline(bool on) override { underline_ = on; }
  bool underline() const override { return underline_; }

  void moveTo(double x, double y) override;
  double currentX() const override { return x_; }
  double currentY() const override { return y_; }

  void print(std::string_view text) override;
  double textWidth(std::string_view text) const override;
  double textHeight(std::string_view text) const override;

  void line(double x1, double y1, double x2, double y2) override;
  void box(double x1, double y1, double x2, double y2) override;
  void filledBox(double x1, double y1, double x2, double y2) override;
  void circle(double cx, double cy, double radius) override;
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                int dy) override;

  void clear() override;
  void setPicture(std::shared_ptr<const Picture> picture) override;
  void removePicture() override;
  bool hasPicture() const override { return picture_ || pictureOnWindow_; }
  bool pictureShownOn(const WindowImage& window) override;
  void giveBackPixels() override;

  // The pixels as they are now. While an opaque picture covers the whole surface and nothing has
  // been drawn over it, that is the picture's own image.
  cairo_surface_t* image() const override;

 private:
  void create(int width, int height);
  void destroy();
  // Erasing is deferred to the first operation that touches or reads the pixels: pages set the
  // back colour and clear several times before they draw, and each erase of a 4K canvas costs as
  // much as a frame copy.
  void paintPendingErase() const;
  // Before anything draws: the pending erase is painted, and a picture that stands in for the
  // pixels is copied into them.
  void makeDrawable() const;
  void fillFromStandIn() const;
  bool coversWholly(const Picture* p) const;
  // The surface's pixels are now exactly `p`'s: its own memory is given back to the system.
  void standIn(std::shared_ptr<const Picture> p) const;
  // Gives the surface's own pixel memory back to the system while something else holds the pixels.
  void releaseOwnPixels() const;
  // Ends a stand-in before the pixels change otherwise; a background picture that lived only on
  // the window is copied back first, so a later clear still shows it.
  void dropStandIn() const;
  void applyFont() const;
  void setSource(Colour c) const;
  void checkContext() const;

  int width_ = 0;
  int height_ = 0;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  Colour back_ = colours::kWhite;
  Colour fore_ = colours::kBlack;
  Colour fill_ = colours::kBlack;
  FillStyle fillStyle_ = FillStyle::Transparent;
  double fontSize_ = 18.0;
  bool italic_ = false;
  bool underline_ = false;
  double x_ = 0;
  double y_ = 0;
  std::shared_ptr<const Picture> picture_;
  mutable bool erasePending_ = false;
  // A slideshow picture is as large as the screen: while it is all the surface shows, the surface
  // keeps no copy of its own, so a picture page holds one screenful of pixels, not two.
  mutable std::shared_ptr<const Picture> standIn_;
  // The window's image stands in the same way once the picture has been presented.
  mutable const WindowImage* window_ = nullptr;
  mutable bool pictureOnWindow_ = false;  // the background picture is the window's pixels
  Colour windowBack_;                     // on this back colour,
  int windowPictureWidth_ = 0;            // this much of it being the picture
  int windowPictureHeight_ = 0;
  // Nothing but the back colour and the background picture since the last erase.
  mutable bool backgroundOnly_ = false;
  unsigned char* pixels_ = nullptr;  // mapped by the surface itself, so it can be given back
  std::size_t pixelBytes_ = 0;

  // Antialiased circles cost Cairo ten times what compositing a ready disc does, and a board draws
  // the same three discs on every repaint; so each disc is drawn once onto a small transparent
  // image and composited from then on. The key holds the sub-pixel position, so the pixels match
  // a direct drawing (to within one level of rounding).
  struct Disc {
    double radius, fracX, fracY;
    Colour fill, fore;
    bool solid;
    int offsetX, offsetY;  // of the image's top-left from the centre's whole pixel
    cairo_surface_t* image;
  };
  std::vector<Disc> discs_;
  const Disc& disc(double cx, double cy, double radius);
  void forgetDiscs();
};

// Writes a surface's pixels as a PNG file; false (and a log line) on failure.
bool writePng(cairo_surface_t* image, const std::string& path);

}  // namespace plasma
