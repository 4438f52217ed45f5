#!/usr/bin/env bash
# Configures and builds tovarin into BUILD_DIR (default: build).
# Extra arguments go to cmake's configure step (e.g. -DTOVARIN_SANITIZE=address).
# The tests are built even where scripts/run.sh configured without them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DTOVARIN_TESTS=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
