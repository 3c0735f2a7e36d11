#include "canvas/recording_surface.h"

#include <ostream>
#include <stdexcept>

namespace plasma {

const char* drawOpKindName(DrawOp::Kind kind) {
  switch (kind) {
    case DrawOp::Kind::Print: return "print";
    case DrawOp::Kind::Line: return "line";
    case DrawOp::Kind::Box: return "box";
    case DrawOp::Kind::FilledBox: return "filledBox";
    case DrawOp::Kind::Circle: return "circle";
    case DrawOp::Kind::Copy: return "copy";
    case DrawOp::Kind::Clear: return "clear";
    case DrawOp::Kind::SetBack: return "setBack";
    case DrawOp::Kind::SetPicture: return "setPicture";
    case DrawOp::Kind::Resize: return "resize";
  }
  return "?";
}

std::ostream& operator<<(std::ostream& os, const DrawOp& op) {
  os << drawOpKindName(op.kind);
  if (!op.text.empty()) os << " \"" << op.text << "\"";
  os << " (" << op.x << ", " << op.y << ")";
  if (op.kind != DrawOp::Kind::Print) os << "-(" << op.x2 << ", " << op.y2 << ")";
  if (op.kind == DrawOp::Kind::Circle) os << " r=" << op.radius;
  os << " fore=" << op.fore << " fill=" << op.fill
     << (op.fillStyle == FillStyle::Solid ? " solid" : " transparent");
  if (op.kind == DrawOp::Kind::Print) {
    os << " size=" << op.fontSize << (op.italic ? " italic" : "") << (op.underline ? " underline" : "");
  }
  return os;
}

DrawOp RecordingSurface::make(DrawOp::Kind kind) const {
  DrawOp op;
  op.kind = kind;
  op.fore = inner_.foreColour();
  op.fill = inner_.fillColour();
  op.fillStyle = inner_.fillStyle();
  op.fontSize = inner_.fontSize();
  op.italic = inner_.italic();
  op.underline = inner_.underline();
  return op;
}

std::vector<DrawOp> RecordingSurface::ops(DrawOp::Kind kind) const {
  std::vector<DrawOp> out;
  for (const auto& op : ops_) {
    if (op.kind == kind) out.push_back(op);
  }
  return out;
}

std::vector<std::string> RecordingSurface::texts() const {
  std::vector<std::string> out;
  for (const auto& op : ops_) {
    if (op.kind == DrawOp::Kind::Print) out.push_back(op.text);
  }
  return out;
}

const DrawOp& RecordingSurface::printed(const std::string& text) const {
  for (const auto& op : ops_) {
    if (op.kind == DrawOp::Kind::Print && op.text == text) return op;
  }
  throw std::out_of_range("nothing printed as \"" + text + "\"");
}

bool RecordingSurface::hasPrinted(const std::string& text) const {
  for (const auto& op : ops_) {
    if (op.kind == DrawOp::Kind::Print && op.text == text) return true;
  }
  return false;
}

void RecordingSurface::resize(int width, int height) {
  DrawOp op = make(DrawOp::Kind::Resize);
  op.x2 = width;
  op.y2 = height;
  ops_.push_back(op);
  inner_.resize(width, height);
}

void RecordingSurface::setBackColour(Colour c) {
  DrawOp op = make(DrawOp::Kind::SetBack);
  op.fill = c;
  ops_.push_back(op);
  inner_.setBackColour(c);
}

void RecordingSurface::print(std::string_view text) {
  DrawOp op = make(DrawOp::Kind::Print);
  op.text = std::string(text);
  op.x = inner_.currentX();
  op.y = inner_.currentY();
  ops_.push_back(op);
  inner_.print(text);
}

namespace {
DrawOp withCorners(DrawOp op, double x1, double y1, double x2, double y2) {
  op.x = x1;
  op.y = y1;
  op.x2 = x2;
  op.y2 = y2;
  return op;
}
}  // namespace

void RecordingSurface::line(double x1, double y1, double x2, double y2) {
  ops_.push_back(withCorners(make(DrawOp::Kind::Line), x1, y1, x2, y2));
  inner_.line(x1, y1, x2, y2);
}

void RecordingSurface::box(double x1, double y1, double x2, double y2) {
  ops_.push_back(withCorners(make(DrawOp::Kind::Box), x1, y1, x2, y2));
  inner_.box(x1, y1, x2, y2);
}

void RecordingSurface::filledBox(double x1, double y1, double x2, double y2) {
  ops_.push_back(withCorners(make(DrawOp::Kind::FilledBox), x1, y1, x2, y2));
  inner_.filledBox(x1, y1, x2, y2);
}

void RecordingSurface::circle(double cx, double cy, double radius) {
  DrawOp op = make(DrawOp::Kind::Circle);
  op.x = cx;
  op.y = cy;
  op.radius = radius;
  ops_.push_back(op);
  inner_.circle(cx, cy, radius);
}

void RecordingSurface::copyFrom(const Surface& source, int sx, int sy, int width, int height,
                                int dx, int dy) {
  DrawOp op = make(DrawOp::Kind::Copy);
  op.x = dx;
  op.y = dy;
  op.x2 = width;
  op.y2 = height;
  op.sx = sx;
  op.sy = sy;
  op.source = &source;
  ops_.push_back(op);
  inner_.copyFrom(source, sx, sy, width, height, dx, dy);
}

void RecordingSurface::clear() {
  ops_.push_back(make(DrawOp::Kind::Clear));
  inner_.clear();
}

void RecordingSurface::setPicture(std::shared_ptr<const Picture> picture) {
  ops_.push_back(make(DrawOp::Kind::SetPicture));
  inner_.setPicture(std::move(picture));
}

}  // namespace plasma
