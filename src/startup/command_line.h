#pragma once
#include <optional>
#include <string>
#include <vector>

#include "support/legacy.h"

namespace plasma {

inline constexpr const char* kApplicationTitle = "Vantrel Plasma Display";
inline constexpr const char* kArgumentsMessage = "The expected arguments have not been received!";
// The site's timetable server, by host name only; argument 3 overrides it.
inline constexpr const char* kDefaultBaseUrl = "http://timetable";

// What the command line asked for, or why it cannot be used.
struct StartArguments {
  enum class Outcome { Start, WrongCount, NotANumber, BadUrl };
  Outcome outcome = Outcome::WrongCount;
  Int16 displayType = 0;
  Int16 screenIndex = 0;
  std::string serverBaseUrl;
  std::string error;  // for NotANumber and BadUrl: which argument and what is wrong with it
};

// The argument tail as the legacy runtime saw it: the arguments joined with single spaces.
std::string argumentTail(int argc, char** argv);

// Splits the tail on every space (so doubled or trailing spaces give empty arguments); exactly two
// or three parts are accepted; parts 1 and 2 must be integers; a base URL may not carry a query or
// a fragment (the request path is appended to it, and either would silently change the request).
StartArguments parseStartArguments(const std::string& tail);

}  // namespace plasma
