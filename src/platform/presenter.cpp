#include "platform/presenter.h"

#include <vector>

namespace plasma {

const char* presentPathName(PresentPath path) {
  return path == PresentPath::WindowSurface ? "window-surface" : "streaming-texture";
}

std::optional<PresentPath> parsePresentPath(const std::string& text) {
  if (text == "window-surface" || text == "surface") return PresentPath::WindowSurface;
  if (text == "streaming-texture" || text == "texture") return PresentPath::StreamingTexture;
  return std::nullopt;
}

PresentPath choosePresentPath(const std::string& videoDriver, const std::string& forced) {
  if (const auto p = parsePresentPath(forced)) return *p;
  return videoDriver == "x11" ? PresentPath::WindowSurface : PresentPath::StreamingTexture;
}

bool invisibleVideoDriver(const std::string& videoDriver) {
  return videoDriver == "offscreen" || videoDriver == "dummy" || videoDriver == "evdev";
}

void preparePresentPath(PresentPath path) {
  // "0" keeps SDL from putting a GL renderer behind the window surface; the renderer path sets up
  // its own renderer and never asks for a window surface.
  if (path == PresentPath::WindowSurface) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // Refreshes are paced by the window itself (one per panel frame); a renderer that also waited
  // for vertical blank would stall the loop whenever the compositor holds back its frame events.
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
}

namespace {

class SurfacePresenter final : public Presenter {
 public:
  SurfacePresenter(SDL_Window* window, int width, int height) : window_(window), width_(width), height_(height) {}
  PresentPath path() const override { return PresentPath::WindowSurface; }
  std::string rendererName() const override { return "software framebuffer"; }

  bool show(const void* pixels, int stride, const SDL_Rect* rects, int count) override {
    SDL_Surface* target = SDL_GetWindowSurface(window_);
    if (!target) return false;
    // The window's image may be the framebuffer itself: then there is nothing to copy.
    if (target->pixels == pixels) return SDL_UpdateWindowSurfaceRects(window_, rects, count) == 0;
    SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<void*>(pixels), width_, height_, 32,
                                                          stride, SDL_PIXELFORMAT_XRGB8888);
    if (!src) return false;
    for (int i = 0; i < count; ++i) {
      SDL_Rect from = rects[i], to = rects[i];
      SDL_BlitSurface(src, &from, target, &to);
    }
    SDL_FreeSurface(src);
    return SDL_UpdateWindowSurfaceRects(window_, rects, count) == 0;
  }

  bool resize(int width, int height) override {
    width_ = width;
    height_ = height;
    // The next SDL_GetWindowSurface makes a framebuffer of the new size.
    return true;
  }

 private:
  SDL_Window* window_;
  int width_, height_;
};

class TexturePresenter final : public Presenter {
 public:
  TexturePresenter(SDL_Renderer* renderer, int width, int height) : renderer_(renderer) { makeTexture(width, height); }
  ~TexturePresenter() override {
    if (texture_) SDL_DestroyTexture(texture_);
    SDL_DestroyRenderer(renderer_);
  }
  bool ok() const { return texture_ != nullptr; }
  PresentPath path() const override { return PresentPath::StreamingTexture; }
  std::string rendererName() const override {
    SDL_RendererInfo info{};
    return SDL_GetRendererInfo(renderer_, &info) == 0 && info.name ? info.name : "unknown";
  }

  bool show(const void* pixels, int stride, const SDL_Rect* rects, int count) override {
    if (!texture_) return false;
    const auto* base = static_cast<const Uint8*>(pixels);
    for (int i = 0; i < count; ++i) {
      const SDL_Rect& r = rects[i];
      if (SDL_UpdateTexture(texture_, &r, base + static_cast<std::ptrdiff_t>(r.y) * stride + r.x * 4, stride) != 0) {
        return false;
      }
    }
    // A renderer's back buffer holds nothing worth keeping after a present, so the whole texture
    // is drawn each time; only the upload is limited to what changed.
    if (SDL_RenderCopy(renderer_, texture_, nullptr, nullptr) != 0) return false;
    SDL_RenderPresent(renderer_);
    return true;
  }

  bool resize(int width, int height) override {
    if (texture_) SDL_DestroyTexture(texture_);
    makeTexture(width, height);
    return ok();
  }

 private:
  void makeTexture(int width, int height) {
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_XRGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
  }
  SDL_Renderer* renderer_;
  SDL_Texture* texture_ = nullptr;
};

std::unique_ptr<Presenter> makeTexturePresenter(SDL_Window* window, int width, int height, std::string* error) {
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, 0);
  if (!renderer) {
    if (error) *error = std::string("no renderer: ") + SDL_GetError();
    return nullptr;
  }
  auto p = std::make_unique<TexturePresenter>(renderer, width, height);
  if (!p->ok()) {
    if (error) *error = std::string("no streaming texture: ") + SDL_GetError();
    return nullptr;
  }
  return p;
}

}  // namespace

std::unique_ptr<Presenter> Presenter::make(SDL_Window* window, PresentPath path, int width, int height,
                                           std::string* error) {
  if (path == PresentPath::WindowSurface) {
    if (SDL_GetWindowSurface(window)) return std::make_unique<SurfacePresenter>(window, width, height);
    if (error) *error = std::string("no window surface (") + SDL_GetError() + "); ";
  }
  std::string why;
  auto p = makeTexturePresenter(window, width, height, &why);
  if (error) *error += why;
  return p;
}

}  // namespace plasma
