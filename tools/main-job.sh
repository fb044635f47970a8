#!/usr/bin/env bash
# The main job: makes a sample clip and shows what Vidmill's probe reads in it.
set -euo pipefail
build=${1:-build}
sample_dir="$build/sample"
mkdir -p "$sample_dir"
sample="$sample_dir/sample.mp4"
if [[ ! -s "$sample" ]]; then
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=3 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 \
    -c:v libx264 -pix_fmt yuv420p -c:a aac -metadata title="Vidmill sample" "$sample"
fi
"$build/vidmill-cli" info "$sample"
