#!/usr/bin/env bash
# Fuzzing: builds the libFuzzer targets (clang, ASan + UBSan) into
# build-fuzz/ when needed, replays every kept regression input, then runs
# each target for SECONDS (default 60) on one core.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]     targets: convert icy exports media
#
# Corpora grow in build-fuzz/corpus/<target>; an input that crashes, hangs
# or trips a sanitizer lands in build-fuzz/artifacts/<target>/, and the
# script fails. Keep such an input under fuzz/regressions/<target>/ once
# it is fixed: every later run replays it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: fuzz.sh [SECONDS] [TARGET...]  (SECONDS: a whole number above 0)" >&2
  exit 2
fi
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(convert icy exports media)
for t in "${targets[@]}"; do
  case "$t" in convert|icy|exports|media) ;; *) echo "fuzz.sh: unknown target '$t'" >&2; exit 2 ;; esac
done

# Dependencies: the project's, then clang with its sanitizer and fuzzer runtimes.
bash "$root/scripts/install-deps.sh" fuzz

build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DTOVARIN_FUZZ=ON -DTOVARIN_TESTS=OFF -DTOVARIN_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz-}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# Per target: options for libFuzzer. The export fuzzer keeps objects that
# live until unload by design (forms, recorders), so leaks are not checked there.
options() {
  case "$1" in
    convert) echo "-max_len=512" ;;
    icy) echo "-max_len=4096" ;;
    exports) echo "-max_len=2048 -len_control=0 -timeout=30 -rss_limit_mb=4096 -detect_leaks=0" ;;
    media) echo "-max_len=131072 -timeout=20 -rss_limit_mb=2560 -dict=$root/fuzz/media.dict" ;;
  esac
}

seeds="$build/seeds"
if [[ " ${targets[*]} " == *" media "* ]] && [ ! -f "$seeds/media/flac.flac" ]; then
  bash "$root/fuzz/make-seeds.sh" "$seeds/media"
fi

failed=()
summary="$build/fuzz-summary.txt"
: >"$summary"
for t in "${targets[@]}"; do
  bin="$build/bin/fuzz-$t"
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$corpus" "$artifacts"
  read -r -a opts <<<"$(options "$t")"

  # Every input kept from an earlier finding runs once first.
  shopt -s nullglob
  kept=("$root/fuzz/regressions/$t"/*)
  shopt -u nullglob
  if [ "${#kept[@]}" -gt 0 ]; then
    echo "=== fuzz-$t: replaying ${#kept[@]} regression inputs"
    if ! "$bin" "${opts[@]}" -runs=1 "${kept[@]}" >"$artifacts/replay.log" 2>&1; then
      tail -n 40 "$artifacts/replay.log"
      failed+=("$t (regression)")
      continue
    fi
  fi

  echo "=== fuzz-$t: ${seconds} s"
  dirs=("$corpus")
  [ "$t" = media ] && dirs+=("$seeds/media")
  log="$artifacts/run.log"
  status=0
  # A safety net for a wedged process; libFuzzer's own -timeout catches a
  # slow input. Replaying a large local corpus comes before the fuzzing time.
  timeout -k 10 $((seconds * 2 + 900)) "$bin" "${opts[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${dirs[@]}" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  own=$(grep -E '^fuzz-(exports|media):' "$log" | tail -n 1 || true)
  echo "fuzz-$t: ${execs:-?} inputs run, exit $status${own:+; $own}" | tee -a "$summary"
  if [ "$status" -ne 0 ]; then
    [ "$status" -eq 124 ] && echo "fuzz-$t did not end in time"
    grep -E 'ERROR|SUMMARY|check failed|runtime error|Test unit written' "$log" | head -n 20 || true
    failed+=("$t")
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz.sh: findings in: ${failed[*]} (inputs and logs in $build/artifacts/)" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
