#include "canvas/fonts.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <mutex>
#include <stdexcept>
#include <string>

#include "support/log.h"

namespace plasma {
namespace {

std::string resolveFile(const char* pattern) {
  FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  std::string file;
  if (match) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) {
      file = reinterpret_cast<const char*>(path);
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pat);
  return file;
}

struct Faces {
  FT_Library library = nullptr;
  FontFace regular;
  FontFace italic;
  cairo_font_options_t* options = nullptr;
};

FontFace loadFace(FT_Library library, const char* pattern) {
  FontFace f;
  f.file = resolveFile(pattern);
  FT_Face ft = nullptr;
  if (f.file.empty() || FT_New_Face(library, f.file.c_str(), 0, &ft) != 0) {
    logLine(std::string("cannot load the canvas font \"") + pattern + "\" (" +
            (f.file.empty() ? "fontconfig found no file" : f.file) + ")");
    throw std::runtime_error("canvas font missing");
  }
  f.face = cairo_ft_font_face_create_for_ft_face(ft, 0);
  const double units = ft->units_per_EM > 0 ? ft->units_per_EM : 2048.0;
  f.underlinePosition = -ft->underline_position / units;
  f.underlineThickness = ft->underline_thickness / units;
  // The FT_Face lives as long as the process, as does the cairo face that holds it.
  return f;
}

Faces& faces() {
  static Faces* instance = [] {
    auto* fs = new Faces;
    FcInit();
    FT_Init_FreeType(&fs->library);
    fs->regular = loadFace(fs->library, "Arial Narrow:bold");
    fs->italic = loadFace(fs->library, "Arial Narrow:bold:italic");
    fs->options = cairo_font_options_create();
    cairo_font_options_set_hint_style(fs->options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(fs->options, CAIRO_HINT_METRICS_ON);
    cairo_font_options_set_antialias(fs->options, CAIRO_ANTIALIAS_GRAY);
    return fs;
  }();
  return *instance;
}

}  // namespace

const FontFace& standingFace(bool italic) { return italic ? faces().italic : faces().regular; }

const cairo_font_options_t* standingFontOptions() { return faces().options; }

}  // namespace plasma
