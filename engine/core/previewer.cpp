#include "core/previewer.h"

#include <dlfcn.h>

#include <SDL.h>

#include <atomic>
#include <optional>
#include <vector>

#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "core/main_thread.h"

namespace vidmill {
namespace {

// clang-format off
#define VM_PREVIEW_SDL(X) \
  X(SDL_InitSubSystem) X(SDL_QuitSubSystem) X(SDL_GetError) X(SDL_CreateWindow) \
  X(SDL_DestroyWindow) X(SDL_GetWindowID) X(SDL_SetWindowTitle) X(SDL_SetWindowHitTest) \
  X(SDL_CreateRenderer) X(SDL_DestroyRenderer) X(SDL_CreateTexture) X(SDL_DestroyTexture) \
  X(SDL_UpdateTexture) X(SDL_RenderClear) X(SDL_RenderCopy) X(SDL_RenderPresent) \
  X(SDL_PumpEvents) X(SDL_FilterEvents)
// clang-format on

// The few SDL functions the preview window needs, bound from its own handle
// of the library (the same module the players use when the file is the same).
struct TPreviewSDL {
#define VM_MEMBER(name) decltype(&::name) name = nullptr;
  VM_PREVIEW_SDL(VM_MEMBER)
#undef VM_MEMBER
  void* handle = nullptr;

  bool Bind(const std::string& file, std::string* error) {
    handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
      const char* why = dlerror();
      *error = "Load library " + file + " error: " + (why ? why : "");
      return false;
    }
#define VM_BIND(name)                                                          \
  name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));           \
  if (!name) {                                                                 \
    *error = "Load function " #name "@" + file + " error: symbol not found"; \
    return false;                                                              \
  }
    VM_PREVIEW_SDL(VM_BIND)
#undef VM_BIND
    return true;
  }
  ~TPreviewSDL() {
    if (handle) dlclose(handle);
  }
};

SDL_HitTestResult DragAnywhere(SDL_Window*, const SDL_Point*, void*) {
  return SDL_HITTEST_DRAGGABLE;
}

Uint32 SDLFormatOf(TBMPPixelFormat format) {
  switch (format) {
    case pf15bit: return SDL_PIXELFORMAT_BGR555;
    case pf16bit: return SDL_PIXELFORMAT_BGR565;
    case pf32bit: return SDL_PIXELFORMAT_BGRA32;
    case pf8bit:  // widened to 24 bits before drawing
    case pf24bit: return SDL_PIXELFORMAT_BGR24;
  }
  return SDL_PIXELFORMAT_BGR24;
}

// BGR8 (2 bits blue, 3 green, 3 red) widened to BGR24 rows.
std::vector<uint8_t> Widen8(const TBitmap& bitmap, int* pitch) {
  *pitch = bitmap.Width() * 3;
  std::vector<uint8_t> out(static_cast<size_t>(*pitch) * bitmap.Height());
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* s = bitmap.ScanLine(y);
    uint8_t* d = out.data() + static_cast<size_t>(y) * *pitch;
    for (int x = 0; x < bitmap.Width(); ++x, d += 3) {
      d[0] = static_cast<uint8_t>((s[x] >> 6) * 255 / 3);
      d[1] = static_cast<uint8_t>(((s[x] >> 3) & 7) * 255 / 7);
      d[2] = static_cast<uint8_t>((s[x] & 7) * 255 / 7);
    }
  }
  return out;
}

