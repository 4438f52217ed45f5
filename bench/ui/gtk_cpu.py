#!/usr/bin/env python3
"""CPU of the GTK example players playing 10 s with the plug-in's display
shown, against the same play with the display drawn but shown nowhere.

- x11 (GTK 3, gtk_player.py, run under Xvfb): the form on the X server,
  against the form lent a window of the library's own (TOVUI_BACKEND=model;
  GTK itself on the same display either way).
- wayland (GTK 4 on weston), two players:
  - gtk4_player.py: the form painted by the pull path into
    GdkMemoryTextures, against the same player whose window nobody watches
    (the plug-in draws, nothing is composed). Also the frames composed per
    second after StopDraw, which should be 0.
  - gtk4_player.py again, each frame showing one of two ready-made images
    instead of the form (tovui_render not called): GTK's own share of the
    pull path's cost, against the pull path.
  - examples/c/gtk4_player (GTK4_PLAYER, built in the build tree): the form
    in a Wayland subsurface, against the same player lending a window in
    memory that nobody shows (--unshown).

The kinds of run alternate, RUNS times each (default 3); prints the medians
and their ratios. bench/ui/gtk_cpu.sh starts the displays."""
import ctypes
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "examples", "python"))
SECONDS = 10


def child_x11(tone):
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
    sys.argv = ["gtk_player.py", "--seconds", str(SECONDS), tone]
    return gtk_player.main()


def child_wayland(tone, kind):
    import gtk4_player
    import tovarin_host
    from gi.repository import GLib

    if kind == "headless":
        pull = tovarin_host.PullWindow.__init__

        def unwatched(self, ui, width, height, on_damage):
            pull(self, ui, width, height, lambda *_: None)
        tovarin_host.PullWindow.__init__ = unwatched
    if kind == "gtk_alone":
        # A peer for the pull path: the same frames at the same moments (the
        # plug-in's damage still asks for them), but each shows one of two
        # ready-made images of the same size instead of the form rendered by
        # tovui_render: what is left is GTK's own cost of showing a changing
        # texture.
        render = tovarin_host.PullWindow.render

        def ready_made(self):
            if not hasattr(self, "images"):
                self.images = [render(self), (ctypes.c_uint8 * len(self.pixels))(*([0xFF] * len(self.pixels)))]
            self.frames += 1
            return self.images[self.frames % 2]
        tovarin_host.PullWindow.render = ready_made
    if kind == "stopped":
        # The display stopped once playing: frames from then on are counted.
        lend = gtk4_player.Player.lend_area

        def lend_then_stop(self):
            lend(self)

            def stop():
                self.plugin.stop_draw()
                GLib.timeout_add(500, lambda: print("frames at stop: %d" % self.pull.frames, flush=True) and False)
            GLib.timeout_add(1000, lambda: stop() and False)
        gtk4_player.Player.lend_area = lend_then_stop
    sys.argv = ["gtk4_player.py", "--seconds", str(SECONDS), tone]
    return gtk4_player.main()


def value(out, key):
    for line in out.splitlines():
        if line.startswith(key + ": "):
            return float(line.split()[-2] if line.endswith(" s") else line.split()[-1])
    return None


def run(kind, tone, env):
    if kind in ("subsurface", "unshown"):
        command = [os.environ["GTK4_PLAYER"], "--seconds", str(SECONDS)] + (["--unshown"] if kind == "unshown" else [])
    else:
        command = [sys.executable, __file__, "--child", kind]
    out = subprocess.run(command + [tone], capture_output=True, text=True, env=dict(os.environ, **env), timeout=60)
    if value(out.stdout, "cpu") is None:
        print("gtk_cpu: a %s run failed: %s" % (kind, out.stderr[-500:]), file=sys.stderr)
        sys.exit(1)
    return out.stdout


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--child":
        kind, tone = sys.argv[2], sys.argv[3]
        return child_x11(tone) if kind in ("model", "x11") else child_wayland(tone, kind)
    wayland = sys.argv[1] == "--wayland"
    tone = sys.argv[-1]
    # Pairs: (toolkit and way, (unshown kind, label), (shown kind, label)).
    if not wayland:
        pairs = [("GTK 3 on X11", ("model", "windows in memory"), ("x11", "on the X display"))]
    else:
        pairs = [("GTK 4 (Python), pull path", ("headless", "display drawn, shown nowhere"),
                  ("wayland", "painted by the pull path")),
                 ("GTK 4 (Python), the same frames without tovui_render", ("gtk_alone", "ready-made images"),
                  ("wayland", "painted by the pull path"))]
        if os.access(os.environ.get("GTK4_PLAYER", ""), os.X_OK):
            pairs.append(("GTK 4 (C), subsurface", ("unshown", "display drawn, shown nowhere"),
                          ("subsurface", "in a Wayland subsurface")))
        else:
            print("gtk_cpu: no C GTK 4 player (GTK4_PLAYER); its pair is left out", file=sys.stderr)
    kinds = list(dict.fromkeys(kind for _, unshown, shown in pairs for kind in (unshown[0], shown[0])))
    cpu = {k: [] for k in kinds}
    stopped_rates = []
    for _ in range(int(os.environ.get("RUNS", "3"))):
        for kind in kinds:
            cpu[kind].append(value(run(kind, tone, {} if wayland else {"TOVUI_BACKEND": kind}), "cpu"))
        if wayland:
            out = run("stopped", tone, {})
            stopped_rates.append((value(out, "frames") - value(out, "frames at stop")) / (SECONDS - 1.5))
    for name, (unshown, unshown_label), (shown, shown_label) in pairs:
        base, seen = statistics.median(cpu[unshown]), statistics.median(cpu[shown])
        print("%s, %d s of play, CPU seconds (median of %d)" % (name, SECONDS, len(cpu[unshown])))
        print("  %-31s %.3f  (%s)" % (unshown_label + ":", base, " ".join("%.3f" % c for c in cpu[unshown])))
        print("  %-31s %.3f  (%s)" % (shown_label + ":", seen, " ".join("%.3f" % c for c in cpu[shown])))
        print("  %-31s %.2f" % ("ratio:", seen / base))
    if wayland:
        print("  frames a second with the display stopped: %s" % ", ".join("%.1f" % r for r in stopped_rates))
    return 0


if __name__ == "__main__":
    sys.exit(main())
