#pragma once
#include <cairo.h>

#include <string>

namespace plasma {

// The canvas's standing face, Arial Narrow bold and bold italic, resolved once through fontconfig
// (so a real Arial Narrow wins where installed, Liberation Sans Narrow otherwise) and loaded from
// its file with slight hinting and hinted metrics, so that ascent, descent and advances are whole
// pixels.
struct FontFace {
  cairo_font_face_t* face = nullptr;
  std::string file;
  double underlinePosition = 0;   // below the baseline, in em units (positive = down)
  double underlineThickness = 0;  // in em units
};

const FontFace& standingFace(bool italic);
const cairo_font_options_t* standingFontOptions();

// Font size in points to the em size in pixels at 96 dpi.
inline double emPixels(double points) { return points * 96.0 / 72.0; }

}  // namespace plasma
