// Probing speed in process: open, read the stream parameters, build the
// information text and close, for each kind of clip.
//   probe_bench --clips DIR [benchmark flags]
// DIR holds the clips that bench/probe/probe_bench.sh makes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/ff_log.h"
#include "probe/ff_decode.h"

namespace {

std::string g_clips = "bench-clips";

void BM_Probe(benchmark::State& state, const std::string& name) {
  vidmill::TFFDecoder decoder;
  if (!decoder.LoadAVLib("")) {
    state.SkipWithError(decoder.LastErrMsg().c_str());
    return;
  }
  const std::string path = g_clips + "/" + name;
  for (auto _ : state) {
    if (!decoder.LoadFile(path)) {
      state.SkipWithError(decoder.LastErrMsg().c_str());
      return;
    }
    benchmark::DoNotOptimize(decoder.FileInfoText());
    decoder.CloseFile();
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--clips") == 0 && i + 1 < argc) {
      g_clips = argv[++i];
    } else {
      args.push_back(argv[i]);
    }
  }
  int n = static_cast<int>(args.size());
  vidmill::TFFLogger::Process().SetLogLevel(vidmill::llQuiet);
  for (const char* clip : {"h264_aac.mp4", "mpeg4_mp3.avi", "subs_chapters.mkv", "vp9_opus.webm", "tone.wav", "tone.mp3"}) {
    benchmark::RegisterBenchmark(("Probe/" + std::string(clip)).c_str(), BM_Probe, std::string(clip))
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
