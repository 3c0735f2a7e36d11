#include "platform/picture_paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "support/legacy.h"

namespace plasma {

namespace {

// '\' and '/' alike as '/', a run of separators as one, except that a path starting with two keeps
// both (a UNC path's mark), and no separator at the end.
std::string normalSeparators(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t i = 0;
  const auto separator = [&](std::size_t k) { return k < path.size() && (path[k] == '\\' || path[k] == '/'); };
  if (separator(0) && separator(1)) {
    out = "//";
    while (separator(i)) ++i;
  }
  for (; i < path.size(); ++i) {
    if (separator(i)) {
      if (out.empty() || out.back() != '/') out += '/';
    } else {
      out += path[i];
    }
  }
  while (out.size() > 1 && out.back() == '/' && out != "//") out.pop_back();
  return out;
}

std::string trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  const std::size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// A folder listing taken within this time of the folder's last change could miss a name added in
// the same tick of the file system's clock, so it is read again next time.
constexpr long long kSettledNs = 1'000'000'000LL;
constexpr std::size_t kListingsKept = 32;

long long nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec; }

}  // namespace

std::string foldNameCase(std::string_view name) {
  std::string out(name);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + ('a' - 'A'));
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // U+00C0..U+00DE are the capitals of U+00E0..U+00FE, except U+00D7 (the multiplication sign).
      const auto next = static_cast<unsigned char>(out[i + 1]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) out[i + 1] = static_cast<char>(next + 0x20);
      ++i;
    }
  }
  return out;
}

bool looksLikeWindowsPath(std::string_view entry) {
  if (entry.size() >= 2 && entry[0] == '\\' && entry[1] == '\\') return true;
  const bool letter = !entry.empty() && ((entry[0] >= 'A' && entry[0] <= 'Z') || (entry[0] >= 'a' && entry[0] <= 'z'));
  return letter && entry.size() >= 3 && entry[1] == ':' && (entry[2] == '\\' || entry[2] == '/');
}

PicturePathMap PicturePathMap::parse(std::string_view setting, std::vector<std::string>* problems) {
  PicturePathMap map;
  const auto problem = [&](const std::string& pair, const std::string& why) {
    if (problems) problems->push_back("\"" + escapeForLog(pair, 200) + "\" " + why);
  };
  std::size_t start = 0;
  while (start <= setting.size()) {
    const std::size_t end = std::min(setting.find(';', start), setting.size());
    const std::string pair = trimmed(setting.substr(start, end - start));
    start = end + 1;
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string::npos) {
      problem(pair, "is not PREFIX=FOLDER");
      continue;
    }
    PicturePathMapping m;
    m.prefix = foldNameCase(normalSeparators(trimmed(std::string_view(pair).substr(0, eq))));
    m.folder = trimmed(std::string_view(pair).substr(eq + 1));
    while (m.folder.size() > 1 && m.folder.back() == '/') m.folder.pop_back();
    if (m.prefix.empty() || m.prefix == "/" || m.prefix == "//") {
      problem(pair, "has no prefix before \"=\"");
    } else if (m.folder.empty() || m.folder[0] != '/') {
      problem(pair, "needs an absolute local folder after \"=\"");
    } else {
      map.mappings_.push_back(std::move(m));
    }
  }
  std::stable_sort(map.mappings_.begin(), map.mappings_.end(),
                   [](const PicturePathMapping& a, const PicturePathMapping& b) { return a.prefix.size() > b.prefix.size(); });
  return map;
}

MappedPicture PicturePathMap::map(std::string_view entry) const {
  MappedPicture out;
  if (mappings_.empty()) return out;
  const std::string normal = normalSeparators(entry);
  // Folding keeps every byte where it is, so an offset in the folded text is one in `normal`.
  const std::string folded = foldNameCase(normal);
  for (const PicturePathMapping& m : mappings_) {
    if (folded.compare(0, m.prefix.size(), m.prefix) != 0) continue;
    if (folded.size() > m.prefix.size() && folded[m.prefix.size()] != '/') continue;
    out.mapping = &m;
    out.kind = MappedPicture::Kind::Inside;
    const std::string_view rest = std::string_view(normal).substr(m.prefix.size());
    std::size_t start = 0;
    while (start < rest.size()) {
      const std::size_t end = std::min(rest.find('/', start), rest.size());
      const std::string_view part = rest.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (out.parts.empty()) {
          out.kind = MappedPicture::Kind::Escapes;
          out.parts.clear();
          return out;
        }
        out.parts.pop_back();
        continue;
      }
      out.parts.emplace_back(part);
    }
    return out;
  }
  return out;
}

const std::vector<std::string>* PictureFinder::listing(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  const auto it = listings_.find(folder);
  if (it != listings_.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
      nanoseconds(it->second.mtime) == nanoseconds(st.st_mtim)) {
    return &it->second.names;
  }
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return nullptr;
  ++folderReads_;
  Listing l;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") l.names.emplace_back(name);
  }
  ::closedir(dir);
  std::sort(l.names.begin(), l.names.end());
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  if (nanoseconds(now) - nanoseconds(st.st_mtim) < kSettledNs) {
    // Too fresh to keep (see kSettledNs); used this once.
    listings_.erase(folder);
    scratch_ = std::move(l.names);
    return &scratch_;
  }
  if (listings_.size() >= kListingsKept) listings_.clear();
  l.dev = st.st_dev;
  l.ino = st.st_ino;
  l.mtime = st.st_mtim;
  Listing& kept = listings_[folder];
  kept = std::move(l);
  return &kept.names;
}

PictureFinder::Found PictureFinder::find(const PicturePathMapping& mapping, const std::vector<std::string>& parts) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string path = mapping.folder;
  for (const std::string& part : parts) {
    if (part.find('\0') != std::string::npos) return {{}, "a name with a NUL byte, not looked for"};
    path += "/" + part;
  }
  const std::string shownPath = escapeForLog(path, 200);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return {{}, "cannot be looked at as " + shownPath + ": " + std::strerror(errno)};
    // Not there as named: the same names in another case, one folder at a time.
    std::string at = mapping.folder;
    for (const std::string& part : parts) {
      std::string next = at + "/" + part;
      if (::stat(next.c_str(), &st) != 0) {
        const std::vector<std::string>* names = listing(at);
        if (!names) return {{}, "not found (looked for " + shownPath + ")"};
        const std::string wanted = foldNameCase(part);
        const auto match = std::find_if(names->begin(), names->end(),
                                        [&](const std::string& n) { return foldNameCase(n) == wanted; });
        if (match == names->end()) return {{}, "not found (looked for " + shownPath + ")"};
        next = at + "/" + *match;
      }
      at = std::move(next);
    }
    path = std::move(at);
  }
  // The file must lie in the folder once every link is followed: a link in the copy of a share
  // can point anywhere on this PC.
  char real[PATH_MAX];
  char root[PATH_MAX];
  if (!::realpath(path.c_str(), real)) return {{}, "not found (looked for " + shownPath + ")"};
  if (!::realpath(mapping.folder.c_str(), root)) {
    return {{}, "its folder " + escapeForLog(mapping.folder, 200) + " cannot be reached: " + std::strerror(errno)};
  }
  const std::string_view r = real, base = root;
  const bool inside = r == base || (r.size() > base.size() && r.compare(0, base.size(), base) == 0 &&
                                    (base == "/" || r[base.size()] == '/'));
  if (!inside) {
    return {{}, "leads out of " + escapeForLog(mapping.folder, 200) + " through a link (to " +
                    escapeForLog(real, 200) + "); refused"};
  }
  return {real, {}};
}

}  // namespace plasma
