#!/usr/bin/env bash
# Runs a command under an Xvfb of its own, with a test sine as $TONE:
#   under_xvfb.sh COMMAND...
# Exits 77 (skipped) only when Xvfb cannot start; otherwise the command's
# status (124 when it hangs past DISPLAY_TIMEOUT seconds, default 120).
set -u
tmp="$(mktemp -d)"
cleanup() {
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
if ! command -v Xvfb >/dev/null; then
  echo "skipped: Xvfb is not installed (the xvfb package)"
  exit 77
fi
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
# Xvfb writes its display number once it accepts connections.
for _ in $(seq 100); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$tmp/display" ]; then
  echo "skipped: Xvfb did not start: $(head -c 500 "$tmp/xvfb.log")"
  exit 77
fi
export DISPLAY=":$(head -n1 "$tmp/display")"
export TONE="$tmp/tone.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=8" -ac 2 "$TONE" || exit 1
timeout "${DISPLAY_TIMEOUT:-120}" "$@"
