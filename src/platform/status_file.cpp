#include "platform/status_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/private_folder.h"
#include "support/utf8.h"

namespace plasma {

namespace {

// A JSON string. Failure reasons can carry bytes from the server, so anything that is not UTF-8
// becomes U+FFFD rather than a document that strict readers refuse.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c >= 0x80) {
      const std::size_t n = utf8SequenceLength(s, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
        continue;
      }
      out.append(s, i, n);
      i += n;
      continue;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out + "\"";
}

std::string timeOrNull(std::int64_t wallSeconds) {
  return wallSeconds > 0 ? quoted(utcTimestamp(wallSeconds)) : "null";
}

std::string textOrNull(const std::string& text) { return text.empty() ? "null" : quoted(text); }

const char* phaseName(int phase) {
  switch (phase) {
    case 0: return "own page";
    case 1: return "departure board";
    case 2: return "message page";
    default: return "unknown";
  }
}

}  // namespace

std::string utcTimestamp(std::int64_t wallSeconds) {
  const std::time_t t = static_cast<std::time_t>(wallSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string statusJson(const StatusReport& r) {
  std::string j = "{\n";
  const auto field = [&j](const char* name, const std::string& value, bool last = false) {
    j += std::string("  \"") + name + "\": " + value + (last ? "\n" : ",\n");
  };
  field("instance", quoted(r.instance));
  field("version", quoted(r.version));
  field("pid", std::to_string(r.pid));
  field("uptimeSeconds", std::to_string(r.uptimeSeconds));
  field("written", timeOrNull(r.writtenWall));
  field("displayType", std::to_string(r.displayType));
  field("screen", std::to_string(r.screen));
  field("serverBaseUrl", quoted(r.serverBaseUrl));
  field("phase", std::to_string(r.phase));
  field("phaseName", quoted(phaseName(r.phase)));
  field("page", quoted(r.page));
  field("layoutVariant", std::to_string(r.layoutVariant));
  field("lastGoodLoad", timeOrNull(r.lastGoodLoadWall));
  field("lastFailure", textOrNull(r.lastFailure));
  field("lastFailureTime", timeOrNull(r.lastFailureWall));
  field("failuresInARow", std::to_string(r.failuresInARow));
  field("loads", std::to_string(r.loads));
  field("failures", std::to_string(r.failures));
  field("lastPageError", textOrNull(r.lastPageError));
  field("lastPageErrorTime", timeOrNull(r.lastPageErrorWall), true);
  return j + "}\n";
}

std::string statusFolder() {
  if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
    const std::string all = state;
    return all.substr(0, all.find(':'));
  }
  return runtimeFolderPath();
}

std::string instanceFileName(const std::string& prefix, const std::string& instance,
                             const std::string& extension) {
  return prefix + "-" + safeInstanceName(instance) + extension;
}

}  // namespace plasma
