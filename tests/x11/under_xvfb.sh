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
. "$(dirname "$0")/../common/displays.sh"
start_xvfb 640x480x24 || exit 77
export TONE="$tmp/tone.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=8" -ac 2 "$TONE" || exit 1
timeout "${DISPLAY_TIMEOUT:-120}" "$@"
