#!/usr/bin/env bash
# Makes the README's pictures of an example player playing a made-up chord
# with its spectrum running:
#   bash scripts/screenshot.sh          docs/gtk-player.png: the GTK example
#                                       player under Xvfb
#   bash scripts/screenshot.sh wayland  docs/gtk4-player-wayland.png: the GTK 4
#                                       example player, native on a headless
#                                       weston (no X server); the whole screen
# Needs a build (scripts/build.sh) and the test packages
# (scripts/install-deps.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
display="${1:-x11}"
case "$display" in x11 | wayland) ;; *) echo "usage: $0 [x11|wayland]" >&2; exit 2 ;; esac
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
ffmpeg -loglevel error -f lavfi \
  -i "aevalsrc=0.25*sin(2*PI*110*t)+0.2*sin(2*PI*220*t)+0.15*sin(2*PI*330*t)+0.12*sin(2*PI*550*t)+0.08*sin(2*PI*1320*t)+0.05*sin(2*PI*2640*t):s=44100:d=6" \
  -f lavfi -i "anoisesrc=c=pink:a=0.02:d=6" -filter_complex amix=inputs=2:normalize=0 -ac 2 "$tmp/chord.wav"
mkdir -p "$root/docs"
export TOVARIN_PLUGIN="$build/bin/Plugin.so" TOVARIN_UI_LIB="$build/bin/libtovarin-ui.so.1" TOVARIN_AUDIO_OUTPUT=null
if [ "$display" = x11 ]; then
  "$root/tests/x11/under_xvfb.sh" /usr/bin/python3 "$root/examples/python/gtk_player.py" \
    --screenshot "$root/docs/gtk-player.png" "$tmp/chord.wav"
  echo "wrote docs/gtk-player.png"
else
  WESTON_WIDTH=560 WESTON_HEIGHT=360 "$root/tests/wayland/under_weston.sh" sh -c '
    /usr/bin/python3 "$1/examples/python/gtk4_player.py" "$2/chord.wav" 2>/dev/null &
    player=$!
    sleep 3
    cd "$2" && weston-screenshooter
    kill "$player"' sh "$root" "$tmp"
  mv "$tmp"/wayland-screenshot-*.png "$root/docs/gtk4-player-wayland.png"
  echo "wrote docs/gtk4-player-wayland.png"
fi
