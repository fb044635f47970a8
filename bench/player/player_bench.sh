#!/usr/bin/env bash
# Playback benchmark: a 1080p H.264 + AAC clip played to its end with SDL's
# dummy drivers, with late-picture dropping off and on, one and two decoding
# threads.
#   bash bench/player/player_bench.sh [BUILD_DIR] [SECONDS]
# Figures come from player_bench itself (pictures, CPU time from getrusage)
# and from /usr/bin/time -v (peak memory).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
seconds=${2:-20}
clips="$build/bench-clips"
mkdir -p "$clips"
clip="$clips/h264_1080p_${seconds}s.mp4"
if [[ ! -s "$clip" ]]; then
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
    -c:v libx264 -preset medium -crf 20 -pix_fmt yuv420p -c:a aac -b:a 128k "$clip"
fi
bench="$build/bench/player/player_bench"
for framedrop in 0 1; do
  for threads in 1 2; do
    echo "== framedrop=$framedrop decoder_threads=$threads"
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy /usr/bin/time -f "peak memory %M KiB" \
      "$bench" "$clip" "$framedrop" "$threads"
  done
done
