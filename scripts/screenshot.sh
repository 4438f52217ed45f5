#!/usr/bin/env bash
# Makes docs/gtk-player.png: the GTK example player under Xvfb, playing a
# made-up chord with its spectrum running. Needs a build (scripts/build.sh)
# and the test packages (scripts/install-deps.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
ffmpeg -loglevel error -f lavfi \
  -i "aevalsrc=0.25*sin(2*PI*110*t)+0.2*sin(2*PI*220*t)+0.15*sin(2*PI*330*t)+0.12*sin(2*PI*550*t)+0.08*sin(2*PI*1320*t)+0.05*sin(2*PI*2640*t):s=44100:d=6" \
  -f lavfi -i "anoisesrc=c=pink:a=0.02:d=6" -filter_complex amix=inputs=2:normalize=0 -ac 2 "$tmp/chord.wav"
mkdir -p "$root/docs"
TOVARIN_PLUGIN="$build/bin/Plugin.so" TOVARIN_UI_LIB="$build/bin/libtovarin-ui.so.1" TOVARIN_AUDIO_OUTPUT=null \
  "$root/tests/x11/under_xvfb.sh" /usr/bin/python3 "$root/examples/python/gtk_player.py" \
  --screenshot "$root/docs/gtk-player.png" "$tmp/chord.wav"
echo "wrote docs/gtk-player.png"
