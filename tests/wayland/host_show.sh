#!/usr/bin/env bash
# `tovarin play --show` on a Wayland session with no X server: the host opens
# a window through SDL's Wayland driver and paints the plug-in's form in it;
# the 440 Hz bar must reach the screen. Run under under_weston.sh.
#   host_show.sh TOVARIN
set -u
here="$(cd "$(dirname "$0")" && pwd)"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
"$1" play --show "$TONE" >"$out" 2>&1 &
host=$!
shown=1
for _ in $(seq 40); do
  sleep 0.2
  /usr/bin/python3 "$here/screen_shows_bar.py" && { shown=0; break; }
done
kill -TERM "$host"
wait "$host"
rc=$?
grep -q "^window: wayland" "$out" || { echo "no Wayland window:"; cat "$out"; exit 1; }
[ "$rc" = 0 ] || { echo "tovarin exited with $rc:"; cat "$out"; exit 1; }
exit "$shown"
