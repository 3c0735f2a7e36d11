// Placeholder until the timetable feed is built: every load fails.
#include "display/display.h"
#include "platform/http_client.h"

namespace plasma {
void Display::loadTimetable() { clearCanvas(); }
void Display::startTimetableLoad() { clearCanvas(); }
void Display::applyTimetableResponse(const std::string&, const HttpResponse&) { clearCanvas(); }
ParsedTimetable parseTimetable(std::string_view) {
  throw RuntimeError(ErrorKind::BadDocument, "the parser is not built yet");
}
std::string decodeDocumentText(std::string_view raw) { return std::string(raw); }
std::unique_ptr<HttpClient> makeCurlHttpClient() { return nullptr; }
}  // namespace plasma