class TSDLPreviewSurface : public TPreviewSurface {
 public:
  explicit TSDLPreviewSurface(std::recursive_mutex* lock) : lock_(lock) {}
  ~TSDLPreviewSurface() override {
    auto guard = Lock();
    CloseWindow();
    if (video_started_) sdl_.SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  bool Bind(const std::string& file, std::string* error) { return sdl_.Bind(file, error); }

  bool Open(int width, int height) override {
    auto guard = Lock();
    if (sdl_.SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return Fail("SDL_InitSubSystem");
    video_started_ = true;
    window_ = sdl_.SDL_CreateWindow("", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                                    height,
                                    SDL_WINDOW_SHOWN | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_UTILITY);
    if (!window_) return Fail("SDL_CreateWindow");
    window_id_ = sdl_.SDL_GetWindowID(window_);
    sdl_.SDL_SetWindowHitTest(window_, DragAnywhere, nullptr);  // not every driver can
    renderer_ = sdl_.SDL_CreateRenderer(window_, -1, 0);
    if (!renderer_) return Fail("SDL_CreateRenderer");
    return true;
  }

  void SetCaption(const std::string& caption) override {
    auto guard = Lock();
    if (window_) sdl_.SDL_SetWindowTitle(window_, caption.c_str());
  }

  void Draw(const TBitmap& bitmap) override {
    auto guard = Lock();
    if (!renderer_ || bitmap.Width() <= 0 || bitmap.Height() <= 0) return;
    if (!texture_ || texture_w_ != bitmap.Width() || texture_h_ != bitmap.Height() ||
        texture_fmt_ != bitmap.PixelFormat()) {
      if (texture_) sdl_.SDL_DestroyTexture(texture_);
      texture_ = sdl_.SDL_CreateTexture(renderer_, SDLFormatOf(bitmap.PixelFormat()),
                                        SDL_TEXTUREACCESS_STREAMING, bitmap.Width(),
                                        bitmap.Height());
      if (!texture_) return;
      texture_w_ = bitmap.Width();
      texture_h_ = bitmap.Height();
      texture_fmt_ = bitmap.PixelFormat();
    }
    if (bitmap.PixelFormat() == pf8bit) {
      int pitch = 0;
      const std::vector<uint8_t> wide = Widen8(bitmap, &pitch);
      sdl_.SDL_UpdateTexture(texture_, nullptr, wide.data(), pitch);
    } else {
      sdl_.SDL_UpdateTexture(texture_, nullptr, bitmap.Pixels(), bitmap.Stride());
    }
    const SDL_Rect where{0, 0, bitmap.Width(), bitmap.Height()};
    sdl_.SDL_RenderClear(renderer_);
    sdl_.SDL_RenderCopy(renderer_, texture_, nullptr, &where);
    sdl_.SDL_RenderPresent(renderer_);
  }

  // Takes this window's events out of SDL's queue; the events of other
  // windows (a player's) stay there for their owners.
  bool PollClosed() override {
    auto guard = Lock();
    if (!window_) return closed_;
    sdl_.SDL_PumpEvents();
    sdl_.SDL_FilterEvents(&TSDLPreviewSurface::TakeOwnEvents, this);
    if (closed_) CloseWindow();
    return closed_;
  }

  uint32_t WindowID() const override { return window_id_; }

 private:
  std::optional<std::unique_lock<std::recursive_mutex>> Lock() {
    if (!lock_) return std::nullopt;
    return std::unique_lock(*lock_);
  }

  bool Fail(const char* what) {
    TFFLogger::Process().Logf(nullptr, llError, "Preview window: %s failed: %s", what,
                              sdl_.SDL_GetError());
    CloseWindow();
    return false;
  }

  static int TakeOwnEvents(void* self_ptr, SDL_Event* event) {
    auto* self = static_cast<TSDLPreviewSurface*>(self_ptr);
    uint32_t id = 0;
    switch (event->type) {
      case SDL_WINDOWEVENT: id = event->window.windowID; break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: id = event->key.windowID; break;
      case SDL_MOUSEMOTION: id = event->motion.windowID; break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: id = event->button.windowID; break;
      case SDL_MOUSEWHEEL: id = event->wheel.windowID; break;
      default: return 1;
    }
    if (id != self->window_id_) return 1;
    if (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_CLOSE) {
      self->closed_ = true;
    }
    return 0;
  }

  void CloseWindow() {
    if (texture_) sdl_.SDL_DestroyTexture(texture_);
    if (renderer_) sdl_.SDL_DestroyRenderer(renderer_);
    if (window_) sdl_.SDL_DestroyWindow(window_);
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
  }

  TPreviewSDL sdl_;
  std::recursive_mutex* lock_;
  bool video_started_ = false;
  SDL_Window* window_ = nullptr;
  uint32_t window_id_ = 0;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int texture_w_ = 0;
  int texture_h_ = 0;
  TBMPPixelFormat texture_fmt_ = pf24bit;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<TPreviewSurface> MakeSDLPreviewSurface(const TPreviewerOptions& options) {
  auto surface = std::make_unique<TSDLPreviewSurface>(options.sdl_lock);
  std::string error;
  if (!surface->Bind(options.sdl_library, &error)) {
    TFFLogger::Process().Log(nullptr, llError, "Preview window: " + error);
    return nullptr;
  }
  return surface;
}

TPreviewer::TPreviewer(TPreviewerOptions options) : options_(std::move(options)) {}

TPreviewer::~TPreviewer() {
  if (surface_) main_thread::Synchronize([this] { surface_.reset(); });
}

bool TPreviewer::PaintFrame(const TBitmap& ABitmap, int AFrameNumber, int64_t APTS) {
  if (closed_) return false;
  bitmap_ = &ABitmap;
  frame_number_ = AFrameNumber;
  pts_ = APTS;
  main_thread::Synchronize([this] { Paint(); });
  bitmap_ = nullptr;
  return true;
}

void TPreviewer::Paint() {
  if (closed_) return;
  if (!surface_) {
    surface_ = options_.make_surface ? options_.make_surface() : MakeSDLPreviewSurface(options_);
    if (!surface_ || !surface_->Open(bitmap_->Width(), bitmap_->Height())) {
      closed_ = true;
      return;
    }
  }
  if (surface_->PollClosed()) {
    closed_ = true;
    return;
  }
  surface_->SetCaption(TimeText(pts_));
  surface_->Draw(*bitmap_);
}

}  // namespace vidmill
