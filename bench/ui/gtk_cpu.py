#!/usr/bin/env python3
"""CPU of the GTK example player playing 10 s with the plug-in's display on
the X server, against the same play with the plug-in's windows in memory
(TOVUI_BACKEND=model; GTK itself on the same display either way, the form
then lent a window of the library's own). The two run alternately, RUNS
times each (default 3); prints the medians and their ratio. Run under a
display: bench/ui/gtk_cpu.sh starts an Xvfb for it."""
import ctypes
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "examples", "python"))


def child(tone):
    import gtk_player
    import tovarin_host

    lend = tovarin_host.Plugin.attach

    def attach(self, xid, width, height):
        ui = ctypes.CDLL(os.environ["TOVARIN_UI_LIB"])
        if not ui.tovui_on_display():
            ui.tovui_create_window.restype = ctypes.c_uint32
            ui.tovui_create_window.argtypes = [ctypes.c_uint32] + [ctypes.c_int32] * 4
            xid = ui.tovui_create_window(0, 0, 0, width, height)
        lend(self, xid, width, height)

    tovarin_host.Plugin.attach = attach
    sys.argv = ["gtk_player.py", "--seconds", "10", tone]
    return gtk_player.main()


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--child":
        return child(sys.argv[2])
    tone = sys.argv[1]
    cpu = {"model": [], "x11": []}
    for _ in range(int(os.environ.get("RUNS", "3"))):
        for backend in cpu:
            out = subprocess.run([sys.executable, __file__, "--child", tone], capture_output=True, text=True,
                                 env=dict(os.environ, TOVUI_BACKEND=backend), timeout=60)
            seconds = [line.split()[1] for line in out.stdout.splitlines() if line.startswith("cpu: ")]
            if not seconds:
                print("gtk_cpu: a %s run failed: %s" % (backend, out.stderr[-500:]), file=sys.stderr)
                return 1
            cpu[backend].append(float(seconds[0]))
    model, x11 = statistics.median(cpu["model"]), statistics.median(cpu["x11"])
    print("GTK player, 10 s of play, CPU seconds (median of %d)" % len(cpu["model"]))
    print("  windows in memory: %.3f" % model)
    print("  on the X display:  %.3f" % x11)
    print("  ratio:             %.2f" % (x11 / model))
    return 0


if __name__ == "__main__":
    sys.exit(main())
