#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test (labels unit, plugin, e2e).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure --timeout 600 -j"$(nproc)" "$@"
