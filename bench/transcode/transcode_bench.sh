#!/usr/bin/env bash
# Runs the same conversions with vidmill-cli and with Debian's ffmpeg tool,
# same codecs and settings, side by side, and prints the wall times, their
# ratio (vidmill / ffmpeg) and the peak memory of each (/usr/bin/time -v).
#
#   bash bench/transcode/transcode_bench.sh BUILD_DIR [RUNS]
#
# Jobs: (1) 1080p H.264+AAC to 640x360 H.264 1000 kb/s + AAC 128 kb/s MP4,
# (2) 640x360 MPEG-4+MP3 AVI re-encode, (3) WAV to MP3, (4) stream-copy
# remux, (5) a batch of 8 short clips with -j 2 against 8 ffmpeg runs one
# after another. Each job runs RUNS times (default 5) alternating the two
# programs; the median wall time and the largest peak memory are shown.
# Targets: ratio at most 1.05 for (1) to (4), at most 0.8 for (5); memory
# within 1.2 times ffmpeg's.
set -euo pipefail
build=${1:?usage: transcode_bench.sh BUILD_DIR [RUNS]}
runs=${2:-5}
cli="$(cd "$build" && pwd)/vidmill-cli"
[[ -x "$cli" ]] || { echo "no vidmill-cli in $build" >&2; exit 2; }
work="$build/bench-transcode"
media="$work/media"
mkdir -p "$media"

make_media() {
  local out=$1; shift
  [[ -s "$out" ]] || ffmpeg -nostdin -v error -y "$@" "$out"
}
# Inputs, made once.
make_media "$media/hd.mp4" -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 -ac 2 \
  -c:v libx264 -preset veryfast -b:v 6000k -pix_fmt yuv420p -c:a aac -b:a 192k
make_media "$media/sd.avi" -f lavfi -i testsrc2=size=640x360:rate=25:duration=20 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20 -ac 2 \
  -c:v mpeg4 -q:v 4 -c:a libmp3lame -b:a 128k
make_media "$media/long.wav" -f lavfi -i sine=frequency=440:sample_rate=44100:duration=180 -ac 2 -c:a pcm_s16le
for i in 1 2 3 4 5 6 7 8; do
  make_media "$media/short$i.mp4" -f lavfi -i testsrc2=size=640x360:rate=25:duration=3 \
    -f lavfi -i sine=frequency=$((300 + 50 * i)):sample_rate=44100:duration=3 -ac 2 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac
done

# measure COMMAND...: runs the command under /usr/bin/time -v; prints
# "wall_seconds peak_kib cpu_seconds" (cpu: user + system).
measure() {
  local log="$work/time.log"
  /usr/bin/time -v "$@" >"$work/out.log" 2>"$log" || { echo "failed: $*" >&2; tail -5 "$log" >&2; exit 1; }
  local wall rss cpu
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$log")
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$log")
  echo "$wall $rss $cpu"
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# The machine may be shared: the CPU time (user + system) of each side is
# shown too, as it hardly depends on the load.
printf '%-34s %9s %9s %7s %8s %8s %7s %10s %10s %6s\n' job vidmill ffmpeg ratio "vm cpu" "ff cpu" "cpu" \
  "vm KiB" "ff KiB" mem
# job NAME VIDMILL_SCRIPT FFMPEG_SCRIPT (shell snippets run with bash -c)
job() {
  local name=$1 vm=$2 ffm=$3
  local vm_walls=() ff_walls=() vm_cpus=() ff_cpus=() vm_rss=0 ff_rss=0 w m c
  for ((r = 0; r < runs; r++)); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    read -r w m c < <(measure bash -c "$vm")
    vm_walls+=("$w"); vm_cpus+=("$c"); ((m > vm_rss)) && vm_rss=$m
    rm -rf "$work/out"; mkdir -p "$work/out"
    read -r w m c < <(measure bash -c "$ffm")
    ff_walls+=("$w"); ff_cpus+=("$c"); ((m > ff_rss)) && ff_rss=$m
  done
  local vw fw vc fc
  vw=$(printf '%s\n' "${vm_walls[@]}" | median)
  fw=$(printf '%s\n' "${ff_walls[@]}" | median)
  vc=$(printf '%s\n' "${vm_cpus[@]}" | median)
  fc=$(printf '%s\n' "${ff_cpus[@]}" | median)
  printf '%-34s %8.2fs %8.2fs %7.3f %7.2fs %7.2fs %7.3f %10d %10d %6.2f\n' "$name" "$vw" "$fw" \
    "$(awk "BEGIN {print $vw / $fw}")" "$vc" "$fc" "$(awk "BEGIN {print $vc / $fc}")" \
    "$vm_rss" "$ff_rss" "$(awk "BEGIN {print $vm_rss / $ff_rss}")"
}

o="$work/out"
ff="ffmpeg -nostdin -v error -y"
job "1 1080p H.264+AAC -> 360p MP4" \
  "$cli convert $media/hd.mp4 --output $o/a.mp4 -o vcodec=libx264 -o s=640x360 -o b=1000k -o acodec=aac -o ab=128k" \
  "$ff -i $media/hd.mp4 -c:v libx264 -s 640x360 -b:v 1000k -c:a aac -b:a 128k $o/a.mp4"
job "2 360p MPEG-4+MP3 AVI re-encode" \
  "$cli convert $media/sd.avi --output $o/b.avi -o vcodec=mpeg4 -o b=1000k -o acodec=libmp3lame -o ab=128k" \
  "$ff -i $media/sd.avi -c:v mpeg4 -b:v 1000k -c:a libmp3lame -b:a 128k $o/b.avi"
job "3 WAV -> MP3" \
  "$cli convert $media/long.wav --output $o/c.mp3 -o acodec=libmp3lame -o ab=192k" \
  "$ff -i $media/long.wav -c:a libmp3lame -b:a 192k $o/c.mp3"
job "4 stream-copy remux MP4 -> MKV" \
  "$cli convert $media/hd.mp4 --output $o/d.mkv -o vcodec=copy -o acodec=copy" \
  "$ff -i $media/hd.mp4 -c copy $o/d.mkv"
batch_vm="$cli convert"
batch_ff=""
for i in 1 2 3 4 5 6 7 8; do
  batch_vm+=" $media/short$i.mp4"
  batch_ff+="$ff -i $media/short$i.mp4 -c:v libx264 -b:v 1000k -c:a aac -b:a 128k $o/short$i.mp4 && "
done
job "5 8 short clips, -j 2 vs 8 runs" \
  "$batch_vm --output $o -j 2 -o vcodec=libx264 -o b=1000k -o acodec=aac -o ab=128k" \
  "${batch_ff%&& }"
