#!/usr/bin/env bash
# Installs what Vidmill needs to build, test and run (Debian 12, as root).
# Quick when everything is already there.
set -euo pipefail
PACKAGES=(
  build-essential cmake pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libavfilter-dev libavdevice-dev libsdl2-dev
  qt6-base-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg xvfb xauth python3 python3-aiosmtpd openssl fonts-dejavu-core
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
