"""The tovarin plug-in for a Python desktop player (ctypes): loads Plugin.so
and wraps the exports a player needs. Shared by gtk_player.py and
qt_player.py.

The plug-in and the window-system library are found with
`pkg-config --variable=plugin tovarin` and `--variable=libdir` (set
PKG_CONFIG_PATH=PREFIX/lib/pkgconfig for a prefix of your own), or given with
TOVARIN_PLUGIN and TOVARIN_UI_LIB.

A GTK or Qt player calls nothing of the window system: on an X display the
plug-in's form is a child window of the X window it is lent, and the
player's own GLib main loop runs the plug-in's fades and spectrum timers.
"""
import argparse
import ctypes
import os
import subprocess


def pkg_variable(name):
    try:
        out = subprocess.run(["pkg-config", "--variable=" + name, "tovarin"],
                             capture_output=True, text=True, check=True)
        return out.stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return ""


def load():
    """Loads the window-system library, then the plug-in, and declares the
    exports' C types. Returns (ui, plugin) as ctypes libraries."""
    plugin_path = os.environ.get("TOVARIN_PLUGIN") or pkg_variable("plugin")
    ui_path = os.environ.get("TOVARIN_UI_LIB") or os.path.join(pkg_variable("libdir"),
                                                              "libtovarin-ui.so.1")
    if not plugin_path:
        raise OSError("no Plugin.so (install tovarin or set TOVARIN_PLUGIN)")
    # The window-system library first, shared with the plug-in: one instance
    # per process.
    ui = ctypes.CDLL(ui_path, mode=ctypes.RTLD_GLOBAL)
    p = ctypes.CDLL(plugin_path)
    p.GetInfo.restype = ctypes.c_char_p
    p.GetFile.restype = ctypes.c_char_p
    p.SetFile.argtypes = [ctypes.c_char_p]
    p.SetData.argtypes = [ctypes.c_int32]
    p.SetParentWindow.argtypes = [ctypes.c_uint32]
    p.Draw.argtypes = [ctypes.c_int32] * 5
    p.Bass_Create.restype = ctypes.c_uint8
    return ui, p


class Plugin:
    def __init__(self):
        _, p = load()
        self.p = p
        self.opened = False

    def attach(self, xid, width, height):
        """Lends the plug-in an X window: its form and spectrum go inside."""
        self.p.SetParentWindow(xid)
        self.p.Draw(0, 0, 0, width, height)
        self.p.Bass_Init()
        # The spectrum: bars, pen then brush colours (red#green#blue#), bar
        # width, timer interval (ms), bar count, height.
        self.p.SetFile(b"first")
        self.p.SetFile(b"040#200#255#012#016#032#")
        for value in (5, 10, min(60, width // 5), height):
            self.p.SetData(value)
        self.p.StartDraw()

    def query(self, name):
        getattr(self.p, name)()
        return self.p.GetFile().decode("utf-8", "replace")

    def open(self, path):
        if self.opened:
            self.p.Bass_Stop()
        self.p.SetData(1)  # slot 1
        self.p.Bass_ChannelNum()
        self.p.SetFile(os.fsencode(path))
        self.opened = bool(self.p.Bass_Create())
        return self.opened

    def play(self):
        self.p.Bass_Play()

    def pause(self):
        self.p.Bass_Pause()

    def stop(self):
        self.p.Bass_Stop()

    def position(self):
        return int(self.query("Bass_GetPosition") or 0)

    def length(self):
        return int(self.query("Bass_GetLength") or 0)

    def level(self):
        return int(self.query("Bass_GetLLevel") or 0) + int(self.query("Bass_GetRLevel") or 0)

    def close(self):
        self.p.Bass_Free()


def selftest_steps(plugin, path, done):
    """A scripted session for tests: open, play until the position moves,
    pause (it must hold), play again, stop, play (from 0 s again). Each step
    is a function called from the player's own timer until it returns True;
    done(ok, text) ends it."""
    state = {"at": 0, "ticks": 0}

    def opened():
        if not plugin.open(path):
            done(False, "cannot open " + path)
            return None
        plugin.play()
        return True

    def playing():
        return plugin.position() >= 1 and plugin.level() > 0

    def pause():
        plugin.pause()
        return True

    def paused():
        # The fade has ended once the levels are 0; from then on the
        # position holds.
        if plugin.level() != 0:
            return False
        state["at"] = plugin.position()
        state["ticks"] = 0
        return True

    def held():
        state["ticks"] += 1
        if plugin.position() != state["at"]:
            done(False, "the position moved while paused")
            return None
        return state["ticks"] >= 25

    def resume():
        plugin.play()
        return True

    def resumed():
        return plugin.position() >= state["at"] + 1

    def stop():
        plugin.stop()
        return True

    def stopped():
        return plugin.level() == 0

    def from_zero():
        # Play after a stop starts the stream again from 0 s.
        return plugin.position() == 0 and plugin.level() > 0

    def end():
        plugin.stop()
        return True

    return [("open", opened), ("play", playing), ("pause", pause), ("paused", paused), ("held", held),
            ("resume", resume), ("play again", resumed), ("stop", stop), ("stopped", stopped),
            ("play from zero", resume), ("from zero", from_zero), ("end", end)]


class Session:
    """Runs selftest_steps from a player's timer (tick() every 50 ms, until
    it returns False), prints the outcome and calls quit(); ok tells it."""

    def __init__(self, plugin, path, quit, timeout_ticks=400):
        self.steps = selftest_steps(plugin, path, self.done)
        self.quit = quit
        self.ticks = 0
        self.timeout_ticks = timeout_ticks
        self.over = False
        self.ok = False

    def done(self, ok, text):
        if not self.over:
            self.over = True
            self.ok = ok
            print("selftest: " + ("passed" if ok else "FAILED: " + text), flush=True)
            self.quit()

    def tick(self):
        if self.over:
            return False
        self.ticks += 1
        if self.ticks > self.timeout_ticks:
            self.done(False, "timed out at step: " + self.steps[0][0])
            return False
        while self.steps:
            name, step = self.steps[0]
            result = step()
            if result is None:
                return False
            if not result:
                return True
            print("selftest: " + name, flush=True)
            self.steps.pop(0)
        self.done(True, "all steps passed")
        return False


def player_arguments(toolkit):
    """The command line both players take: a file to play, and --selftest."""
    parser = argparse.ArgumentParser(description=toolkit + " player with the tovarin plug-in")
    parser.add_argument("file", nargs="?")
    parser.add_argument("--selftest", action="store_true")
    return parser


def start_player(window_class, show, args, quit):
    """Loads the plug-in, shows the player's window (show(window)) and lends
    it the window's area. With --selftest also the Session to tick (else None)."""
    plugin = Plugin()
    window = window_class(plugin)
    show(window)
    window.lend_area()
    session = Session(plugin, args.file, quit) if args.selftest else None
    return plugin, window, session
