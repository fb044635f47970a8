#!/usr/bin/env bash
# Playback benchmark: a 1080p H.264 + AAC clip played to its end with SDL's
# dummy drivers, with late-picture dropping off and on, one and two decoding
# threads.
#   bash bench/player/player_bench.sh [BUILD_DIR] [SECONDS]
# Figures come from player_bench itself (pictures, CPU time from getrusage)
# and from /usr/bin/time (peak memory). Debian's ffplay plays the same clip
# with the same drivers last, for comparison: its dropped pictures are the
# "fd" count of its last status line.
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
if command -v ffplay >/dev/null; then
  echo "== Debian's ffplay (frame dropping on, its default)"
  log=$(mktemp)
  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy /usr/bin/time -f "time %U %S %M" \
    ffplay -autoexit -loglevel info "$clip" 2>"$log" || true
  tr '\r' '\n' <"$log" | awk -v seconds="$seconds" '
    / fd=/ { for (i = 1; i < NF; i++) if ($i == "fd=") dropped = $(i + 1); else if ($i ~ /^fd=/) dropped = substr($i, 4) }
    /^time / { cpu = $2 + $3; kib = $4 }
    END { printf "video %d s, cpu %.2f s, cpu per video second %.3f, dropped %d\npeak memory %d KiB\n", seconds, cpu, cpu / seconds, dropped, kib }'
  rm -f "$log"
fi
