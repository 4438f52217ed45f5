#!/usr/bin/env bash
# Configures and builds tovarin into BUILD_DIR (default: build).
# Extra arguments go to cmake's configure step (e.g. -DTOVARIN_SANITIZE=address).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
