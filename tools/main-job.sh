#!/usr/bin/env bash
# The main job: makes a sample clip, shows what Vidmill's probe reads in it,
# converts it with Vidmill's own transcoder and shows what was written.
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

# The transcoder from the command line: a smaller H.264+AAC copy with the
# engine's own brightness filter, then the probe's view of the result.
converted="$sample_dir/sample-640x360.mp4"
echo
"$build/vidmill-cli" convert "$sample" --output "$converted" \
  -o vcodec=libx264 -o s=640x360 -o b=1000k -o acodec=aac -o ab=128k -o vf=nativeeq=20:0
echo
"$build/vidmill-cli" info "$converted"

# The desktop program, with the sample in its conversion list. On a display
# it stays open until closed; without one it runs for a few seconds on a
# virtual display (Xvfb) and leaves a picture of its window.
if [[ -x "$build/vidmill" ]]; then
  if [[ -n "${DISPLAY:-}" ]]; then
    "$build/vidmill" --add "$sample"
  else
    xvfb-run -a -s "-screen 0 1100x760x24" \
      "$build/vidmill" --add "$sample" --quit-after 5 --screenshot "$sample_dir/vidmill-window.png"
  fi
fi
