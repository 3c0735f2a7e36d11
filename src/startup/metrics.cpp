#include "startup/metrics.h"

#include <cstdint>

namespace plasma {

namespace {

// A label value: backslash, double quote and line feed escaped; nothing else is special.
std::string labelValue(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out + "\"";
}

class Writer {
 public:
  explicit Writer(std::string display) : display_(labelValue(display)) {}

  void metric(const char* name, const char* type, const char* help, std::int64_t value,
              const std::string& moreLabels = "") {
    text_ += std::string("# HELP ") + name + " " + help + "\n";
    text_ += std::string("# TYPE ") + name + " " + type + "\n";
    text_ += std::string(name) + "{display=" + display_ + moreLabels + "} " + std::to_string(value) + "\n";
  }
  std::string text() const { return text_; }

 private:
  std::string display_;
  std::string text_;
};

}  // namespace

std::string prometheusText(const StatusReport& r) {
  // The label is "display", not "instance": Prometheus gives every scraped series an "instance"
  // label of its own (the PC), which would push this one aside.
  Writer w(r.instance);
  w.metric("plasma_display_up", "gauge", "1 while the display runs.", 1);
  w.metric("plasma_display_build_info", "gauge", "The display's version, display type and screen.", 1,
           ",version=" + labelValue(r.version) + ",type=" + labelValue(std::to_string(r.displayType)) +
               ",screen=" + labelValue(std::to_string(r.screen)));
  w.metric("plasma_display_start_time_seconds", "gauge", "When the display started, in seconds since the epoch.",
           r.startWall);
  w.metric("plasma_display_last_good_load_timestamp_seconds", "gauge",
           "Time of the last good timetable load in seconds since the epoch; 0 before the first.",
           r.lastGoodLoadWall);
  w.metric("plasma_display_load_failures_in_a_row", "gauge",
           "Failed timetable loads since the last good one.", r.failuresInARow);
  w.metric("plasma_display_loads_total", "counter", "Timetable loads attempted.", r.loads);
  w.metric("plasma_display_load_failures_total", "counter", "Timetable loads that failed.", r.failures);
  w.metric("plasma_display_page_changes_total", "counter", "Pages presented on the screen.", r.pageChanges);
  w.metric("plasma_display_page", "gauge", "The page on screen (1 for its name).", 1, ",page=" + labelValue(r.page));
  return w.text();
}

}  // namespace plasma
