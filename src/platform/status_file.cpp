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

namespace plasma {

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t utf8SequenceLength(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  unsigned lowest = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2, lowest = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, lowest = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, lowest = 0x10000;
  else return 0;
  if (i + n > s.size()) return 0;
  unsigned code = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

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
  std::string safe;
  for (char c : instance) {
    safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
  }
  if (safe.empty()) safe = "default";
  return prefix + "-" + safe + extension;
}

bool writeTextAtomic(const std::string& path, const std::string& text, std::string* error) {
  const std::string tmp = path + ".tmp";
  const auto fail = [&](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    return false;
  };
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot create " + tmp);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      const bool r = fail("cannot write " + tmp);
      ::close(fd);
      ::unlink(tmp.c_str());
      return r;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    const bool r = fail("cannot write " + tmp);
    ::unlink(tmp.c_str());
    return r;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    const bool r = fail("cannot replace " + path);
    ::unlink(tmp.c_str());
    return r;
  }
  return true;
}

}  // namespace plasma
