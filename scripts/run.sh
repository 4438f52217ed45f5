#!/usr/bin/env bash
# Installs what is needed, builds, and plays something through the plug-in
# with the reference host. Arguments go to `tovarin`; without any, it plays a
# short piece that the build makes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
exec "${BUILD_DIR:-$root/build}/bin/tovarin" "$@"
