#!/usr/bin/env bash
# Builds the 32-bit Windows Plugin.dll (and whatever Windows test host and
# program the tree holds) into build-win32/, cross-compiled with MinGW-w64.
#
#   1. installs the toolchain and Wine when missing (idempotent),
#   2. fetches the FFmpeg and SDL2 source packages of the Linux build's
#      versions from the Debian archive this machine uses, through a private
#      deb-src list (the machine's apt configuration is left as it is),
#   3. cross-builds them as static libraries into a per-machine cache outside
#      the clone, $TOVARIN_DEPS_CACHE/win32-deps/<key>, where the key covers
#      both versions, the configure flags, the toolchain file and the
#      compiler: a fresh clone on the same machine skips them, and a change
#      to any of those builds a new prefix beside the old one,
#   4. configures CMake with cmake/mingw-i686.cmake and builds,
#   5. makes the release: build-win32/release/tovarin-VERSION-win32/ (the
#      DLL, tovarin.exe, plugin.h and version.h, a README for Windows hosts,
#      the licences) and its .zip (scripts/release-windows.sh).
#
# Options: --deps-only (stop after step 3).
# Environment: BUILD_WIN_DIR (default build-win32), JOBS (default 2),
# TOVARIN_DEPS_CACHE (default /var/cache/tovarin, or ~/.cache/tovarin when
# that cannot be written).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${BUILD_WIN_DIR:-$root/build-win32}"
work="$out/deps-src"
jobs="${JOBS:-2}"
deps_only=0
[ "${1:-}" = "--deps-only" ] && deps_only=1

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
stamp() { date +%s; }
say() { echo "=== build-windows: $*"; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# --- 1. toolchain and Wine ---------------------------------------------------
TOOL_PKGS=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  mingw-w64-i686-dev cmake make pkg-config nasm dpkg-dev xz-utils ccache googletest)
need=()
for p in "${TOOL_PKGS[@]}"; do installed "$p" || need+=("$p"); done
wine_needed=0
installed wine && installed wine32:i386 || wine_needed=1
if [ "$wine_needed" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture for wine32"
  $SUDO dpkg --add-architecture i386
fi
if [ "${#need[@]}" -gt 0 ] || [ "$wine_needed" = 1 ]; then
  [ "$wine_needed" = 1 ] && need+=(wine wine32:i386)
  say "installing ${need[*]}"
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# --- 2. source packages ------------------------------------------------------
# The versions of the Linux build's libraries when they are installed, so that
# both systems decode with the same code; otherwise the archive's current one.
src_spec() { # source-package binary-package
  local v
  v="$(dpkg-query -W -f='${Version}' "$2" 2>/dev/null || true)"
  if [ -n "$v" ]; then echo "$1=$v"; else echo "$1"; fi
}
upstream_version() { # 7:5.1.9-0+deb12u1 -> 5.1.9
  local v="${1#*=}"; v="${v#*:}"; v="${v%-*}"; echo "${v%+dfsg*}"
}

# deb-src lines for every Debian archive entry of the machine's apt sources
# (one-line .list files and deb822 .sources files).
write_debsrc_list() {
  local files=() f
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
  done
  for f in "${files[@]}"; do
    case "$f" in
    *.sources)
      awk '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && uris ~ /debian/ && enabled != "no") {
            n = split(uris, u, " "); m = split(suites, s, " ")
            opt = signed != "" ? "[signed-by=" signed "] " : ""
            for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
              print "deb-src " opt u[i] " " s[j] " " comps
          }
          types = uris = suites = comps = signed = enabled = ""
        }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        { key = tolower($1); sub(/:$/, "", key); $1 = ""; sub(/^ +/, "")
          if (key == "types") types = $0; else if (key == "uris") uris = $0
          else if (key == "suites") suites = $0; else if (key == "components") comps = $0
          else if (key == "signed-by") signed = $0; else if (key == "enabled") enabled = tolower($0) }
        END { flush() }' "$f" ;;
    *)
      awk '$1 == "deb" && /debian/ { $1 = "deb-src"; print }' "$f" ;;
    esac
  done
}

fetch_source() { # spec dir
  local spec="$1" dir="$2" apt_dir="$work/apt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$dir"
  local opts=(-o Dir::Etc::sourcelist="$apt_dir/sources.list" -o Dir::Etc::sourceparts=-
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
    -o APT::Sandbox::User=root -q)
  if [ ! -s "$apt_dir/sources.list" ]; then
    write_debsrc_list > "$apt_dir/sources.list"
    [ -s "$apt_dir/sources.list" ] || { echo "no Debian archive found in /etc/apt/sources.list*" >&2; exit 1; }
    say "private deb-src list:"; sed 's/^/    /' "$apt_dir/sources.list"
    apt-get "${opts[@]}" update
  fi
  (cd "$dir" && apt-get "${opts[@]}" source --download-only "$spec")
  local dsc
  dsc="$(ls "$dir"/*.dsc | head -n1)"
  (cd "$dir" && dpkg-source -x "$(basename "$dsc")" src >/dev/null)
}

