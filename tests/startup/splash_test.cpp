// The splash through the start-up wait: the wait wakes for every answer of the window system, and
// each wake must not send the whole picture again.
#include <gtest/gtest.h>

#include "startup/splash.h"

namespace plasma {
namespace {

void pushWindowEvent(SDL_Window* window, Uint8 what) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SDL_GetWindowID(window);
  e.window.event = what;
  SDL_PushEvent(&e);
}

TEST(Splash, PaintsAgainOnlyWhenItsWindowAsksForIt) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  {
    SplashWindow splash(PresentPath::StreamingTexture);
    ASSERT_NE(splash.sdl(), nullptr) << SDL_GetError();
    const int painted = splash.presents();
    EXPECT_EQ(painted, 1) << "painted at once on creation";

    for (int i = 0; i < 20; ++i) splash.repaint();
    EXPECT_EQ(splash.presents(), painted) << "wakes with nothing to show sent the picture again";

    pushWindowEvent(splash.sdl(), SDL_WINDOWEVENT_EXPOSED);
    splash.repaint();
    splash.repaint();
    EXPECT_EQ(splash.presents(), painted + 1) << "one expose, one paint";

    // The compositor gave the window another size (cage makes every window fill the output).
    pushWindowEvent(splash.sdl(), SDL_WINDOWEVENT_SIZE_CHANGED);
    splash.repaint();
    EXPECT_EQ(splash.presents(), painted + 2);
  }
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace
}  // namespace plasma
