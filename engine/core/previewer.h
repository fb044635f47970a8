// TPreviewer: the small floating window that shows the pictures of a running
// conversion.
//
// The window is made on the first painted picture: on top of other windows,
// centred, the size of that first bitmap, movable by dragging anywhere in
// it; its caption is the picture's time. The user may close it at any time;
// the conversion goes on, and every later PaintFrame returns false.
//
// Painting always runs on the application's main thread (main_thread.h);
// the thread that calls PaintFrame waits for it. The window is drawn with
// SDL2, loaded at run time; a surface of another kind can be given through
// TPreviewerOptions (the seam the tests use).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/bitmap.h"

namespace vidmill {

// The window behind a previewer. All calls come on the main thread.
class TPreviewSurface {
 public:
  virtual ~TPreviewSurface() = default;
  // Shows the window with a client area of width x height. False when no
  // window can be made (the previewer then counts as closed).
  virtual bool Open(int width, int height) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Draws the bitmap at the window's top-left corner (the window keeps its size).
  virtual void Draw(const TBitmap& bitmap) = 0;
  // Handles the window's waiting events; true once the user has closed it.
  virtual bool PollClosed() = 0;
  // The window system's id of the window (0 when none).
  virtual uint32_t WindowID() const { return 0; }
};

struct TPreviewerOptions {
  // The SDL library file (opened from the system's libraries unless a path
  // is given).
  std::string sdl_library = "libSDL2-2.0.so.0";
  // Taken around every SDL call when set: the players' SDL lock, so the
  // preview never draws while a player's thread does.
  std::recursive_mutex* sdl_lock = nullptr;
  // Makes the surface; empty: an SDL window.
  std::function<std::unique_ptr<TPreviewSurface>()> make_surface;
};

// An SDL window as preview surface; null when SDL cannot be loaded.
std::unique_ptr<TPreviewSurface> MakeSDLPreviewSurface(const TPreviewerOptions& options);

class TPreviewer {
 public:
  explicit TPreviewer(TPreviewerOptions options = {});
  // Destroys the window on the main thread.
  ~TPreviewer();
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Shows the bitmap with its frame number and time (microseconds) and
  // returns true; returns false without painting once the window was closed.
  // The bitmap is only read during the call. Any thread.
  bool PaintFrame(const TBitmap& ABitmap, int AFrameNumber, int64_t APTS);
  bool Closed() const { return closed_.load(); }

 private:
  void Paint();  // main thread

  TPreviewerOptions options_;
  std::unique_ptr<TPreviewSurface> surface_;  // made and used on the main thread
  std::atomic<bool> closed_{false};
  const TBitmap* bitmap_ = nullptr;  // valid during PaintFrame only
  int frame_number_ = 0;
  int64_t pts_ = 0;
};

}  // namespace vidmill
