#!/usr/bin/env bash
# Installs the Debian 12 packages the agent, its tools and its tests need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libglib2.0-dev libplist-dev libpulse-dev libpng-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libchromaprint-dev libsqlite3-dev libtag1-dev
  libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
  pulseaudio pulseaudio-utils ffmpeg sqlite3 libchromaprint-tools
  # the fuzz harnesses: clang's libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # the install test: the package, the user unit, the manual pages
  dpkg-dev systemd groff-base
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
