#!/usr/bin/env python3
"""A GTK 3 player (PyGObject) with the tovarin plug-in: a window with the
plug-in's form and spectrum in it, open, play, pause and stop buttons and a
position label. It never calls the window system: GTK's own main loop runs
the plug-in's fades and timers. Needs an X display (X11, or XWayland with
GDK_BACKEND=x11).

    python3 gtk_player.py [FILE]
    python3 gtk_player.py --selftest FILE   # scripted play/pause/stop, exit 0 when all went well
    python3 gtk_player.py --screenshot PNG FILE  # plays, saves the window once the bars stand, quits
    python3 gtk_player.py --seconds N FILE  # plays N seconds, prints the CPU time used, quits
"""
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402,F401 (GdkX11 gives get_xid)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tovarin_host  # noqa: E402
from tovarin_host import AREA_H, AREA_W  # noqa: E402


class Player(tovarin_host.PlayerControls, Gtk.Window):
    def __init__(self, plugin):
        super().__init__(title="tovarin")
        self.plugin = plugin
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
        self.area = Gtk.DrawingArea()
        self.area.set_size_request(AREA_W, AREA_H)
        box.pack_start(self.area, False, False, 0)
        buttons = Gtk.Box(spacing=6)
        for label, action in self.actions():
            button = Gtk.Button(label=label)
            button.connect("clicked", lambda _button, a=action: a())
            buttons.pack_start(button, False, False, 0)
        self.label = Gtk.Label(label="0:00 / 0:00")
        buttons.pack_end(self.label, False, False, 6)
        box.pack_start(buttons, False, False, 0)
        self.add(box)
        self.connect("destroy", Gtk.main_quit)

    def lend_area(self):
        """After show_all: the area's own X window goes to the plug-in."""
        gdk_window = self.area.get_window()
        gdk_window.ensure_native()  # a real X window, not a part of the toplevel's
        Gdk.Display.get_default().sync()  # made on the server before the plug-in uses it
        self.plugin.attach(gdk_window.get_xid(), AREA_W, AREA_H)
        GLib.timeout_add(250, self.show_position)


    def set_label(self, text):
        self.label.set_text(text)

    def on_open(self):
        dialog = Gtk.FileChooserDialog(title="Open", parent=self, action=Gtk.FileChooserAction.OPEN)
        dialog.add_buttons("Cancel", Gtk.ResponseType.CANCEL, "Open", Gtk.ResponseType.OK)
        if dialog.run() == Gtk.ResponseType.OK:
            self.open(dialog.get_filename())
        dialog.destroy()


def screenshot_when_drawn(window, plugin, path):
    """Saves the whole window (form and spectrum included) once playback
    has gone on for two seconds, then quits."""
    def shoot():
        if plugin.position() < 2:
            return True
        window.show_position()
        while Gtk.events_pending():
            Gtk.main_iteration()
        gdk_window = window.get_window()
        root = Gdk.get_default_root_window()
        x, y = gdk_window.get_origin()[1:]
        shot = Gdk.pixbuf_get_from_window(root, x, y, gdk_window.get_width(), gdk_window.get_height())
        shot.savev(path, "png", [], [])
        Gtk.main_quit()
        return False
    GLib.timeout_add(100, shoot)


def main():
    parser = tovarin_host.player_arguments("GTK")
    parser.add_argument("--screenshot", metavar="PNG")
    parser.add_argument("--seconds", type=float)
    args = parser.parse_args()
    plugin, window, session = tovarin_host.start_player(Player, Player.show_all, args, Gtk.main_quit)
    if session:
        GLib.timeout_add(50, session.tick)
    elif args.file:
        window.open(args.file)
        if args.screenshot:
            screenshot_when_drawn(window, plugin, args.screenshot)
        if args.seconds:
            tovarin_host.report_cpu_after(args.seconds, Gtk.main_quit)
    Gtk.main()
    plugin.close()
    return 0 if session is None or session.ok else 1


if __name__ == "__main__":
    sys.exit(main())
