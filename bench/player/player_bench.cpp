// player_bench FILE [framedrop] [decoder_threads]
//
// Plays FILE from start to end with SDL's dummy video and audio drivers (or
// those of the environment), in a window of the player's own at the
// picture's size, and prints one line of figures:
//   seconds of video, wall seconds, CPU seconds (user + system of the whole
//   process), CPU seconds per second of video, pictures decoded / shown /
//   dropped / skipped / late (shown more than one picture duration after
//   their time), the largest lateness and the largest audio-picture gap.
// With PLAYER_BENCH_TRACE set, the figures are also printed every 250 ms.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/ff_load.h"
#include "player/player.h"

namespace {

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vidmill;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [framedrop] [decoder_threads]\n", argv[0]);
    return 2;
  }
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  TFFPlayer player;
  if (!player.LoadAVLib("")) {
    std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
    return 1;
  }
  player.Options().framedrop = argc > 2 ? std::atoi(argv[2]) : 0;
  player.Options().decoder_threads = argc > 3 ? std::atoi(argv[3]) : 1;
  std::atomic<bool> ended{false};
  player.SetTriggerEventInMainThread(false);
  player.OnState = [&](TFFBaseComponent*, TPlayState s) {
    if (s == psEnd) ended = true;
  };
  const double cpu0 = CpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  if (!player.Open(argv[1])) {
    std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
    return 1;
  }
  const double duration = player.Decoder()->FileStreamInfo().Duration / 1e6;
  const bool trace = std::getenv("PLAYER_BENCH_TRACE") != nullptr;
  while (!ended) {
    std::this_thread::sleep_for(std::chrono::milliseconds(trace ? 250 : 10));
    if (trace) {
      const TPlayStats t = player.Stats();
      std::printf("%6.2f s: shown %lld (at %.2f s), late %lld, max lateness %.3f s, gap %.3f s\n",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count(),
                  static_cast<long long>(t.pictures_shown), t.last_shown_pts,
                  static_cast<long long>(t.pictures_late), t.max_lateness, t.max_av_diff);
    }
  }
  const TPlayStats s = player.Stats();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = CpuSeconds() - cpu0;
  player.Stop(true);
  std::printf(
      "video %.2f s, wall %.2f s, cpu %.2f s, cpu per video second %.3f, decoded %lld, shown %lld, "
      "dropped %lld, skipped %lld, late %lld, max lateness %.3f s, max audio-picture gap %.3f s\n",
      duration, wall, cpu, cpu / duration, static_cast<long long>(s.pictures_decoded),
      static_cast<long long>(s.pictures_shown), static_cast<long long>(s.pictures_dropped),
      static_cast<long long>(s.pictures_skipped), static_cast<long long>(s.pictures_late), s.max_lateness,
      s.max_av_diff);
  return 0;
}
