#!/usr/bin/env python3
"""Reads a player's standard error written with WAYLAND_DEBUG=client and
checks that the plug-in's subsurface (the surface given to get_subsurface)
was committed before the mark "selftest: frames from here" and never from
there to "selftest: frames to here"."""
import re
import sys

lines = open(sys.argv[1], errors="replace").read().splitlines()
surface = None
commits = {"before": 0, "between": 0}
part = "before"
for line in lines:
    if surface is None:
        m = re.search(r"get_subsurface\(new id wl_subsurface@\d+, wl_surface@(\d+),", line)
        if m:
            surface = m.group(1)
        continue
    if "selftest: frames from here" in line:
        part = "between"
    elif "selftest: frames to here" in line:
        part = "after"
    elif part != "after" and re.search(r"-> wl_surface@%s\.commit\(" % surface, line):
        commits[part] += 1
ok = surface is not None and commits["before"] > 0 and part == "after" and commits["between"] == 0
print("subsurface wl_surface@%s: %d commits while showing, %d while stopped" % (surface, commits["before"],
                                                                                commits["between"]))
if not ok:
    print("\n".join(line for line in lines if "selftest" in line or "->" not in line and "<-" not in line)[-2000:])
sys.exit(0 if ok else 1)
