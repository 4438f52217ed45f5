#!/usr/bin/env bash
# Tests the Windows product under Wine: the export table and imports of
# Plugin.dll (objdump -p), the release folder and zip, the Windows test
# host (the shared plug-in tests and the Windows-only ones, a German user
# locale in a wine process of its own) and tovarin.exe playing a generated
# file, headless; then tovarin.exe once more in a real window on Xvfb,
# checked from a screenshot.
#
#   bash scripts/test-windows.sh
#
# Environment: TOVARIN_WIN_BUILD (default build-win32), TOVARIN_LINUX_BUILD
# (default build: its tovarin host is the reference that the Windows sound
# is compared with; built there when missing). Exits non-zero on failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${TOVARIN_WIN_BUILD:-$root/build-win32}
linux_build=${TOVARIN_LINUX_BUILD:-$root/build}
say() { echo "== test-windows: $*"; }
fail() { echo "test-windows: FAILED: $*" >&2; exit 1; }

# --- 1. what runs it -----------------------------------------------------------
. "$root/scripts/wine-env.sh"
wine_install
objdump=$(command -v i686-w64-mingw32-objdump || command -v objdump || true)
[ -n "$objdump" ] || fail "objdump is missing"
command -v ffmpeg >/dev/null || fail "ffmpeg is missing"

# --- 2. the Windows build ----------------------------------------------------------
if [ ! -f "$out/CMakeCache.txt" ]; then
  bash "$root/scripts/build-windows.sh"
fi
cmake --build "$out" -j2 --target Plugin test-windows tovarin-win >"$out/test-build.log" 2>&1 ||
  { tail -n 40 "$out/test-build.log" >&2; fail "building the Windows test host"; }
dll=$out/bin/Plugin.dll
[ -f "$dll" ] || fail "no $dll"

