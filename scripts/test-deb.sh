#!/usr/bin/env bash
# Makes the Debian package (CPack), checks it with lintian, installs it on
# this machine with apt-get, plays a file through the installed `tovarin`,
# builds the C example against the installed package (pkg-config and CMake)
# and plays through it, then removes the package and checks that nothing of
# it is left. Needs root (or sudo) for apt-get (which waits up to 2 min for
# another apt or dpkg to finish); the package is removed however the script
# ends. Uses BUILD_DIR (default: build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
fail() { echo "test-deb: FAIL: $*" >&2; exit 1; }
apt_get() { $SUDO apt-get -o DPkg::Lock::Timeout=120 "$@"; }

command -v lintian >/dev/null && command -v dpkg-shlibdeps >/dev/null ||
  fail "lintian and dpkg-dev are missing (bash scripts/install-deps.sh)"
if dpkg-query -W -f='${Status}' tovarin 2>/dev/null | grep -q 'install ok installed'; then
  fail "a tovarin package is installed already: this test would remove it"
fi

work="$(mktemp -d /tmp/tovarin-deb-XXXXXX)"
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then apt_get purge -y -q tovarin >/dev/null 2>&1 || $SUDO dpkg --purge tovarin || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DTOVARIN_BENCH=OFF >/dev/null
cmake --build "$build" --target tovarin Plugin tovarin-ui -j2 >/dev/null
rm -f "$build"/package/tovarin_*.deb
(cd "$build" && cpack --config CPackConfig.cmake >"$work/cpack.log" 2>&1) || fail "cpack: $(cat "$work/cpack.log")"
debs=("$build"/package/tovarin_*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "no single tovarin_*.deb in $build/package"
deb="${debs[0]}"
version="$(dpkg-deb -f "$deb" Version)"
[ "$(basename "$deb")" = "tovarin_${version}_$(dpkg --print-architecture).deb" ] || fail "named $(basename "$deb")"
echo "test-deb: made $(basename "$deb")"

# Dependencies are the libraries the binaries link, from dpkg-shlibdeps.
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libstdc++6 libavformat libavcodec libswresample libsdl2 libpng16 libxcb1; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

# lintian: no errors. The warnings kept are listed in the README.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 ||
  fail "lintian: $(cat "$work/lintian.txt")"
sed 's/^/test-deb: lintian: /' "$work/lintian.txt"

dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|; s| ->.*||' | grep -v '/$' >"$work/files"
installed=1
apt_get install -y -q --no-install-recommends "$deb" >"$work/apt.txt" 2>&1 ||
  fail "apt-get install: $(cat "$work/apt.txt")"

media="$work/tone.flac"
ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:duration=2.3:sample_rate=44100 -ac 2 \
  -metadata title='Deb Tone' -metadata album='Packages' "$media"
export TOVARIN_AUDIO_OUTPUT=null
[ "$(command -v tovarin)" = /usr/bin/tovarin ] || fail "tovarin is not /usr/bin/tovarin: $(command -v tovarin)"
(cd "$work" && timeout 30 tovarin play "$media" </dev/null >"$work/host.txt" 2>&1) ||
  fail "the installed tovarin failed: $(cat "$work/host.txt")"
grep -q "00:02 / 00:02" "$work/host.txt" || fail "the installed tovarin did not play to the end: $(cat "$work/host.txt")"
[ -f /usr/share/man/man1/tovarin.1.gz ] && gzip -t /usr/share/man/man1/tovarin.1.gz || fail "no manual page"
echo "test-deb: installed tovarin ok"

# The installed headers: each compiles alone and carries the package's version.
upstream="${version%%-*}"
for h in plugin.h ui.h version.h; do
  [ -f "/usr/include/tovarin/$h" ] || fail "no /usr/include/tovarin/$h"
  printf '#include <tovarin/%s>\n#if TOVARIN_VERSION != TOVARIN_MAKE_VERSION(%s)\n#error not %s\n#endif\n' \
    "$h" "${upstream//./, }" "$upstream" >"$work/alone.c"
  env -u PKG_CONFIG_PATH cc -std=c99 -Wall -Werror -fsyntax-only $(env -u PKG_CONFIG_PATH pkg-config --cflags tovarin) \
    "$work/alone.c" >"$work/alone.txt" 2>&1 || fail "the installed <tovarin/$h>: $(cat "$work/alone.txt")"
done
echo "test-deb: installed headers ok ($upstream)"

check() {  # name, output file
  grep -q "title: Deb Tone" "$2" && grep -q "position: 2 / 2 s" "$2" && grep -q "^ended" "$2" ||
    fail "$1 did not play the file: $(cat "$2")"
  echo "test-deb: $1 ok"
}
# The C example against the system's package: no PKG_CONFIG_PATH, no prefix.
env -u PKG_CONFIG_PATH make -s -C "$work" -f "$root/examples/c/Makefile" VPATH="$root/examples/c" play
timeout 30 "$work/play" "$media" >"$work/c.txt" 2>&1 || fail "the C example failed: $(cat "$work/c.txt")"
check "C example (pkg-config)" "$work/c.txt"
cmake -S "$root/examples/c" -B "$work/cmake" >"$work/cmake.log" 2>&1 && cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 ||
  fail "the C example did not build with CMake: $(cat "$work/cmake.log")"
timeout 30 "$work/cmake/play" "$media" >"$work/cmake.txt" 2>&1 || fail "the CMake-built example failed: $(cat "$work/cmake.txt")"
check "C example (CMake)" "$work/cmake.txt"

apt_get remove -y -q tovarin >"$work/apt.txt" 2>&1 || fail "apt-get remove: $(cat "$work/apt.txt")"
status="$(dpkg-query -W -f='${Status}' tovarin 2>/dev/null || true)"
case "$status" in "" | *not-installed | "deinstall ok config-files") ;; *) fail "after removal dpkg says: $status" ;; esac
left=""
while read -r f; do [ -e "$f" ] || [ -L "$f" ] && left+=" $f"; done <"$work/files"
for d in /usr/lib/tovarin /usr/include/tovarin /usr/lib/cmake/tovarin /usr/share/doc/tovarin; do
  [ ! -e "$d" ] || left+=" $d"
done
[ -z "$left" ] || fail "left behind:$left"
! ldconfig -p | grep -q libtovarin-ui || fail "the loader's cache still lists libtovarin-ui"
# The package has maintainer scripts (ldconfig), so dpkg keeps its record
# until it is purged: purge it too.
apt_get purge -y -q tovarin >"$work/apt.txt" 2>&1 || fail "apt-get purge: $(cat "$work/apt.txt")"
installed=0
! dpkg-query -W tovarin >/dev/null 2>&1 || fail "dpkg still knows tovarin: $(dpkg-query -W -f='${Status}' tovarin)"
echo "test-deb: removed, nothing left"
