#include "platform/site_pictures.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "support/legacy.h"
#include "support/log.h"

namespace plasma {

namespace {

constexpr std::size_t kShownPathBytes = 200;
constexpr long kMaxCacheMb = 1024 * 1024;

PictureOutcome missing(std::string reason) { return {nullptr, true, std::move(reason)}; }

std::string environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

class SitePictureLoader final : public ImageLoader {
 public:
  SitePictureLoader(PictureSources sources, std::unique_ptr<HttpClient> http, FetchMode mode)
      : paths_(std::move(sources.paths)), cache_(std::move(sources.cache), std::move(http), mode) {}

  std::string version(const std::string& entry) override {
    if (isPictureUrl(entry)) {
      const PictureCache::Copy c = cache_.copy(entry);
      return c.file.empty() ? "missing: " + c.problem : "copy " + pictureFileVersion(c.file);
    }
    const Local l = local(entry);
    if (l.path.empty()) return "missing: " + l.problem;
    const std::string v = pictureFileVersion(l.path);
    return v.empty() || l.path == entry ? v : l.path + " " + v;
  }

  PictureOutcome read(const std::string& entry, PictureLimits keep, const std::atomic<bool>& cancel) override {
    if (isPictureUrl(entry)) {
      const PictureCache::Copy c = cache_.copy(entry);
      if (c.file.empty()) return missing(c.problem);
      PictureOutcome o = readPictureFile(c.file, urlForLog(entry), keep, cancel);
      if (o.missing) o.reason = "its copy in the picture cache is gone (" + o.reason + "); fetched again";
      return o;
    }
    const Local l = local(entry);
    if (l.path.empty()) return missing(l.problem);
    const std::string shown = escapeForLog(entry, kShownPathBytes);
    if (l.path == entry) {
      PictureOutcome o = readPictureFile(entry, shown, keep, cancel);
      // The path of a Windows share taken as a local path: say what would find it.
      if (o.missing && o.reason == "not found" && looksLikeWindowsPath(entry) && paths_.map(entry).mapping == nullptr) {
        o.reason += " (a Windows path: PLASMA_PICTURE_PATHS can map its share or drive to a local folder)";
      }
      return o;
    }
    return readPictureFile(l.path, shown + " (" + escapeForLog(l.path, kShownPathBytes) + ")", keep, cancel);
  }

  void named(const std::vector<std::string>& entries) override {
    std::vector<std::string> urls;
    for (const std::string& e : entries) {
      if (isPictureUrl(e)) urls.push_back(e);
    }
    cache_.named(urls);
  }

  void onChanged(std::function<void()> changed) override { cache_.onChanged(std::move(changed)); }

 private:
  struct Local {
    std::string path;     // the file to read; empty when there is none
    std::string problem;  // why not
  };

  Local local(const std::string& entry) {
    const MappedPicture m = paths_.map(entry);
    switch (m.kind) {
      case MappedPicture::Kind::AsItStands:
        return {entry, {}};
      case MappedPicture::Kind::Escapes:
        return {{}, "climbs out of " + escapeForLog(m.mapping->folder, kShownPathBytes) + " (\"..\"); refused"};
      case MappedPicture::Kind::Inside:
        break;
    }
    const PictureFinder::Found f = finder_.find(*m.mapping, m.parts);
    return {f.path, f.problem};
  }

  PicturePathMap paths_;
  PictureFinder finder_;
  PictureCache cache_;
};

std::string cacheBase(std::string& problem) {
  // The service manager names its folders in one list, separated by ':'.
  const std::string managed = environment("CACHE_DIRECTORY");
  if (!managed.empty()) return managed.substr(0, managed.find(':'));
  const std::string xdg = environment("XDG_CACHE_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/plasma-display";
  const std::string home = environment("HOME");
  if (!home.empty() && home[0] == '/') return home + "/.cache/plasma-display";
  problem = "no folder for the picture cache (none of CACHE_DIRECTORY, XDG_CACHE_HOME and HOME is set)";
  return {};
}

}  // namespace

PictureSources pictureSourcesFromEnvironment(const std::string& instance) {
  PictureSources s;
  const std::string mapping = environment("PLASMA_PICTURE_PATHS");
  std::vector<std::string> problems;
  s.paths = PicturePathMap::parse(mapping, &problems);
  for (const std::string& p : problems) logLine("PLASMA_PICTURE_PATHS: " + p + "; left out");
  for (const PicturePathMapping& m : s.paths.mappings()) {
    struct stat st {};
    if (::stat(m.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      logLine("PLASMA_PICTURE_PATHS: the folder " + escapeForLog(m.folder, kShownPathBytes) +
              " is not there (yet); its pictures are black until it is");
    }
  }

  const std::string cap = environment("PLASMA_PICTURE_CACHE_MB");
  if (!cap.empty()) {
    char* end = nullptr;
    const long mb = std::strtol(cap.c_str(), &end, 10);
    if (*end != '\0' || mb < 1 || mb > kMaxCacheMb) {
      logLine("PLASMA_PICTURE_CACHE_MB=\"" + escapeForLog(cap) + "\" is not a number of MiB from 1 to " +
              std::to_string(kMaxCacheMb) + "; using 256");
    } else {
      s.cache.capBytes = static_cast<std::uint64_t>(mb) * 1024 * 1024;
    }
  }
  const std::string base = cacheBase(s.cache.folderProblem);
  if (!base.empty()) s.cache.folder = base + "/pictures-" + safeInstanceName(instance);
  return s;
}

std::unique_ptr<ImageLoader> makeSitePictureLoader(PictureSources sources, std::unique_ptr<HttpClient> http,
                                                   FetchMode mode) {
  return std::make_unique<SitePictureLoader>(std::move(sources), std::move(http), mode);
}

std::unique_ptr<ImageLoader> makeSitePictureLoader(const CurlClientOptions& timetableClient, const std::string& instance,
                                                   FetchMode mode) {
  CurlClientOptions options = timetableClient;
  options.maxBodyBytes = static_cast<std::size_t>(kMaxPictureFileBytes);
  return makeSitePictureLoader(pictureSourcesFromEnvironment(instance), makeCurlHttpClient(options), mode);
}

}  // namespace plasma
