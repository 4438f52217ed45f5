#!/usr/bin/env bash
# Makes the Windows release from a finished Windows build: the folder
# BUILD_WIN_DIR/release/tovarin-VERSION-win32 and a zip of it beside it.
# It holds Plugin.dll, tovarin.exe, include/tovarin/plugin.h and version.h,
# README.txt (for Windows hosts) and the licences of what Plugin.dll links in: FFmpeg's
# as its configuration made it (read from the built libavutil), SDL2's and
# the MinGW-w64 runtime's. Called by build-windows.sh.
#
#   bash scripts/release-windows.sh DEPS_PREFIX
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${BUILD_WIN_DIR:-$root/build-win32}"
deps="$1"
fail() { echo "release-windows: FAIL: $*" >&2; exit 1; }

version="$(sed -n 's/^#define TOVARIN_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' "$root/include/tovarin/version.h" |
  paste -sd.)"
name="tovarin-$version-win32"
dir="$out/release/$name"
for f in "$out/bin/Plugin.dll" "$out/bin/tovarin.exe"; do [ -f "$f" ] || fail "no $f"; done

# What avutil_license() answers in the library linked in: "LGPL version 2.1
# or later" unless FFmpeg was configured with --enable-gpl (GPL) or
# --enable-version3 (LGPL 3 / GPL 3) or --enable-nonfree (not redistributable).
license="$(strings "$deps/lib/libavutil.a" | sed -n 's/^libavutil license: //p' | head -n1)"
case "$license" in
"LGPL version 2.1 or later") license_files=(/usr/share/common-licenses/LGPL-2.1) ;;
"LGPL version 3 or later") license_files=(/usr/share/common-licenses/LGPL-3 /usr/share/common-licenses/GPL-3) ;;
"GPL version 2 or later") license_files=(/usr/share/common-licenses/GPL-2) ;;
"GPL version 3 or later") license_files=(/usr/share/common-licenses/GPL-3) ;;
*) fail "FFmpeg's licence is \"$license\": not one this release may carry" ;;
esac
ffmpeg_version="$(sed -n 's/^Version: //p' "$deps/lib/pkgconfig/libavutil.pc")"
sdl_version="$(sed -n 's/^Version: //p' "$deps/lib/pkgconfig/sdl2.pc")"
ffmpeg_version="$(sed -n 's/.*FFMPEG_VERSION "\(.*\)"/\1/p' "$deps/include/libavutil/ffversion.h" 2>/dev/null || echo "$ffmpeg_version")"

rm -rf "$dir" "$dir.zip"
mkdir -p "$dir/include/tovarin" "$dir/licenses/FFmpeg" "$dir/licenses/SDL2" "$dir/licenses/MinGW-w64"
cp "$out/bin/Plugin.dll" "$out/bin/tovarin.exe" "$dir/"
cp "$root/include/tovarin/plugin.h" "$root/include/tovarin/version.h" "$dir/include/tovarin/"
# Texts with Windows line ends. The copyright files are those of the Debian
# source packages built (FFmpeg, SDL2) and of the toolchain's runtime.
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }
sed -e "s/@VERSION@/$version/" -e "s/@FFMPEG_VERSION@/$ffmpeg_version/" -e "s/@SDL_VERSION@/$sdl_version/" \
  -e "s/@FFMPEG_LICENSE@/$license/" "$root/docs/windows/README.txt" >"$dir/README.tmp"
crlf "$dir/README.tmp" "$dir/README.txt" && rm "$dir/README.tmp"
crlf /usr/share/doc/libavutil57/copyright "$dir/licenses/FFmpeg/copyright.txt"
for f in "${license_files[@]}"; do crlf "$f" "$dir/licenses/FFmpeg/$(basename "$f").txt"; done
echo "$license" | crlf /dev/stdin "$dir/licenses/FFmpeg/configured-license.txt"
crlf /usr/share/doc/libsdl2-2.0-0/copyright "$dir/licenses/SDL2/copyright.txt"
crlf /usr/share/doc/mingw-w64-common/copyright "$dir/licenses/MinGW-w64/mingw-w64-copyright.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$dir/licenses/MinGW-w64/gcc-runtime-copyright.txt"
crlf /usr/share/common-licenses/GPL-3 "$dir/licenses/MinGW-w64/GPL-3.txt"

(cd "$out/release" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "=== release-windows: $dir and $name.zip (FFmpeg: $license)"
