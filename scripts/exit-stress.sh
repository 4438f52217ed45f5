#!/usr/bin/env bash
# Hosts that end at random moments under Wine, on a busy machine: N child
# processes load Plugin.dll, work (open, play three slots with the display
# on, fade, record, Bass_Free, FreeLibrary) and end at a random moment; each
# must be gone within 5 s of its exit, and a recording or "wav:" output must
# be complete after an ordinary exit. Prints a line per child and the counts.
#
#   bash scripts/exit-stress.sh [N [SCENARIO,...]]   (default 30, all six)
#
# Environment: TOVARIN_WIN_BUILD (default build-win32), EXIT_STRESS_BUSY
# (busy-loop processes beside it, default 2, niced), EXIT_STRESS_JOBS (parents
# running side by side, default 1), EXIT_STRESS_SEED, EXIT_STRESS_KEEP (leave
# a hung child running for winedbg). Exits non-zero when a child hung or
# failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TOVARIN_WIN_BUILD:-$root/build-win32}
n=${1:-30}
scenarios=${2:-}
busy=${EXIT_STRESS_BUSY:-2}
jobs=${EXIT_STRESS_JOBS:-1}
seed=${EXIT_STRESS_SEED:-$(date +%s)}
. "$root/scripts/wine-env.sh"

[ -f "$out/CMakeCache.txt" ] || bash "$root/scripts/build-windows.sh"
cmake --build "$out" -j2 --target Plugin exit-stress >"$out/exit-stress-build.log" 2>&1 ||
  { tail -n 30 "$out/exit-stress-build.log" >&2; exit 1; }
wine_prefix "$out/wine" null

work=$(mktemp -d /tmp/tovarin-exit-XXXXXX)
pids=()
runners=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
for i in 1 2 3; do
  ffmpeg -v error -y -f lavfi -i "sine=f=$((220 * i)):d=20" -ac 2 -c:a libmp3lame -b:a 128k \
    -metadata title="tone $i" "$work/tone$i.mp3"
done

# The busy machine: lower priority than the children, so that they are
# preempted at odd moments without starving everyone else.
for ((i = 0; i < busy; i++)); do
  nice -n 10 bash -c 'while :; do :; done' &
  pids+=($!)
done

echo "== exit-stress: $n children (seed $seed, $busy busy loops, $jobs at a time)"
start=$SECONDS
status=0
per=$(((n + jobs - 1) / jobs))
for ((j = 0; j < jobs; j++)); do
  count=$((j == jobs - 1 ? n - per * (jobs - 1) : per))
  mkdir -p "$work/$j"
  cp "$work"/tone*.mp3 "$work/$j/"
  wine "$out/bin/exit-stress.exe" run "$count" "$((seed + j))" "$work/$j/" $scenarios 2>/dev/null | tr -d '\r' >"$work/$j.log" &
  pids+=($!)
  runners+=($!)
done
for p in "${runners[@]}"; do wait "$p" || status=1; done
for ((j = 0; j < jobs; j++)); do
  echo "-- parent $j"
  cat "$work/$j.log"
done
grep -q '^all ' "$work/0.log" || status=1
echo "== exit-stress: $((SECONDS - start)) s"
exit $status
