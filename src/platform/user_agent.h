#pragma once
#include <string>

namespace plasma {

// "plasma-display/VERSION (instance NAME)": lets the timetable server tell the screens apart in
// its logs. Anything but printable ASCII in the name becomes '_', so the header stays one line.
std::string userAgentText(const std::string& version, const std::string& instance);

}  // namespace plasma
