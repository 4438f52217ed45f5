#!/usr/bin/env bash
# Installs tovarin into a temporary prefix, builds the C example host against
# it with pkg-config and with CMake (find_package), and plays a tagged file
# through both builds of the C example, the Python example and the installed
# `tovarin`. Checks that the installed
# binaries find their libraries relative to themselves, not in the build tree.
# Uses BUILD_DIR (default: build), building there what is installed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
work="$(mktemp -d /tmp/tovarin-install-XXXXXX)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

fail() { echo "test-install: FAIL: $*" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DTOVARIN_BENCH=OFF >/dev/null
cmake --build "$build" --target tovarin Plugin tovarin-ui -j2 >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
plugin="$(pkg-config --variable=plugin tovarin)"
[ -f "$plugin" ] || fail "pkg-config's plugin path $plugin is not a file"
[ -L "$prefix/lib/libtovarin-ui.so.1" ] || fail "no versioned soname link libtovarin-ui.so.1"
for bin in "$prefix/bin/tovarin" "$plugin" "$prefix"/lib/libtovarin-ui.so.1; do
  paths="$(readelf -d "$bin" | grep -E 'RPATH|RUNPATH' || true)"
  case "$paths" in *"$build"* | *"$root"*) fail "$bin has a run path into the build tree: $paths" ;; esac
done

media="$work/tone.flac"
ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:duration=2.3:sample_rate=44100 -ac 2 \
  -metadata title='Install Tone' -metadata artist='Tovarin CI' -metadata album='Examples' "$media"

check() {  # name, output file
  grep -q "title: Install Tone" "$2" || fail "$1 did not show the title: $(cat "$2")"
  grep -q "album: Examples" "$2" || fail "$1 did not show the album"
  grep -q "length: 2 s" "$2" || fail "$1 did not show the length"
  grep -q "position: 2 / 2 s" "$2" || fail "$1 did not play to the end"
  grep -q "^ended" "$2" || fail "$1 did not end"
  echo "test-install: $1 ok"
}
export TOVARIN_AUDIO_OUTPUT=null

make -s -C "$work" -f "$root/examples/c/Makefile" VPATH="$root/examples/c" play
timeout 30 "$work/play" "$media" >"$work/c.txt" 2>&1 || fail "the C example failed: $(cat "$work/c.txt")"
check "C example" "$work/c.txt"

# The same host built by CMake from the installed package: a version that
# asks for more than is installed is refused, 1.0 is found.
cmake_host() {  # version asked for, build dir
  cmake -S "$work/cmake-host" -B "$2" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER_LAUNCHER= \
    -DTOVARIN_ASK="$1" >"$2.log" 2>&1
}
mkdir "$work/cmake-host"
cp "$root/examples/c/play.c" "$work/cmake-host/"
sed 's/find_package(tovarin 1.0 REQUIRED)/find_package(tovarin ${TOVARIN_ASK} REQUIRED)/' \
  "$root/examples/c/CMakeLists.txt" >"$work/cmake-host/CMakeLists.txt"
! cmake_host 2.0 "$work/cmake-2" || fail "find_package(tovarin 2.0) accepted version $(pkg-config --modversion tovarin)"
cmake_host 1.0 "$work/cmake-1" || fail "find_package(tovarin 1.0) failed: $(cat "$work/cmake-1.log")"
cmake --build "$work/cmake-1" >"$work/cmake-build.log" 2>&1 || fail "the CMake host did not build: $(cat "$work/cmake-build.log")"
timeout 30 "$work/cmake-1/play" "$media" >"$work/cmake.txt" 2>&1 || fail "the CMake-built example failed: $(cat "$work/cmake.txt")"
check "C example built with CMake" "$work/cmake.txt"

timeout 30 python3 "$root/examples/python/play.py" "$media" >"$work/py.txt" 2>&1 ||
  fail "the Python example failed: $(cat "$work/py.txt")"
check "Python example" "$work/py.txt"

# The installed host, from a moved prefix: nothing points back at the old one.
mv "$prefix" "$work/moved"
timeout 30 "$work/moved/bin/tovarin" play "$media" </dev/null >"$work/host.txt" 2>&1 ||
  fail "the installed tovarin failed: $(cat "$work/host.txt")"
grep -q "00:02 / 00:02" "$work/host.txt" || fail "the installed tovarin did not play to the end"
echo "test-install: installed tovarin ok"
