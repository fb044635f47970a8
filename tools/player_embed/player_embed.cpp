// vidmill-player-embed FILE [SECONDS] [PAUSE_AT] [WIDTHxHEIGHT]
//
// Opens a plain X11 window (640x360, grey), hands its window id to the
// player and plays FILE inside it for SECONDS (default 3). With PAUSE_AT
// (>= 0) the playback seeks there and pauses, so that a screenshot of the
// window shows a known picture. With WIDTHxHEIGHT the window is resized to
// that size halfway through (the picture follows the window). Prints
// "window 0x..." once the window is mapped and "playing" once the player
// runs; exits 0 when the player opened.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/ff_load.h"
#include "player/player.h"

// After the engine's headers: Xlib defines macros such as Status.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

int main(int argc, char** argv) {
  using namespace vidmill;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [SECONDS] [PAUSE_AT]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
  const double pause_at = argc > 3 ? std::atof(argv[3]) : -1.0;
  int resize_w = 0, resize_h = 0;
  if (argc > 4) std::sscanf(argv[4], "%dx%d", &resize_w, &resize_h);

  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "cannot open the X display\n");
    return 1;
  }
  const int screen = DefaultScreen(display);
  const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 640, 360, 0,
                                            BlackPixel(display, screen), 0x808080);
  XStoreName(display, window, "Vidmill player embedding");
  XSelectInput(display, window, StructureNotifyMask);
  XMapWindow(display, window);
  for (XEvent ev;;) {
    XNextEvent(display, &ev);
    if (ev.type == MapNotify) break;
  }
  std::printf("window 0x%lx\n", static_cast<unsigned long>(window));
  std::fflush(stdout);

  TFFPlayer player;
  if (!player.LoadAVLib("")) {
    std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
    return 1;
  }
  player.Options().video_driver = vdX11;
  if (!player.Open(file, window, pause_at >= 0)) {
    std::fprintf(stderr, "open failed: %s\n", player.LastErrMsg().c_str());
    return 1;
  }
  if (pause_at >= 0) player.Seek(static_cast<int64_t>(pause_at * 1e6), sfBackward, true);
  std::printf("playing\n");
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  bool resized = resize_w <= 0;
  while (std::chrono::steady_clock::now() < end) {
    if (!resized && std::chrono::steady_clock::now() > start + (end - start) / 2) {
      XResizeWindow(display, window, resize_w, resize_h);
      XFlush(display);
      player.UpdateScreenPosition(resize_w, resize_h);
      resized = true;
      std::printf("resized\n");
      std::fflush(stdout);
    }
    while (XPending(display)) {
      XEvent ev;
      XNextEvent(display, &ev);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const TPlayStats stats = player.Stats();
  player.Stop(true);
  std::printf("shown %lld pictures, last at %.3f s\n", static_cast<long long>(stats.pictures_shown),
              stats.last_shown_pts);
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return 0;
}