# --- 3. static dependencies --------------------------------------------------
host=i686-w64-mingw32
ffmpeg_spec="$(src_spec ffmpeg libavformat-dev)"
sdl_spec="$(src_spec libsdl2 libsdl2-dev)"
# Audio only: the decoders, demuxers and protocols the audio library opens.
# TLS through the Windows schannel backend, so https needs no other library.
# HLS stations: "hls" reads the playlists, "mpegts" the MPEG-TS segments most
# stations send (AAC or MP3 inside, through the aac and mpegaudio parsers
# already listed; packed-audio segments go through the aac and mp3 demuxers),
# and "crypto" decrypts AES-128 segments, reading only through the protocols
# the opening allows (http, https).
ffmpeg_flags=(--target-os=mingw32 --arch=x86 --cpu=i686
  --cross-prefix=$host- --cc=$host-gcc-posix --cxx=$host-g++-posix
  --enable-cross-compile
  --extra-cflags="-msse2 -mfpmath=sse"
  --enable-static --disable-shared --disable-debug --disable-doc
  --disable-programs --disable-autodetect --enable-w32threads --enable-schannel
  --disable-everything --disable-avdevice --disable-avfilter --disable-swscale
  --disable-postproc --enable-swresample --enable-network
  --enable-decoder='mp3,mp3float,flac,vorbis,opus,aac,alac,pcm_*'
  --enable-demuxer='wav,mp3,flac,ogg,mov,aac,w64,aiff,hls,mpegts'
  --enable-parser='mpegaudio,flac,vorbis,opus,aac'
  --enable-protocol='file,http,https,tcp,tls,crypto')
# Static; no joystick, haptic or sensor support, which the plug-in never
# uses. Video stays: SDL's table of entry points refers to its Windows
# video functions (the plug-in never initialises video).
sdl_flags=(-DCMAKE_BUILD_TYPE=Release -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF
  -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF)

# The cache key: everything that decides what the libraries hold.
key_hash="$({ echo "$ffmpeg_spec" "$sdl_spec"; printf '%s\n' "${ffmpeg_flags[@]}" "${sdl_flags[@]}"
  cat "$root/cmake/mingw-i686.cmake"; $host-gcc-posix --version | head -n1; } | sha256sum | cut -c1-12)"
cache="${TOVARIN_DEPS_CACHE:-/var/cache/tovarin}"
mkdir -p "$cache/win32-deps" 2>/dev/null && [ -w "$cache/win32-deps" ] ||
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/tovarin"
deps="$cache/win32-deps/ffmpeg-$(upstream_version "$ffmpeg_spec")-sdl2-$(upstream_version "$sdl_spec")-$key_hash"
mkdir -p "$deps" "$work"
# One build of a prefix at a time on the machine: a second run waits for
# the first and then finds the libraries done.
exec 9>"$deps.lock"
flock 9
say "dependencies in $deps"

# Fetches and builds one dependency into $deps, unless its stamp says it is
# there: `builder` gets the folder the source is unpacked in (<dir>/src) and
# configures, builds and installs it. The stamp keeps how long that took.
build_dep() { # name spec dir builder
  local name="$1" spec="$2" dir="$work/$3" builder="$4" done_file="$deps/.$3-done" t0 t1 t2
  if [ -f "$done_file" ]; then
    say "$name cached ($(cat "$done_file"))"
    return
  fi
  t0=$(stamp)
  say "$name ($spec)"
  rm -rf "$dir"
  fetch_source "$spec" "$dir"
  t1=$(stamp)
  "$builder" "$dir"
  t2=$(stamp)
  echo "fetch $((t1 - t0)) s, configure+build $((t2 - t1)) s" > "$done_file"
  say "$name done: $(cat "$done_file")"
}
build_ffmpeg() { # dir
  mkdir -p "$1/build"
  (cd "$1/build" && ../src/configure --prefix="$deps" "${ffmpeg_flags[@]}" >"$1/configure.log" 2>&1) ||
    { tail -n 30 "$1/configure.log" >&2; exit 1; }
  make -C "$1/build" -j"$jobs" >"$1/make.log" 2>&1 || { tail -n 40 "$1/make.log" >&2; exit 1; }
  make -C "$1/build" install >/dev/null
}
build_sdl2() { # dir
  cmake -S "$1/src" -B "$1/build" "${sdl_flags[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_INSTALL_PREFIX="$deps" \
    >"$1/configure.log" 2>&1 || { tail -n 30 "$1/configure.log" >&2; exit 1; }
  cmake --build "$1/build" -j"$jobs" >"$1/make.log" 2>&1 || { tail -n 40 "$1/make.log" >&2; exit 1; }
  cmake --install "$1/build" >/dev/null
}
build_dep FFmpeg "$ffmpeg_spec" ffmpeg build_ffmpeg
build_dep SDL2 "$sdl_spec" sdl2 build_sdl2

flock -u 9
exec 9>&-
[ "$deps_only" = 1 ] && exit 0

# --- 4. the project ----------------------------------------------------------
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
t0=$(stamp)
cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DTOVARIN_WIN_DEPS="$deps" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
  -DTOVARIN_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$out" -j"$jobs"
say "project built in $(( $(stamp) - t0 )) s: $(ls "$out"/bin/*.dll "$out"/bin/*.exe 2>/dev/null | tr '\n' ' ')"

# --- 5. the release folder and zip ---------------------------------------------
BUILD_WIN_DIR="$out" bash "$root/scripts/release-windows.sh" "$deps"
