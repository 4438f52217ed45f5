#!/usr/bin/env python3
"""A Qt 6 player (PyQt6) with the tovarin plug-in, native on Wayland (and
on any other platform Qt 6 runs on): the plug-in's form and spectrum in its
window, open, play, pause and stop buttons and a position label.

It lends the plug-in an in-memory window and paints it itself (the pull
path): when the window system says the pixels changed, the area asks Qt for
a repaint, and its paintEvent renders them into a QImage and draws it. Qt's
event loop, which is GLib's on Linux, runs the plug-in's fades and timers
and tells the changes.

    python3 qt6_player.py [FILE]
    python3 qt6_player.py --selftest FILE   # scripted play/pause/stop, exit 0 when all went well
"""
import os
import sys

from PyQt6 import QtWidgets
from PyQt6.QtCore import QTimer
from PyQt6.QtGui import QImage, QPainter
from PyQt6.QtWidgets import QWidget

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tovarin_host  # noqa: E402
from tovarin_host import AREA_H, AREA_W  # noqa: E402


class FormView(QWidget):
    """Paints the plug-in's window: rendered into a QImage over the same
    memory (Format_RGB32 is the window system's 0xFFRRGGBB)."""

    def __init__(self):
        super().__init__()
        self.setFixedSize(AREA_W, AREA_H)
        self.pull = None
        self.image = None

    def lend(self, ui):
        self.pull = tovarin_host.PullWindow(ui, AREA_W, AREA_H, lambda x, y, w, h: self.update(x, y, w, h))
        self.image = QImage(self.pull.pixels, AREA_W, AREA_H, self.pull.stride, QImage.Format.Format_RGB32)
        return self.pull.handle

    def paintEvent(self, event):
        if self.pull:
            self.pull.render()
            painter = QPainter(self)
            painter.drawImage(event.rect(), self.image, event.rect())
            painter.end()


class Player(tovarin_host.QtControls, QWidget):
    def __init__(self, plugin):
        super().__init__()
        self.plugin = plugin
        self.setWindowTitle("tovarin")
        self.area = FormView()
        self.lay_out_qt(QtWidgets, QTimer)
        self.pull = None

    def lend_area(self):
        """The plug-in gets an in-memory window the size of the area."""
        self.plugin.attach(self.area.lend(self.plugin.ui), AREA_W, AREA_H)
        self.pull = self.area.pull


def main():
    tovarin_host.use_pull_path()
    return tovarin_host.run_qt(QtWidgets, QTimer, Player, "Qt 6")


if __name__ == "__main__":
    sys.exit(main())
