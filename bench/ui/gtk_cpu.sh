#!/usr/bin/env bash
# Runs gtk_cpu.py: GTK 3 under an Xvfb of its own, then GTK 4 natively on a
# headless weston of its own (the Python player on the pull path, and the C
# player with its subsurface where the build made it). Needs a build
# (BUILD_DIR, default build/) and the test packages. RUNS=N sets the runs of
# each kind.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
export TOVARIN_PLUGIN="$build/bin/Plugin.so" TOVARIN_UI_LIB="$build/bin/libtovarin-ui.so.1" TOVARIN_AUDIO_OUTPUT=null
export GTK4_PLAYER="$build/bin/gtk4_player"
bench="$root/bench/ui/gtk_cpu.py"
# Each run plays about 11 s: up to six runs a round on weston.
export DISPLAY_TIMEOUT=$((${RUNS:-3} * 6 * 15 + 60))
# A sine in pink noise: the bars change every frame (a steady sine's do
# not, and unchanged frames cost a pull-path host nothing).
play='ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=14" -f lavfi -i "anoisesrc=c=pink:a=0.3:d=14" \
        -filter_complex amix=inputs=2 -ac 2 "$TONE.14s.wav" && /usr/bin/python3 "$0" $1 "$TONE.14s.wav"'
"$root/tests/x11/under_xvfb.sh" sh -c "$play" "$bench" ""
"$root/tests/wayland/under_weston.sh" sh -c "$play" "$bench" --wayland
