#include "test_support/rig.h"

#include <sstream>

namespace plasma::test {

HttpResponse ScriptedHttpClient::get(const std::string& url) {
  urls.push_back(url);
  if (responses.empty()) return {false, 0, "", "no scripted response"};
  HttpResponse r = responses.front();
  if (responses.size() > 1) responses.pop_front();
  return r;
}

Rig::Rig(int width, int height) : Rig(width, height, makePictureFileLoader(), FetchMode::Inline) {}

Rig::Rig(int width, int height, std::unique_ptr<ImageLoader> loader, FetchMode mode)
    : window(width, height),
      images(std::move(loader)),
      display(std::make_unique<Display>(window, loop, http, *images, mode, screenCycle())) {
  display->onPagePresented = [this](PageName p) { pages.push_back(pageNameText(p)); };
  display->serverBaseUrl = "http://timetable.test";
  display->loadStep();
}

RecordingSurface& Rig::record() {
  recorder = std::make_unique<RecordingSurface>(display->pbDraw());
  display->setCanvasOverride(recorder.get());
  return *recorder;
}

void Rig::apply(const std::string& doc) { applyParsedTimetable(*display, parseTimetable(doc)); }

std::string document(const std::vector<std::pair<int, std::string>>& lines) {
  std::vector<std::string> l = {
      "OK", "20", "20", "15", "0", "0", "0", "1", "1",
      "Heading one|Heading two", "Text of the first message|Text of the second message",
      "|", "|", "|", "|",
      "Airport Central|10:05|1|Alpha,Beta,Gamma", "|||", "|||", "|||",
      "|||", "|||", "|||", "|||",
      "", "10:00"};
  for (const auto& [n, text] : lines) l.at(static_cast<std::size_t>(n)) = text;
  std::ostringstream os;
  for (std::size_t i = 0; i < l.size(); ++i) os << l[i] << '\n';
  return os.str();
}

Colour pixel(cairo_surface_t* image, int x, int y) {
  cairo_surface_flush(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  const auto* p = reinterpret_cast<const std::uint32_t*>(data + y * stride) + x;
  return Colour{static_cast<std::uint8_t>((*p >> 16) & 0xff), static_cast<std::uint8_t>((*p >> 8) & 0xff),
                static_cast<std::uint8_t>(*p & 0xff)};
}

std::shared_ptr<const Picture> redPicture(int w, int h) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0, 0, 1);
  cairo_rectangle(cr, w - 4, h - 4, 4, 4);
  cairo_fill(cr);
  cairo_destroy(cr);
  return std::make_shared<Picture>(s);
}

std::string fixturePath(const std::string& name) { return std::string(PLASMA_TEST_DIR) + "/fixtures/" + name; }
std::string resourcePath(const std::string& name) {
  return std::string(PLASMA_SOURCE_DIR) + "/resources/" + name;
}

}  // namespace plasma::test
