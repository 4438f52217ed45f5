#!/usr/bin/env python3
"""A Qt 5 player (PyQt5) with the tovarin plug-in: a window with the
plug-in's form and spectrum in it, open, play, pause and stop buttons and a
position label. It never calls the window system: Qt's event loop, which is
GLib's on Linux, runs the plug-in's fades and timers. Needs an X display
(X11, or XWayland with QT_QPA_PLATFORM=xcb).

    python3 qt_player.py [FILE]
    python3 qt_player.py --selftest FILE   # scripted play/pause/stop, exit 0 when all went well
"""
import os
import sys

from PyQt5 import QtWidgets
from PyQt5.QtCore import Qt, QTimer
from PyQt5.QtWidgets import QApplication, QWidget

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tovarin_host  # noqa: E402
from tovarin_host import AREA_H, AREA_W  # noqa: E402


class Player(tovarin_host.QtControls, QWidget):
    def __init__(self, plugin):
        super().__init__()
        self.plugin = plugin
        self.setWindowTitle("tovarin")
        self.area = QWidget()
        self.area.setFixedSize(AREA_W, AREA_H)
        self.area.setAttribute(Qt.WA_NativeWindow)  # a real X window of its own
        self.lay_out_qt(QtWidgets, QTimer)

    def lend_area(self):
        """After show(): the area's X window goes to the plug-in."""
        QApplication.processEvents()
        self.plugin.attach(int(self.area.winId()), AREA_W, AREA_H)


def main():
    return tovarin_host.run_qt(QtWidgets, QTimer, Player, "Qt")


if __name__ == "__main__":
    sys.exit(main())
