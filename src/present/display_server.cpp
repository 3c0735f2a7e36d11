#include "present/display_server.h"

namespace plasma {

const char* serverName(ServerKind kind) {
  switch (kind) {
    case ServerKind::X11: return "x11";
    case ServerKind::Wayland: return "wayland";
    case ServerKind::Kms: return "kms";
  }
  return "?";
}

namespace {

std::optional<ServerKind> named(const std::string& v) {
  if (v == "x11") return ServerKind::X11;
  if (v == "wayland") return ServerKind::Wayland;
  if (v == "kms" || v == "kmsdrm" || v == "drm" || v == "console") return ServerKind::Kms;
  return std::nullopt;
}

std::string value(const std::map<std::string, std::string>& env, const char* name) {
  const auto it = env.find(name);
  return it == env.end() ? "" : it->second;
}

}  // namespace

std::vector<ServerKind> serverCandidates(const std::map<std::string, std::string>& env, std::string* problem) {
  for (const char* name : {"PLASMA_DISPLAY_SERVER", "SDL_VIDEODRIVER"}) {
    const std::string v = value(env, name);
    if (v.empty()) continue;
    if (const auto kind = named(v)) return {*kind};
    if (problem) *problem = std::string(name) + "=\"" + v + "\" names no display server (x11, wayland or kms); ignored";
  }
  std::vector<ServerKind> order;
  // A desktop that offers both (Xwayland) is shown on natively.
  if (!value(env, "WAYLAND_DISPLAY").empty()) order.push_back(ServerKind::Wayland);
  if (!value(env, "DISPLAY").empty()) order.push_back(ServerKind::X11);
  if (order.empty()) order.push_back(ServerKind::Kms);
  return order;
}

std::unique_ptr<DisplayServer> openDisplayServer(const std::vector<ServerKind>& candidates, std::string* why) {
  std::string reasons;
  for (ServerKind kind : candidates) {
    std::string reason;
    std::unique_ptr<DisplayServer> server;
    switch (kind) {
      case ServerKind::X11: server = openX11Server(&reason); break;
      case ServerKind::Wayland: server = openWaylandServer(&reason); break;
      case ServerKind::Kms: server = openKmsServer(&reason); break;
    }
    if (server) return server;
    reasons += (reasons.empty() ? "" : "; ") + std::string(serverName(kind)) + ": " + reason;
  }
  if (why) *why = reasons;
  return nullptr;
}

}  // namespace plasma
