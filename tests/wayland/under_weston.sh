#!/usr/bin/env bash
# Runs a command on a headless weston of its own, with no X server and a
# test sine as $TONE (440 Hz, 8 s):
#   under_weston.sh COMMAND...
# WESTON_SEAT=1: weston with a seat (a keyboard and a pointer), which SDL 2.26
# needs to start on Wayland: weston then draws into a window of an Xvfb of
# its own, which the command does not see.
# Exits 77 (skipped) only when weston (or its Xvfb) cannot start; otherwise the command's
# status (124 when it hangs past DISPLAY_TIMEOUT seconds, default 120). The command may take
# screenshots with `weston-screenshooter` (it writes into its working folder).
set -u
tmp="$(mktemp -d)"
cleanup() {
  [ -n "${weston:-}" ] && kill "$weston" 2>/dev/null && wait "$weston" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
. "$(dirname "$0")/../common/displays.sh"
if ! command -v weston >/dev/null; then
  echo "skipped: weston is not installed (the weston package)"
  exit 77
fi
export XDG_RUNTIME_DIR="$tmp/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The desktop shell shows plain clients' windows (the kiosk shell did not);
# --debug lets weston-screenshooter in.
backend=headless-backend.so
if [ "${WESTON_SEAT:-}" = 1 ]; then
  start_xvfb 1024x768x24 || exit 77
  backend=x11-backend.so
fi
weston --backend=$backend --use-pixman --debug --shell=desktop-shell.so --idle-time=0 \
  --width="${WESTON_WIDTH:-640}" --height="${WESTON_HEIGHT:-480}" -S tovarin-test >"$tmp/weston.log" 2>&1 &
weston=$!
if ! wait_until "$weston" test -S "$XDG_RUNTIME_DIR/tovarin-test"; then
  echo "skipped: weston did not start: $(head -c 500 "$tmp/weston.log")"
  exit 77
fi
unset DISPLAY
export WAYLAND_DISPLAY=tovarin-test GDK_BACKEND=wayland GSK_RENDERER=cairo QT_QPA_PLATFORM=wayland
export TONE="$tmp/tone.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=8" -ac 2 "$TONE" || exit 1
timeout "${DISPLAY_TIMEOUT:-120}" "$@"
