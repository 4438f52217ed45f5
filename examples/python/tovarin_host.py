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

Native Wayland players (gtk4_player.py, qt6_player.py) use the pull path
instead (PullWindow): they lend an in-memory window and paint its pixels
themselves, whenever the window system says they changed.
"""
import argparse
import ctypes
import os
import subprocess
import sys


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
        self.ui, self.p = load()
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

    def progress_text(self):
        """"m:ss / m:ss" of the open file, or None before one opens."""
        if not self.opened:
            return None
        pos, length = self.position(), self.length()
        return "%d:%02d / %d:%02d" % (pos // 60, pos % 60, length // 60, length % 60)

    def level(self):
        return int(self.query("Bass_GetLLevel") or 0) + int(self.query("Bass_GetRLevel") or 0)

    def stop_draw(self):
        self.p.StopDraw()

    def close(self):
        self.p.Bass_Free()


DAMAGE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_int32, ctypes.c_int32, ctypes.c_int32,
                          ctypes.c_int32)


def use_pull_path():
    """Keeps the window system's windows in memory, even where an X display
    is reachable (XWayland): call before the plug-in is loaded."""
    os.environ.setdefault("TOVUI_BACKEND", "model")


class PullWindow:
    """An in-memory window to lend the plug-in, painted by the player. When
    its pixels change, on_damage(x, y, width, height) is called on the
    player's own thread (from its GLib loop); the player then calls render()
    where it paints, which fills `pixels` (opaque 0xFFRRGGBB words: bytes B,
    G, R, A; `stride` bytes a row). `frames` counts the renders."""

    def __init__(self, ui, width, height, on_damage):
        ui.tovui_create_window.restype = ctypes.c_uint32
        ui.tovui_create_window.argtypes = [ctypes.c_uint32] + [ctypes.c_int32] * 4
        ui.tovui_render.argtypes = [ctypes.c_uint32, ctypes.c_void_p] + [ctypes.c_int32] * 3
        ui.tovui_watch_damage.argtypes = [ctypes.c_uint32, DAMAGE, ctypes.c_void_p]
        self.ui, self.width, self.height = ui, width, height
        self.stride = width * 4
        self.pixels = (ctypes.c_uint8 * (self.stride * height))()
        self.frames = 0
        self.handle = ui.tovui_create_window(0, 0, 0, width, height)
        self._watcher = DAMAGE(lambda _user, _window, *area: on_damage(*area))  # alive as long as the watch
        ui.tovui_watch_damage(self.handle, self._watcher, None)

    def render(self):
        self.ui.tovui_render(self.handle, self.pixels, self.stride, self.width, self.height)
        self.frames += 1
        return self.pixels


def selftest_steps(plugin, path, done, screen_check=None, pull=None):
    """A scripted session for tests: open, play until the position moves,
    pause (it must hold), play again, stop, play (from 0 s again). Each step
    is a function called from the player's own timer until it returns True;
    done(ok, text) ends it. screen_check: a command run while the first play
    goes on, until it succeeds (the tests look at the screen with it). pull:
    the player's PullWindow, whose frames must stop once the display is
    stopped."""
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
        state["ticks"] = 0
        return plugin.level() == 0

    def from_zero():
        # Play after a stop starts the stream again from 0 s.
        return plugin.position() == 0 and plugin.level() > 0

    def end():
        plugin.stop()
        return True

    def on_screen():
        # Each look takes a moment: a few dozen are enough.
        state["looks"] = state.get("looks", 0) + 1
        if state["looks"] > 40:
            done(False, "not on the screen: " + screen_check)
            return None
        return subprocess.run(screen_check, shell=True).returncode == 0

    def stop_display():
        plugin.stop_draw()
        state["ticks"] = 0
        return True

    def no_frames():
        # After the last picture has come (the bars down, or the form
        # hidden), a second without a single frame composed.
        state["ticks"] = state.get("ticks", 0) + 1
        if state["ticks"] == 5:
            state["frames"] = pull.frames
        if state["ticks"] > 5 and pull.frames != state["frames"]:
            done(False, "%d frames composed with nothing to show" % (pull.frames - state["frames"]))
            return None
        if state["ticks"] < 25:
            return False
        state["ticks"] = 0
        return True

    steps = [("open", opened), ("play", playing), ("pause", pause), ("paused", paused), ("held", held),
             ("resume", resume), ("play again", resumed), ("stop", stop), ("stopped", stopped),
             ("play from zero", resume), ("from zero", from_zero), ("end", end)]
    if screen_check:
        steps.insert(2, ("on screen", on_screen))
    if pull:
        # Stopped, the display draws the same frame; then the display stops.
        steps.insert(steps.index(("stopped", stopped)) + 1, ("no frames while stopped", no_frames))
        steps[-1:-1] = [("stop display", stop_display), ("no frames with the display stopped", no_frames)]
    return steps


class Session:
    """Runs selftest_steps from a player's timer (tick() every 50 ms, until
    it returns False), prints the outcome and calls quit(); ok tells it."""

    def __init__(self, plugin, path, quit, timeout_ticks=400, screen_check=None, pull=None):
        self.steps = selftest_steps(plugin, path, self.done, screen_check, pull)
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


# The example players' display area, in pixels.
AREA_W, AREA_H = 360, 120


class PlayerControls:
    """What every example player's window does alike, whatever its toolkit:
    the buttons' actions, the position label and opening a file. The
    window gives set_label(text) and set_title(text)."""

    def actions(self):
        """(label, action) of the buttons; an action takes no argument."""
        return (("Open", self.on_open), ("Play", self.plugin.play), ("Pause", self.plugin.pause),
                ("Stop", self.plugin.stop))

    def show_position(self):
        text = self.plugin.progress_text()
        if text:
            self.set_label(text)
        return True  # a GLib timeout goes on

    def open(self, path):
        if self.plugin.open(path):
            self.set_title("tovarin: " + os.path.basename(path))
            self.plugin.play()


def report_cpu_after(seconds, quit, *extra):
    """For the benchmarks (GLib's loop): after `seconds`, prints the CPU time
    the process used from now ("cpu: S s") and each extra() line, then quits."""
    from gi.repository import GLib
    start = os.times()

    def report():
        now = os.times()
        print("cpu: %.3f s" % (now.user + now.system - start.user - start.system), flush=True)
        for line in extra:
            print(line(), flush=True)
        quit()
        return False
    GLib.timeout_add(int(seconds * 1000), report)


class QtControls(PlayerControls):
    """PlayerControls for a Qt window (PyQt5 or PyQt6)."""

    def lay_out_qt(self, widgets, timer_class):
        """A Qt window's layout: self.area above the buttons and the position
        label, which a timer updates; widgets is PyQt5's or PyQt6's QtWidgets."""
        self.widgets = widgets
        buttons = widgets.QHBoxLayout()
        for label, action in self.actions():
            button = widgets.QPushButton(label)
            button.clicked.connect(lambda _=False, a=action: a())
            buttons.addWidget(button)
        self.label = widgets.QLabel("0:00 / 0:00")
        buttons.addWidget(self.label)
        layout = widgets.QVBoxLayout(self)
        layout.addWidget(self.area)
        layout.addLayout(buttons)
        self.timer = timer_class(self)
        self.timer.timeout.connect(self.show_position)
        self.timer.start(250)

    def set_label(self, text):
        self.label.setText(text)

    def set_title(self, text):
        self.setWindowTitle(text)

    def on_open(self):
        path, _ = self.widgets.QFileDialog.getOpenFileName(self, "Open")
        if path:
            self.open(path)


def run_qt(widgets, timer_class, window_class, toolkit):
    """A Qt player's main: its window, then the self-test or the file."""
    args = player_arguments(toolkit).parse_args()
    app = widgets.QApplication(sys.argv[:1])
    plugin, window, session = start_player(window_class, window_class.show, args, app.quit)
    if session:
        ticker = timer_class()
        ticker.timeout.connect(lambda: session.tick() or ticker.stop())
        ticker.start(50)
    elif args.file:
        window.open(args.file)
    app.exec()
    plugin.close()
    return 0 if session is None or session.ok else 1


def player_arguments(toolkit):
    """The command line both players take: a file to play, and --selftest."""
    parser = argparse.ArgumentParser(description=toolkit + " player with the tovarin plug-in")
    parser.add_argument("file", nargs="?")
    parser.add_argument("--selftest", action="store_true")
    parser.add_argument("--screen-check", metavar="COMMAND",
                        help="with --selftest: run COMMAND while playing, until it succeeds")
    return parser


def start_player(window_class, show, args, quit):
    """Loads the plug-in, shows the player's window (show(window)) and lends
    it the window's area. With --selftest also the Session to tick (else None)."""
    plugin = Plugin()
    window = window_class(plugin)
    show(window)
    window.lend_area()
    session = None
    if args.selftest:
        session = Session(plugin, args.file, quit, screen_check=getattr(args, "screen_check", None),
                          pull=getattr(window, "pull", None))
    return plugin, window, session
