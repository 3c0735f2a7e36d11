#pragma once
#include <string>
#include <vector>

#include "canvas/surface.h"

namespace plasma {

// One drawing operation as it reached the surface, with its pixel geometry and the state in force.
struct DrawOp {
  enum class Kind { Print, Line, Box, FilledBox, Circle, Copy, Clear, SetBack, SetPicture, Resize };
  Kind kind = Kind::Print;
  std::string text;            // Print: the text
  double x = 0, y = 0;         // Print: top-left; Line/Box: first corner; Circle: centre; Copy: dest
  double x2 = 0, y2 = 0;       // Line/Box: second corner; Copy: width, height
  double radius = 0;           // Circle
  double sx = 0, sy = 0;       // Copy: source origin
  Colour fore;                 // fore colour in force
  Colour fill;                 // fill colour in force
  FillStyle fillStyle = FillStyle::Transparent;
  double fontSize = 0;
  bool italic = false;
  bool underline = false;
  const Surface* source = nullptr;  // Copy: where the pixels came from
};

const char* drawOpKindName(DrawOp::Kind kind);
std::ostream& operator<<(std::ostream& os, const DrawOp& op);

// Forwards every operation to another surface and keeps a log of what was drawn, for tests.
class RecordingSurface final : public Surface {
 public:
  explicit RecordingSurface(Surface& inner) : inner_(inner) {}

  const std::vector<DrawOp>& ops() const { return ops_; }
  void reset() { ops_.clear(); }
  // The operations of one kind, in drawing order.
  std::vector<DrawOp> ops(DrawOp::Kind kind) const;
  // The texts printed, in order.
  std::vector<std::string> texts() const;
  // The first print of exactly this text; throws std::out_of_range when there is none.
  const DrawOp& printed(const std::string& text) const;
  bool hasPrinted(const std::string& text) const;

  int pixelWidth() const override { return inner_.pixelWidth(); }
  int pixelHeight() const override { return inner_.pixelHeight(); }
  void resize(int width, int height) override;
  void setBackColour(Colour c) override;
  Colour backColour() const override { return inner_.backColour(); }
  void setForeColour(Colour c) override { inner_.setForeColour(c); }
  Colour foreColour() const override { return inner_.foreColour(); }
  void setFillColour(Colour c) override { inner_.setFillColour(c); }
  Colour fillColour() const override { return inner_.fillColour(); }
  void setFillStyle(FillStyle style) override { inner_.setFillStyle(style); }
  FillStyle fillStyle() const override { return inner_.fillStyle(); }
  void setFontSize(double points) override { inner_.setFontSize(points); }
  double fontSize() const override { return inner_.fontSize(); }
  void setItalic(bool on) override { inner_.setItalic(on); }
  bool italic() const override { return inner_.italic(); }
  void setUnderline(bool on) override { inner_.setUnderline(on); }
  bool underline() const override { return inner_.underline(); }
  void moveTo(double x, double y) override { inner_.moveTo(x, y); }
  double currentX() const override { return inner_.currentX(); }
  double currentY() const override { return inner_.currentY(); }
  void print(std::string_view text) override;
  double textWidth(std::string_view text) const override { return inner_.textWidth(text); }
  double textHeight(std::string_view text) const override { return inner_.textHeight(text); }
  void line(double x1, double y1, double x2, double y2) override;
  void box(double x1, double y1, double x2, double y2) override;
  void filledBox(double x1, double y1, double x2, double y2) override;
  void circle(double cx, double cy, double radius) override;
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                int dy) override;
  void clear() override;
  void setPicture(std::shared_ptr<const Picture> picture) override;
  void removePicture() override { inner_.removePicture(); }
  bool hasPicture() const override { return inner_.hasPicture(); }
  cairo_surface_t* image() const override { return inner_.image(); }

 private:
  DrawOp make(DrawOp::Kind kind) const;
  Surface& inner_;
  std::vector<DrawOp> ops_;
};

}  // namespace plasma
