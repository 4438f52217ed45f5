#!/usr/bin/env bash
# Plants the one-line faults of a list, one at a time, in a copy of the tree
# (never in the working tree), rebuilds incrementally, runs the unit and
# plug-in tests and prints the faults that no test caught. Not part of CI: a
# fault costs a rebuild and, when it survives, a whole test run.
#
#   bash scripts/mutants.sh [LIST] [NAME-REGEX]
#
# LIST (default scripts/mutants.list): one fault a line, three fields split by
# tabs: the file, the exact text, its replacement (the text's first
# occurrence is replaced). Blank lines and lines starting with # are skipped.
# NAME-REGEX picks faults whose line matches it (e.g. "fade|biquad");
# MUTANTS_FROM=N starts at the N-th fault of those.
# MUTANTS_DIR (default /tmp/tovarin-mutants-$UID) holds the copy and its
# build; MUTANTS_JOBS (default 2) the build's parallelism; MUTANTS_EXCLUDE a
# ctest -E pattern of tests to leave out (e.g. 'Formats/|SlowSeek', the
# decoder's media matrix, most of the run's time and reached by no fault
# outside decode/).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="${1:-$root/scripts/mutants.list}"
pick="${2:-.}"
work="${MUTANTS_DIR:-/tmp/tovarin-mutants-$(id -u)}"
jobs="${MUTANTS_JOBS:-2}"
copy="$work/tree" build="$work/build" log="$work/log"
mkdir -p "$copy" "$log"

# The tree's files (committed or not, ignored ones left out), compared by
# content: a file that differs is copied with a fresh time, so a fault left
# behind by an interrupted run is rebuilt away; files gone from the tree go.
python3 - "$root" "$copy" <<'PY'
import filecmp, os, shutil, subprocess, sys
root, copy = sys.argv[1:]
listed = subprocess.run(["git", "-C", root, "ls-files", "-co", "--exclude-standard", "-z"],
                        check=True, capture_output=True).stdout.decode()
files = {f for f in listed.split("\0") if f and os.path.isfile(os.path.join(root, f))}
for f in files:
    src, dst = os.path.join(root, f), os.path.join(copy, f)
    if not (os.path.isfile(dst) and filecmp.cmp(src, dst, shallow=False)):
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy(src, dst)
for dirpath, _, names in os.walk(copy):
    for n in names:
        if os.path.relpath(os.path.join(dirpath, n), copy) not in files:
            os.remove(os.path.join(dirpath, n))
PY

export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
cmake -S "$copy" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVARIN_BENCH=OFF >"$log/configure.txt"

build_and_test() {  # $1: log name; 0 when everything built and passed
  cmake --build "$build" -j"$jobs" >"$log/$1.build.txt" 2>&1 || return 2
  # The quick unit tests first: most faults end the run there.
  local exclude=(${MUTANTS_EXCLUDE:+-E "$MUTANTS_EXCLUDE"})
  (cd "$build" && ctest -L unit "${exclude[@]}" -j"$jobs" --timeout 300 --stop-on-failure >"$log/$1.test.txt" 2>&1 &&
    ctest -L plugin "${exclude[@]}" -j"$jobs" --timeout 300 --stop-on-failure >>"$log/$1.test.txt" 2>&1)
}

# MUTANTS_SKIP_BASELINE=1: the tree is known to pass (the copy is still built).
echo "baseline: building and testing the unchanged copy"
if [ -n "${MUTANTS_SKIP_BASELINE:-}" ]; then
  cmake --build "$build" -j"$jobs" >"$log/baseline.build.txt" 2>&1
elif ! build_and_test baseline; then
  echo "the unchanged copy fails; see $log/baseline.*.txt" >&2
  exit 1
fi

survived=() killed=0 unbuilt=0 n=0
while IFS= read -r line <&3 || [ -n "$line" ]; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  grep -Eq -- "$pick" <<<"$line" || continue
  IFS=$'\t' read -r file text replacement <<<"$line"
  n=$((n + 1))
  [ "$n" -ge "${MUTANTS_FROM:-1}" ] || continue
  target="$copy/$file"
  if [ -z "$text" ] || ! grep -qF -- "$text" "$target" 2>/dev/null; then
    echo "[$n] NOT FOUND  $file: $text" >&2
    exit 1
  fi
  cp "$target" "$work/original"
  python3 - "$target" "$text" "$replacement" <<'EOF'
import sys
path, old, new = sys.argv[1:]
src = open(path, encoding="utf-8").read()
open(path, "w", encoding="utf-8").write(src.replace(old, new, 1))
EOF
  set +e
  build_and_test "mutant-$n" </dev/null
  rc=$?
  set -e
  cp "$work/original" "$target"  # a fresh time: rebuilt next round
  case $rc in
    0) survived+=("$file: $text  ->  $replacement"); echo "[$n] SURVIVED   $file: $replacement" ;;
    2) unbuilt=$((unbuilt + 1)); echo "[$n] no build   $file: $replacement" ;;
    *) killed=$((killed + 1))
       echo "[$n] killed     $file by $(grep -m1 -oE '[0-9]+ - [A-Za-z0-9_./]+' "$log/mutant-$n.test.txt" || echo '?')" ;;
  esac
done 3<"$list"
cmake --build "$build" -j"$jobs" >/dev/null 2>&1 || true  # leave the copy built unchanged

echo
echo "$n faults: $killed caught, $unbuilt did not build, ${#survived[@]} survived"
for s in "${survived[@]}"; do echo "  survived: $s"; done
[ ${#survived[@]} -eq 0 ]