# --- 3. the export table and the imports -----------------------------------------
say "objdump -p Plugin.dll"
dump=$("$objdump" -p "$dll")
# The name table: "[ordinal - base] name" rows after "[Ordinal/Name Pointer] Table".
exports=$(awk '/Ordinal Base/ {base=$NF} /\[Ordinal\/Name Pointer\] Table/ {on=1; next}
  on && /^\t\[ *[0-9]+\] / { gsub(/[\[\]]/, " "); print $1 + base, $2; next } on && NF == 0 {on=0}' <<<"$dump" | sort -k2)
expected=$(sed -n 's/^ *\([A-Za-z_0-9]*\) *@\([0-9]*\).*/\2 \1/p' "$root/src/plugin/Plugin.def" | sort -k2)
[ "$(wc -l <<<"$expected")" = 56 ] || fail "Plugin.def does not list 56 exports"
if [ "$exports" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$exports") >&2 || true
  fail "the exports are not exactly the 56 names with their ordinals (expected < > found)"
fi
imports=$(sed -n 's/^\tDLL Name: //p' <<<"$dump" | tr 'a-z' 'A-Z' | sort -u)
system_dlls=" KERNEL32.DLL USER32.DLL GDI32.DLL WINMM.DLL OLE32.DLL OLEAUT32.DLL ADVAPI32.DLL SHELL32.DLL \
SETUPAPI.DLL IMM32.DLL VERSION.DLL WS2_32.DLL SECUR32.DLL CRYPT32.DLL BCRYPT.DLL SHLWAPI.DLL MSVCRT.DLL "
for name in $imports; do
  [[ "$system_dlls" == *" $name "* ]] || fail "Plugin.dll imports $name, which is not a system DLL"
done
say "56 exports with their ordinals; imports: $(echo $imports)"

# --- 3b. the release folder and zip (made again from this build) ---------------
deps=$(sed -n 's/^TOVARIN_WIN_DEPS:PATH=//p' "$out/CMakeCache.txt")
BUILD_WIN_DIR="$out" bash "$root/scripts/release-windows.sh" "$deps" >/dev/null
rel=$(ls -d "$out"/release/tovarin-*-win32)
for f in Plugin.dll tovarin.exe include/tovarin/plugin.h include/tovarin/version.h README.txt licenses/FFmpeg/copyright.txt \
  licenses/SDL2/copyright.txt licenses/MinGW-w64/mingw-w64-copyright.txt; do
  [ -s "$rel/$f" ] || fail "the release lacks $f"
done
cmp -s "$rel/Plugin.dll" "$dll" || fail "the release's Plugin.dll is not the one built"
grep -q "configured as: $(tr -d '\r' <"$rel/licenses/FFmpeg/configured-license.txt")" "$rel/README.txt" ||
  fail "the release README does not name FFmpeg's licence"
zipped=$(python3 -c 'import sys, zipfile; print("\n".join(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")))' \
  "$rel.zip" | sort)
[ "$zipped" = "$(cd "$rel/.." && find "$(basename "$rel")" -type f | sort)" ] || fail "the zip does not hold the release folder"
say "release: $(basename "$rel").zip, $(wc -l <<<"$zipped") files"

# --- 4. Wine, headless -----------------------------------------------------------
wine_prefix "$out/wine" null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# The Linux reference host for the sound comparison.
work_log=$out/linux-build.log
if [ ! -x "$linux_build/bin/tovarin" ] || [ ! -f "$linux_build/bin/Plugin.so" ]; then
  say "building the Linux reference host in $linux_build"
  [ -f "$linux_build/CMakeCache.txt" ] || cmake -S "$root" -B "$linux_build" -DTOVARIN_BENCH=OFF >/dev/null
  cmake --build "$linux_build" -j2 --target tovarin Plugin >"$work_log" 2>&1 ||
    { tail -n 40 "$work_log" >&2; fail "building the Linux reference host"; }
fi
export TOVARIN_LINUX_HOST=$linux_build/bin/tovarin

# Wine maps the Unix working folder to Z:, so /tmp/... paths mean the same
# file on both sides.
work=$(mktemp -d /tmp/tovarin-win-XXXXXX)
cd "$work"

# --- 5. the Windows test host ----------------------------------------------------
# One wine process per test: a library that still has threads of its own
# (a recorder's capture, say) stays loaded when the host unloads it, and
# several tests need a fresh load.
exe=$out/bin/test-windows.exe
tests=$(wine "$exe" --gtest_list_tests --gtest_filter='-CommaLocale*' | tr -d '\r' |
  awk '/^[^ ]/ {suite=$1} /^  [^ ]/ {print suite $1}')
count=$(wc -l <<<"$tests")
say "test host: $count tests"
failed=()
for t in $tests; do
  if ! timeout 300 wine "$exe" --gtest_filter="$t" --gtest_brief=1 >"$work/test.log" 2>&1; then
    cat "$work/test.log"
    failed+=("$t")
  fi
done
[ ${#failed[@]} = 0 ] || fail "${#failed[@]} of $count tests: ${failed[*]}"
say "test host: $count passed"

# Wine takes the user locale from LC_ALL (or LANG, where that locale is
# installed) when the wine process starts.
say "test host under a German user locale"
log=$work/comma.log
LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 timeout 300 wine "$exe" --gtest_filter='CommaLocale*' >"$log" 2>&1 ||
  { cat "$log"; fail "the comma locale tests"; }
tr -d '\r' <"$log" | grep -E '^\[ *(PASSED|FAILED|SKIPPED) ' || true
if tr -d '\r' <"$log" | grep -q '^\[  SKIPPED \]'; then cat "$log"; fail "no comma separator under Wine's German locale"; fi

# --- 6. tovarin.exe --------------------------------------------------------------
say "tovarin.exe on a generated file"
ffmpeg -v error -y -f lavfi -i 'sine=f=440:d=3' -ac 2 -c:a libmp3lame -b:a 128k "$work/tone.mp3"
timeout 60 wine "$out/bin/tovarin.exe" --seconds 5 --auto-close "$work/tone.mp3" >"$work/host.log" 2>&1 ||
  { cat "$work/host.log"; fail "tovarin.exe"; }
grep -q '^Playing ' "$work/host.log" || { cat "$work/host.log"; fail "tovarin.exe did not play"; }
cat "$work/host.log"

# --- 7. the real window on an X display ---------------------------------------------
# tovarin.exe once more, through Wine's X11 driver (a prefix of its own) on
# Xvfb: a screenshot, taken while the tone plays, must show the display with
# the tone's bar standing out on the brush. The screenshot is kept in
# $out/artifacts/.
say "tovarin.exe on Xvfb through Wine's X11 driver"
need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xwd >/dev/null || need+=(x11-apps)
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 640x400x24 -wr -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$out/wine-x11 wineserver -k >/dev/null 2>&1 || true' EXIT
for _ in $(seq 100); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
ffmpeg -v error -y -f lavfi -i 'sine=f=440:d=15' -ac 2 -c:a libmp3lame -b:a 128k "$work/long.mp3"
(wine_prefix "$out/wine-x11" x11 && DISPLAY=$display timeout 120 wine "$out/bin/tovarin.exe" --seconds 20 \
  --auto-close "$work/long.mp3" >"$work/x11.log" 2>&1) &
x11=$!
mkdir -p "$out/artifacts"
shot=$out/artifacts/tovarin-x11.png
rm -f "$shot"
checked=0
# Until a screenshot shows the tone's bar, while the file plays (15 s).
for _ in $(seq 60); do
  if grep -q '^Playing ' "$work/x11.log" 2>/dev/null; then
    DISPLAY=$display xwd -root -silent >"$work/shot.xwd"
    if python3 "$root/tests/windows/screen_check.py" "$work/shot.xwd" "$shot" >"$work/check.log"; then
      checked=1
      break
    fi
  fi
  kill -0 $x11 2>/dev/null || break
  sleep 0.5
done
cat "$work/check.log" 2>/dev/null || true
kill $x11 2>/dev/null || true
wait $x11 2>/dev/null || true
[ $checked = 1 ] || { cat "$work/x11.log"; fail "the window on the X display (screenshot: $shot)"; }
say "screenshot kept: $shot"
rm -rf "$work"
say "all passed"
