#include "startup/command_line.h"

namespace plasma {

std::string argumentTail(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return tail;
}

StartArguments parseStartArguments(const std::string& tail) {
  StartArguments a;
  const std::vector<std::string> parts = split(tail, ' ');
  if (parts.size() != 2 && parts.size() != 3) {
    a.outcome = StartArguments::Outcome::WrongCount;
    return a;
  }
  const char* names[] = {"display type (argument 1)", "screen index (argument 2)"};
  for (int i = 0; i < 2; ++i) {
    try {
      const Int16 v = strictInt16(parts[static_cast<std::size_t>(i)]);
      (i == 0 ? a.displayType : a.screenIndex) = v;
    } catch (const RuntimeError& e) {
      a.outcome = StartArguments::Outcome::NotANumber;
      a.error = std::string("the ") + names[i] + " \"" + escapeForLog(parts[static_cast<std::size_t>(i)]) +
                "\" is not a 16-bit integer (" + e.what() + ")";
      return a;
    }
  }
  a.serverBaseUrl = parts.size() == 3 ? parts[2] : kDefaultBaseUrl;
  if (const auto at = a.serverBaseUrl.find_first_of("?#"); at != std::string::npos) {
    a.outcome = StartArguments::Outcome::BadUrl;
    a.error = "the base URL (argument 3) \"" + urlForLog(a.serverBaseUrl) + "\" has a " +
              (a.serverBaseUrl[at] == '?' ? "query (\"?\")" : "fragment (\"#\")") +
              "; give the server's address and path only, the display adds the request";
    return a;
  }
  a.outcome = StartArguments::Outcome::Start;
  return a;
}

}  // namespace plasma
