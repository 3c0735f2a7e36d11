#include "support/legacy.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "support/utf8.h"

namespace plasma {

const char* errorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Overflow: return "overflow";
    case ErrorKind::TypeMismatch: return "type mismatch";
    case ErrorKind::SubscriptOutOfRange: return "subscript out of range";
    case ErrorKind::FileNotFound: return "file not found";
    case ErrorKind::TransferFailed: return "transfer failed";
    case ErrorKind::InvalidPicture: return "invalid picture";
    case ErrorKind::BadDocument: return "bad document";
  }
  return "error";
}

RuntimeError::RuntimeError(ErrorKind kind, const std::string& message)
    : std::runtime_error(std::string(errorKindName(kind)) + ": " + message),
      kind_(kind),
      message_(message) {}

Int16 checked16(long long value) {
  if (value < -32768 || value > 32767) {
    throw RuntimeError(ErrorKind::Overflow, std::to_string(value) + " is outside the 16-bit range");
  }
  return static_cast<Int16>(value);
}

double roundHalfEven(double value) {
  // nearbyint honours the current rounding mode, which is round-to-nearest-even by default; make
  // sure nobody changed it under us.
  if (std::fegetround() != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  return std::nearbyint(value);
}

Int16 round16(double value) {
  if (!std::isfinite(value)) {
    throw RuntimeError(ErrorKind::Overflow, "a non-finite value has no 16-bit integer");
  }
  const double r = roundHalfEven(value);
  if (r < -32768.0 || r > 32767.0) {
    throw RuntimeError(ErrorKind::Overflow, std::to_string(value) + " is outside the 16-bit range");
  }
  return static_cast<Int16>(r);
}

std::int32_t round32(double value) {
  const double r = std::isfinite(value) ? roundHalfEven(value) : 1e300;
  if (r < -2147483648.0 || r > 2147483647.0) {
    throw RuntimeError(ErrorKind::Overflow, "value outside the 32-bit range");
  }
  return static_cast<std::int32_t>(r);
}

double floorCoordinate(double value) { return std::floor(value); }

double toSingle(double value) { return static_cast<double>(static_cast<float>(value)); }

Int16 add16(Int16 a, Int16 b) { return checked16(static_cast<long long>(a) + b); }
Int16 sub16(Int16 a, Int16 b) { return checked16(static_cast<long long>(a) - b); }

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads "[sign]digits[.digits]" from the start of text; returns the characters consumed (0 when
// there is no number).
std::size_t readNumber(std::string_view text, double& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  double v = 0.0;
  bool any = false;
  while (i < text.size() && isDigit(text[i])) {
    v = v * 10.0 + (text[i] - '0');
    any = true;
    ++i;
  }
  if (i < text.size() && text[i] == '.') {
    std::size_t j = i + 1;
    double scale = 0.1;
    bool fraction = false;
    while (j < text.size() && isDigit(text[j])) {
      v += (text[j] - '0') * scale;
      scale /= 10.0;
      fraction = true;
      ++j;
    }
    if (fraction || any) {
      any = any || fraction;
      i = j;
    }
  }
  if (!any) return 0;
  value = negative ? -v : v;
  return i;
}

}  // namespace

double lenientValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  double value = 0.0;
  if (readNumber(text.substr(i), value) == 0) return 0.0;
  return value;
}

Int16 strictInt16(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  const std::string_view core = text.substr(begin, end - begin);
  double value = 0.0;
  if (core.empty() || readNumber(core, value) != core.size()) {
    throw RuntimeError(ErrorKind::TypeMismatch, "\"" + escapeForLog(text) + "\" is not a number");
  }
  return round16(value);
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t pos = text.find(separator, start);
    if (pos == std::string_view::npos) {
      parts.emplace_back(text.substr(start));
      return parts;
    }
    parts.emplace_back(text.substr(start, pos - start));
    start = pos + 1;
  }
}

double minuteOfDayExact(std::string_view hm) {
  const auto parts = split(hm, ':');
  if (parts.size() < 2) {
    throw RuntimeError(ErrorKind::SubscriptOutOfRange,
                       "time \"" + escapeForLog(hm) + "\" has no minute part");
  }
  return lenientValue(parts[0]) * 60.0 + lenientValue(parts[1]);
}

Int16 minuteOfDay(std::string_view hm) { return round16(minuteOfDayExact(hm)); }

std::string decimal(long long value) { return std::to_string(value); }

std::string escapeForLog(std::string_view text, std::size_t maxLength) {
  std::string out;
  char buf[8];
  for (std::size_t i = 0; i < text.size();) {
    if (out.size() >= maxLength) {
      out += "...";
      break;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = utf8SequenceLength(text, i);
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c < 0x20 || c == 0x7f || n == 0) {
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080..U+009F: C1 controls, which a terminal obeys like their 7-bit forms.
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
      out += buf;
    } else {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    i += n == 0 ? 1 : n;
  }
  return out;
}

std::string maskCredentials(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const std::size_t start = scheme + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = url.substr(0, end).rfind('@');
  if (at == std::string_view::npos || at < start) return std::string(url);
  const std::size_t colon = url.substr(0, at).find(':', start);
  const std::string_view keep = colon == std::string_view::npos ? std::string_view() : url.substr(start, colon - start + 1);
  return std::string(url.substr(0, start)) + std::string(keep) + "***" + std::string(url.substr(at));
}

std::string urlForLog(std::string_view url) { return escapeForLog(maskCredentials(url), 300); }

}  // namespace plasma
