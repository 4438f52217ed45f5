#!/usr/bin/env bash
# Formats the C and C++ files git tracks with clang-format and the tree's
# .clang-format.
#
#   bash scripts/format.sh           # rewrites the files in place
#   bash scripts/format.sh --check   # changes nothing; lists the files that would
#                                    # change and exits 1 when there are any
#   bash scripts/format.sh [--check] PATH...   # only the tracked files below PATH
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
check=0
if [ "${1:-}" = "--check" ]; then check=1; shift; fi
command -v clang-format >/dev/null || { echo "format.sh: clang-format is missing (apt-get install clang-format)" >&2; exit 2; }

mapfile -d '' files < <(git ls-files -z -- "${@:-.}" | grep -zE '\.(c|cc|cpp|h|hpp)$' || true)
[ "${#files[@]}" -gt 0 ] || exit 0

if [ "$check" -eq 0 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 20 clang-format -i --style=file
  exit 0
fi
changed=0
for f in "${files[@]}"; do
  if ! clang-format --style=file "$f" | cmp -s - "$f"; then
    echo "$f"
    changed=$((changed + 1))
  fi
done
[ "$changed" -eq 0 ] || { echo "format.sh: $changed file(s) not formatted" >&2; exit 1; }
