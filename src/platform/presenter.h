#pragma once
// How a window's pixels reach the screen. The path is chosen once per process, before the first
// window (the splash), because SDL settles its window-framebuffer path at the first
// SDL_GetWindowSurface for the whole process and ignores a hint set later.
#include <SDL.h>

#include <memory>
#include <optional>
#include <string>

namespace plasma {

enum class PresentPath {
  // SDL's software window framebuffer (XShm on X11): changed rectangles go straight to the server.
  WindowSurface,
  // One SDL_Renderer with one streaming texture: changed rectangles are uploaded, then presented.
  StreamingTexture,
};

const char* presentPathName(PresentPath path);  // "window-surface", "streaming-texture"
std::optional<PresentPath> parsePresentPath(const std::string& text);

// X11 presents through the window framebuffer: without a GPU its accelerated form is a software GL
// renderer, many times the CPU and memory. Wayland and KMS/DRM have no software framebuffer in
// SDL, so they (and any other driver) go through a renderer. A non-empty `forced` (the operator's
// PLASMA_PRESENT) wins when it names a path.
PresentPath choosePresentPath(const std::string& videoDriver, const std::string& forced);

// The drivers that show nothing anyone can see.
bool invisibleVideoDriver(const std::string& videoDriver);

// Sets what the path needs before any window exists.
void preparePresentPath(PresentPath path);

// Shows an XRGB image (the whole window's pixels) on one window, a list of changed rectangles at a
// time. The image must stay at the size given until resize().
class Presenter {
 public:
  // Makes the presenter of `path` for the window; a window surface that SDL cannot give falls back
  // to a streaming texture. Null (with the reason in *error) when neither works.
  static std::unique_ptr<Presenter> make(SDL_Window* window, PresentPath path, int width, int height,
                                         std::string* error);
  virtual ~Presenter() = default;
  virtual PresentPath path() const = 0;
  // The renderer's name ("software framebuffer" for the window surface).
  virtual std::string rendererName() const = 0;
  // False when the pixels did not reach the window system.
  virtual bool show(const void* pixels, int stride, const SDL_Rect* rects, int count) = 0;
  // The window now has this size in pixels.
  virtual bool resize(int width, int height) = 0;
};

}  // namespace plasma
