#!/usr/bin/env bash
# Installs what the build needs, builds the reference host and the plug-in
# (nothing else: no tests, no benchmarks), and plays something through the
# plug-in. Arguments go to `tovarin`; without any, it plays a short piece
# that it makes itself.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
bash "$root/scripts/install-deps.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DTOVARIN_TESTS=OFF >/dev/null
cmake --build "$build" --target tovarin -j"$(nproc)"
exec "$build/bin/tovarin" "$@"
