#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks need.
# Idempotent: packages already present are skipped by apt-get.
# `install-deps.sh build`: only what building the host and the plug-in needs
# (scripts/run.sh: no GoogleTest, no Google Benchmark).
# `install-deps.sh fuzz`: everything, plus clang and its fuzzer runtimes.
set -euo pipefail

BUILD_PKGS=(cmake g++ pkg-config make
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libsdl2-dev libpng-dev libcli11-dev libxcb1-dev libxcb-shm0-dev)
TEST_PKGS=(googletest libgtest-dev libbenchmark-dev ffmpeg sox libsox-fmt-all icecast2 pulseaudio pulseaudio-utils xvfb curl
  python3 python3-numpy valgrind openssl ca-certificates
  x11-utils xdotool python3-gi gir1.2-gtk-3.0 python3-pyqt5 clang-format
  dpkg-dev lintian
  weston gir1.2-gtk-4.0 python3-pyqt6 qt6-wayland libgtk-4-dev)
[ "${1:-}" = build ] && TEST_PKGS=()
[ "${1:-}" = fuzz ] && TEST_PKGS+=(clang libclang-rt-14-dev)

need=()
for p in "${BUILD_PKGS[@]}" "${TEST_PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
fi
