#!/usr/bin/env python3
"""A minimal host of the tovarin plug-in in Python (ctypes): opens a window,
plays one file through Plugin.so and prints its tags, format, position and
length.

    python3 play.py song.flac

The plug-in and the window-system library are found with
`pkg-config --variable=plugin tovarin` and `--variable=libdir` (set
PKG_CONFIG_PATH=PREFIX/lib/pkgconfig for a prefix of your own), or given
with TOVARIN_PLUGIN and TOVARIN_UI_LIB.
"""
import ctypes
import os
import select
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tovarin_host import load  # noqa: E402


def main():
    if len(sys.argv) != 2:
        print("usage: play.py FILE", file=sys.stderr)
        return 2
    try:
        ui, plugin = load()
    except OSError as e:
        print("play.py: %s" % e, file=sys.stderr)
        return 1
    ui.tovui_create_window.restype = ctypes.c_uint32
    ui.tovui_create_window.argtypes = [ctypes.c_uint32] + [ctypes.c_int32] * 4
    ui.tovui_pump.argtypes = [ctypes.c_int32]

    def query(name):
        """Runs a query export and returns its answer (GetFile) as text."""
        getattr(plugin, name)()
        return plugin.GetFile().decode("utf-8", "replace")

    def tag(key):
        plugin.SetFile(key.encode())
        return query("Bass_GetTags")

    print(plugin.GetInfo().decode())
    window = ui.tovui_create_window(0, 0, 0, 320, 256)
    plugin.SetParentWindow(window)
    plugin.Draw(0, 0, 0, 320, 256)
    plugin.Bass_Init()

    plugin.SetData(1)          # slot 1
    plugin.Bass_ChannelNum()
    plugin.SetFile(os.fsencode(sys.argv[1]))
    if not plugin.Bass_Create():
        print("play.py: cannot open " + sys.argv[1], file=sys.stderr)
        plugin.Bass_Free()
        return 3
    for key, label in (("%TITL", "title"), ("%ARTI", "artist"), ("%ALBM", "album")):
        print(label + ": " + tag(key))
    print("format: %s Hz, %s" % (query("Bass_GetFreq"), query("Bass_GetChannels")))
    length = int(query("Bass_GetLength"))  # whole seconds
    print("length: %d s" % length)

    plugin.Bass_Play()
    start = time.monotonic()
    shown, heard = None, False
    events = select.poll()
    events.register(ui.tovui_event_fd(), select.POLLIN)
    while True:
        events.poll(50)
        ui.tovui_pump(0)     # runs the plug-in's fades and display timers
        position = int(query("Bass_GetPosition"))
        quiet = query("Bass_GetLLevel") == "0" and query("Bass_GetRLevel") == "0"
        if position != shown:
            print("position: %d / %d s" % (position, length), flush=True)
            shown = position
        heard = heard or not quiet
        # The levels fall to 0 once the stream has played out.
        if quiet and position >= length and (heard or time.monotonic() - start > 0.5):
            break
        if time.monotonic() - start > length + 10:
            print("play.py: playback did not end", file=sys.stderr)
            break
    print("ended")
    plugin.Bass_Free()
    ui.tovui_destroy_window(window)
    return 0


if __name__ == "__main__":
    sys.exit(main())
