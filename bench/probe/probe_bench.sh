#!/usr/bin/env bash
# Probing benchmark: vidmill's probe against ffprobe on the same clips.
#   bash bench/probe/probe_bench.sh [BUILD_DIR] [ROUNDS]
# Makes six small clips (MP4, AVI, MKV with subtitles and chapters, WebM,
# WAV, MP3), then probes each ROUNDS times (default 50, so 300 probes):
#   1. one process per probe: "vidmill-cli info FILE" against
#      "ffprobe -show_format -show_streams FILE";
#   2. all probes in one process: "vidmill-cli info FILE FILE ..." (ffprobe
#      takes one file per run, so it has no such form);
#   3. in process with Google Benchmark (probe_bench), when built.
# Times and peak memory come from /usr/bin/time -v.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rounds=${2:-50}
cli="$build/vidmill-cli"
clips="$build/bench-clips"
mkdir -p "$clips"

make_clip() {  # name, ffmpeg output args...
  local out="$clips/$1"; shift
  [[ -s "$out" ]] && return
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "$@" "$out"
}
make_clip h264_aac.mp4 -c:v libx264 -pix_fmt yuv420p -c:a aac
make_clip mpeg4_mp3.avi -c:v mpeg4 -c:a libmp3lame
make_clip vp9_opus.webm -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libopus
make_clip tone.wav -vn -c:a pcm_s16le
make_clip tone.mp3 -vn -c:a libmp3lame
if [[ ! -s "$clips/subs_chapters.mkv" ]]; then
  printf '1\n00:00:00,200 --> 00:00:01,000\nFirst\n\n' > "$clips/subs.srt"
  printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n' > "$clips/chapters.txt"
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -i "$clips/subs.srt" -i "$clips/chapters.txt" \
    -map 0:v -map 1:a -map 2:s -map_chapters 3 -c:v libx264 -pix_fmt yuv420p -c:a libvorbis -c:s srt \
    "$clips/subs_chapters.mkv"
fi
files=()
for ((r = 0; r < rounds; r++)); do
  for f in h264_aac.mp4 mpeg4_mp3.avi subs_chapters.mkv vp9_opus.webm tone.wav tone.mp3; do
    files+=("$clips/$f")
  done
done
echo "${#files[@]} probes of 6 clips"

measure() {  # label, command... (run through /usr/bin/time -v)
  local label=$1; shift
  local log; log=$(mktemp)
  /usr/bin/time -v "$@" >/dev/null 2>"$log" || { echo "$label: failed"; tail -5 "$log"; rm -f "$log"; return 1; }
  local wall rss
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
  printf '%-44s wall %-9s max RSS %s KiB\n' "$label" "$wall" "$rss"
  rm -f "$log"
}

per_process() {  # command prefix...; one process per file
  for f in "${files[@]}"; do "$@" "$f" >/dev/null || exit 1; done
}
export -f per_process
measure "vidmill-cli info, one process per probe" bash -c "$(declare -p files); $(declare -f per_process); per_process '$cli' info"
measure "ffprobe, one process per probe" bash -c "$(declare -p files); $(declare -f per_process); per_process ffprobe -v error -show_format -show_streams"
measure "vidmill-cli info, all probes in one process" "$cli" info "${files[@]}"

if [[ -x "$build/bench/probe/probe_bench" ]]; then
  "$build/bench/probe/probe_bench" --clips "$clips" --benchmark_min_time=0.2
fi
