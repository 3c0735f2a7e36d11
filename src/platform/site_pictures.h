#pragma once
// The slideshow's pictures from wherever the site keeps them: the timetable server's own paths
// mapped to local folders, local paths as they stand, and http(s) URLs served from an on-disk
// cache. Each entry of the document's picture list is resolved here, on the picture worker.
#include <memory>
#include <string>

#include "platform/http_client.h"
#include "platform/image_loader.h"
#include "platform/picture_cache.h"
#include "platform/picture_paths.h"

namespace plasma {

struct PictureSources {
  PicturePathMap paths;
  PictureCacheOptions cache;
};

// The operator's settings: PLASMA_PICTURE_PATHS (the mapped prefixes), PLASMA_PICTURE_CACHE_MB
// (the cache's cap) and the cache folder, pictures-INSTANCE in $CACHE_DIRECTORY (the service
// manager's), else in $XDG_CACHE_HOME/plasma-display or ~/.cache/plasma-display. What cannot be
// used is logged, one line each, and left out.
PictureSources pictureSourcesFromEnvironment(const std::string& instance);

std::unique_ptr<ImageLoader> makeSitePictureLoader(PictureSources sources, std::unique_ptr<HttpClient> http,
                                                   FetchMode mode);

// What the display and plasma-render use: the settings from the environment, and pictures fetched
// by the timetable's client with its time-outs, redirects, protocols and User-Agent, bodies up to
// 64 MiB.
std::unique_ptr<ImageLoader> makeSitePictureLoader(const CurlClientOptions& timetableClient, const std::string& instance,
                                                   FetchMode mode = FetchMode::WorkerThread);

}  // namespace plasma
