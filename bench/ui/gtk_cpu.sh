#!/usr/bin/env bash
# Runs gtk_cpu.py under an Xvfb of its own. Needs a build (BUILD_DIR, default
# build/) and the test packages. RUNS=N sets the runs of each kind.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
export TOVARIN_PLUGIN="$build/bin/Plugin.so" TOVARIN_UI_LIB="$build/bin/libtovarin-ui.so.1" TOVARIN_AUDIO_OUTPUT=null
"$root/tests/x11/under_xvfb.sh" sh -c \
  'ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=14" -ac 2 "$TONE.14s.wav" &&
   /usr/bin/python3 "$0" "$TONE.14s.wav"' "$root/bench/ui/gtk_cpu.py"
