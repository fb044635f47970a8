#include "core/previewer.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <SDL.h>

#include <atomic>
#include <thread>

#include "core/main_thread.h"

namespace vidmill {
namespace {

// Records what the previewer asks of its window.
struct FakeLog {
  int opens = 0;
  int open_w = 0, open_h = 0;
  int draws = 0;
  int last_draw_w = 0;
  std::string caption;
  bool close_now = false;
  std::thread::id thread;
};

class FakeSurface : public TPreviewSurface {
 public:
  explicit FakeSurface(FakeLog* log) : log_(log) {}
  bool Open(int w, int h) override {
    ++log_->opens;
    log_->open_w = w;
    log_->open_h = h;
    log_->thread = std::this_thread::get_id();
    return true;
  }
  void SetCaption(const std::string& c) override { log_->caption = c; }
  void Draw(const TBitmap& b) override {
    ++log_->draws;
    log_->last_draw_w = b.Width();
  }
  bool PollClosed() override { return log_->close_now; }

 private:
  FakeLog* log_;
};

TPreviewerOptions FakeOptions(FakeLog* log) {
  TPreviewerOptions o;
  o.make_surface = [log] { return std::make_unique<FakeSurface>(log); };
  return o;
}

TBitmap MakeBitmap(int w, int h, TBMPPixelFormat f = pf24bit) {
  TBitmap b;
  b.SetPixelFormat(f);
  b.SetSize(w, h);
  return b;
}

TEST(Previewer, WindowMadeOnFirstPictureAndKeptItsSize) {
  FakeLog log;
  TPreviewer previewer(FakeOptions(&log));
  EXPECT_EQ(log.opens, 0);
  EXPECT_TRUE(previewer.PaintFrame(MakeBitmap(64, 48), 1, 1500000));
  EXPECT_EQ(log.opens, 1);
  EXPECT_EQ(log.open_w, 64);
  EXPECT_EQ(log.open_h, 48);
  EXPECT_EQ(log.caption, "00:00:01.500");
  EXPECT_TRUE(previewer.PaintFrame(MakeBitmap(80, 60), 2, 3723004000));
  EXPECT_EQ(log.opens, 1);
  EXPECT_EQ(log.draws, 2);
  EXPECT_EQ(log.last_draw_w, 80);
  EXPECT_EQ(log.caption, "01:02:03.004");
}

TEST(Previewer, ClosedByTheUserPaintsNoMore) {
  FakeLog log;
  TPreviewer previewer(FakeOptions(&log));
  TBitmap b = MakeBitmap(16, 16);
  EXPECT_TRUE(previewer.PaintFrame(b, 1, 0));
  log.close_now = true;
  EXPECT_TRUE(previewer.PaintFrame(b, 2, 40000));  // finds the window closed
  EXPECT_TRUE(previewer.Closed());
  for (int i = 3; i < 6; ++i) EXPECT_FALSE(previewer.PaintFrame(b, i, i * 40000));
  EXPECT_EQ(log.draws, 1);
}

TEST(Previewer, PaintsOnTheMainThreadWhileTheWorkerWaits) {
  FakeLog log;
  // Posts go nowhere: WaitPumping below runs the waiting calls, as an event loop would.
  main_thread::Install([](std::function<void()>) {});
  {
    TPreviewer previewer(FakeOptions(&log));
    std::atomic<bool> done{false};
    bool painted = false;
    std::thread worker([&] {
      painted = previewer.PaintFrame(MakeBitmap(8, 8), 1, 0);
      done = true;
    });
    main_thread::WaitPumping([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(painted);
    EXPECT_EQ(log.thread, std::this_thread::get_id());
  }
  main_thread::Install(nullptr);
}

TEST(Previewer, WithoutSDLItCountsAsClosed) {
  TPreviewerOptions options;
  options.sdl_library = "libno-such-sdl.so";
  TPreviewer previewer(options);
  TBitmap b = MakeBitmap(8, 8);
  EXPECT_TRUE(previewer.PaintFrame(b, 1, 0));
  EXPECT_FALSE(previewer.PaintFrame(b, 2, 0));
}

// A real SDL window (the dummy video driver in tests), closed the way a
// window manager would close it.
TEST(Previewer, SDLWindowShowsPicturesUntilClosed) {
  void* sdl = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(sdl, nullptr);
  auto push_event = reinterpret_cast<decltype(&SDL_PushEvent)>(dlsym(sdl, "SDL_PushEvent"));
  auto get_window = reinterpret_cast<decltype(&SDL_GetWindowFromID)>(dlsym(sdl, "SDL_GetWindowFromID"));
  auto get_title = reinterpret_cast<decltype(&SDL_GetWindowTitle)>(dlsym(sdl, "SDL_GetWindowTitle"));
  auto get_size = reinterpret_cast<decltype(&SDL_GetWindowSize)>(dlsym(sdl, "SDL_GetWindowSize"));

  TPreviewSurface* surface = nullptr;
  TPreviewerOptions options;
  options.make_surface = [&] {
    auto s = MakeSDLPreviewSurface(options);
    surface = s.get();
    return s;
  };
  {
    TPreviewer previewer(options);
    for (TBMPPixelFormat f : {pf24bit, pf8bit, pf15bit, pf16bit, pf32bit}) {
      ASSERT_TRUE(previewer.PaintFrame(MakeBitmap(96, 64, f), 1, 2000000)) << int(f);
    }
    ASSERT_NE(surface, nullptr);
    ASSERT_NE(surface->WindowID(), 0u);
    SDL_Window* window = get_window(surface->WindowID());
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(get_title(window), "00:00:02.000");
    int w = 0, h = 0;
    get_size(window, &w, &h);
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 64);

    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = surface->WindowID();
    ASSERT_EQ(push_event(&close), 1);
    previewer.PaintFrame(MakeBitmap(96, 64), 2, 0);
    EXPECT_TRUE(previewer.Closed());
    EXPECT_FALSE(previewer.PaintFrame(MakeBitmap(96, 64), 3, 0));
  }
  dlclose(sdl);
}

}  // namespace
}  // namespace vidmill
