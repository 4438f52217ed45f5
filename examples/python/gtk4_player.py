#!/usr/bin/env python3
"""A GTK 4 player (PyGObject) with the tovarin plug-in, native on Wayland
(and on any other display GTK 4 runs on): the plug-in's form and spectrum
in its window, open, play, pause and stop buttons and a position label.

It lends the plug-in an in-memory window and paints it itself (the pull
path): when the window system says the pixels changed, GTK is asked for a
frame, in which they are rendered into a GdkMemoryTexture. GTK's own main
loop runs the plug-in's fades and timers, and tells the changes.

    python3 gtk4_player.py [FILE]
    python3 gtk4_player.py --selftest FILE   # scripted play/pause/stop, exit 0 when all went well
    python3 gtk4_player.py --seconds N FILE  # plays N seconds, prints the CPU time used, quits
"""
import os
import sys

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
gi.require_version("Graphene", "1.0")
from gi.repository import Gdk, GLib, Graphene, Gtk  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tovarin_host  # noqa: E402
from tovarin_host import AREA_H, AREA_W  # noqa: E402


class FormView(Gtk.Widget):
    """Shows the plug-in's window pixel for pixel. A change only asks GTK
    for a frame; the pixels are rendered when GTK draws one, so however
    often the form changes, they are rendered at most once a frame."""

    def __init__(self):
        super().__init__()
        self.set_size_request(AREA_W, AREA_H)
        self.set_halign(Gtk.Align.START)
        self.pull = None
        self.texture = None
        self.dirty = False

    def lend(self, ui):
        self.pull = tovarin_host.PullWindow(ui, AREA_W, AREA_H, self.damaged)
        return self.pull.handle

    def damaged(self, *_area):
        self.dirty = True
        self.queue_draw()

    def do_snapshot(self, snapshot):
        if self.dirty:
            self.dirty = False
            pull = self.pull
            pixels = GLib.Bytes.new(bytes(pull.render()))
            self.texture = Gdk.MemoryTexture.new(pull.width, pull.height, Gdk.MemoryFormat.B8G8R8A8, pixels,
                                                 pull.stride)
        if self.texture:
            area = Graphene.Rect().init(0, 0, self.texture.get_width(), self.texture.get_height())
            snapshot.append_texture(self.texture, area)


class Player(tovarin_host.PlayerControls, Gtk.Window):
    def __init__(self, plugin):
        super().__init__(title="tovarin")
        self.plugin = plugin
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
        self.view = FormView()
        box.append(self.view)
        buttons = Gtk.Box(spacing=6)
        for label, action in self.actions():
            button = Gtk.Button(label=label)
            button.connect("clicked", lambda _button, a=action: a())
            buttons.append(button)
        self.label = Gtk.Label(label="0:00 / 0:00")
        buttons.append(self.label)
        box.append(buttons)
        self.set_child(box)
        self.pull = None

    def lend_area(self):
        """The plug-in gets an in-memory window the size of the view."""
        self.plugin.attach(self.view.lend(self.plugin.ui), AREA_W, AREA_H)
        self.pull = self.view.pull
        GLib.timeout_add(250, self.show_position)


    def set_label(self, text):
        self.label.set_text(text)

    def on_open(self):
        dialog = Gtk.FileChooserNative(title="Open", transient_for=self, action=Gtk.FileChooserAction.OPEN)

        def chosen(_dialog, response):
            if response == Gtk.ResponseType.ACCEPT:
                self.open(dialog.get_file().get_path())
        dialog.connect("response", chosen)
        dialog.show()
        self._dialog = dialog  # kept until it answers


def main():
    tovarin_host.use_pull_path()
    parser = tovarin_host.player_arguments("GTK 4")
    parser.add_argument("--seconds", type=float)
    args = parser.parse_args()
    loop = GLib.MainLoop()
    plugin, window, session = tovarin_host.start_player(Player, Player.present, args, loop.quit)
    window.connect("close-request", lambda *_: loop.quit() or False)
    if session:
        GLib.timeout_add(50, session.tick)
    elif args.file:
        window.open(args.file)
        if args.seconds:
            tovarin_host.report_cpu_after(args.seconds, loop.quit, lambda: "frames: %d" % window.pull.frames)
    loop.run()
    plugin.close()
    return 0 if session is None or session.ok else 1


if __name__ == "__main__":
    sys.exit(main())
