#!/usr/bin/env bash
# What libtovarin-ui.so.1 promises at the binary level, and what it keeps to
# itself, and the public headers it is built from. Arguments: the library,
# Plugin.so, c_api.symbols, include/tovarin/ui.h (the other public headers
# stand beside it), a C compiler.
set -euo pipefail
lib=$1 plugin=$2 list=$3 header=$4 cc=$5
work="$(mktemp -d /tmp/tovarin-abi-XXXXXX)"
trap 'rm -rf "$work"' EXIT
fail() { echo "abi: FAIL: $*" >&2; exit 1; }

grep -E '^tovui_' "$list" | sort >"$work/list"
# Every tovui_ call the header declares is on the list, and nothing else.
grep -oE '^TOVUI_API [^(]*\btovui_[a-z_]+\(' "$header" | grep -oE 'tovui_[a-z_]+' | sort >"$work/declared"
diff -u "$work/declared" "$work/list" >&2 || fail "ui.h's tovui_ calls and src/ui/c_api.symbols differ"

# Each public header compiles alone in C (a host may include just one), with
# the version macros. The version they carry is the one the library answers,
# its file name and its private node's.
include="$(dirname "$(dirname "$header")")"
for h in plugin.h ui.h version.h; do
  printf '#include <tovarin/%s>\n#ifndef TOVARIN_VERSION\n#error no version\n#endif\nint main(void) { return 0; }\n' \
    "$h" >"$work/alone.c"
  "$cc" -std=c99 -Wall -Werror -fsyntax-only -I"$include" "$work/alone.c" >"$work/alone.txt" 2>&1 ||
    fail "<tovarin/$h> does not compile alone: $(cat "$work/alone.txt")"
done
mapfile -t v < <(printf '#include <tovarin/ui.h>\n%s\n' TOVARIN_VERSION_MAJOR TOVARIN_VERSION_MINOR \
  TOVARIN_VERSION_PATCH TOVARIN_VERSION | "$cc" -E -P -I"$include" -x c - | tail -n4)
version="${v[0]}.${v[1]}.${v[2]}"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "the headers' version reads as '$version'"
answered="$(python3 -c 'import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
lib.tovui_version.restype = ctypes.c_uint32
lib.tovui_version_string.restype = ctypes.c_char_p
print(lib.tovui_version(), lib.tovui_version_string().decode())' "$lib")"
[ "$answered" = "$((v[3])) $version" ] || fail "tovui_version() answers '$answered', the headers say $((v[3])) $version"
[[ "$lib" == *".so.$version" ]] || fail "the library's file is not named for $version: $lib"

# Public: exactly the list, under TOVUI_1. Private: the C++ API only, under
# the node of this build. Nothing else is exported.
nm -D --defined-only --with-symbol-versions "$lib" | awk '$2 != "A" {print $3}' >"$work/exports"
grep -E '@@TOVUI_1$' "$work/exports" | sed 's/@@TOVUI_1$//' | sort >"$work/public"
diff -u "$work/list" "$work/public" >&2 || fail "the exports under TOVUI_1 are not the list"
private_node="$(grep -oE '@@TOVUI_PRIVATE_[0-9.]+_[0-9a-f]{12}$' "$work/exports" | sort -u)"
[ "$(printf '%s\n' "$private_node" | wc -l)" = 1 ] && [ -n "$private_node" ] ||
  fail "not one private node: $private_node"
[[ "$private_node" == "@@TOVUI_PRIVATE_${version}_"* ]] || fail "the private node is not named for $version: $private_node"
others="$(grep -vE '@@TOVUI_1$' "$work/exports" | grep -vF "$private_node" || true)"
[ -z "$others" ] || fail "exported outside both nodes: $others"
grep -F "$private_node" "$work/exports" | sed 's/@@.*//' | c++filt | grep -v '^tovui::' >"$work/leaks" || true
[ ! -s "$work/leaks" ] || fail "under the private node but not the C++ API: $(cat "$work/leaks")"

# Plug-in: every window-system symbol it needs is bound to this build's node.
node="${private_node#@@}"
nm -D --undefined-only --with-symbol-versions "$plugin" | grep -E '_ZN5tovui|tovui_' >"$work/needs" || true
[ -s "$work/needs" ] || fail "Plugin.so needs nothing of the window system?"
unbound="$(grep -vF "@$node" "$work/needs" || true)"
[ -z "$unbound" ] || fail "Plugin.so needs window-system symbols outside $node: $unbound"

# A window-system library of another build beside Plugin.so: the load fails,
# and the loader's message names the missing node.
mkdir "$work/other"
cp "$plugin" "$work/other/"
printf 'TOVUI_1 { global: tovui_pump; local: *; };\nTOVUI_PRIVATE_0.0.0_000000000000 { };\n' >"$work/map"
printf 'int tovui_pump(int t) { return t; }\n' >"$work/stub.c"
"$cc" -shared -fPIC -o "$work/other/libtovarin-ui.so.1" \
  -Wl,-soname,libtovarin-ui.so.1 -Wl,--version-script="$work/map" "$work/stub.c"
load='import ctypes, sys
try:
    ctypes.CDLL(sys.argv[1])
except OSError as e:
    print(e); sys.exit(1)'
python3 -c "$load" "$plugin" >"$work/ok.txt" 2>&1 || fail "Plugin.so does not load with its own library: $(cat "$work/ok.txt")"
if python3 -c "$load" "$work/other/Plugin.so" >"$work/load.txt" 2>&1; then
  fail "Plugin.so loaded with another build's window-system library"
fi
grep -qF "version \`$node' not found" "$work/load.txt" || fail "unclear refusal: $(cat "$work/load.txt")"
echo "abi: ok: $(wc -l <"$work/public") public calls under TOVUI_1, C++ API under $node"
