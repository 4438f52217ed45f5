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

from PyQt6.QtCore import QTimer
from PyQt6.QtGui import QImage, QPainter
from PyQt6.QtWidgets import QApplication, QFileDialog, QHBoxLayout, QLabel, QPushButton, QVBoxLayout, QWidget

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tovarin_host  # noqa: E402

AREA_W, AREA_H = 360, 120


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


class Player(QWidget):
    def __init__(self, plugin):
        super().__init__()
        self.plugin = plugin
        self.setWindowTitle("tovarin")
        self.area = FormView()
        buttons = QHBoxLayout()
        for label, action in (("Open", self.on_open), ("Play", plugin.play), ("Pause", plugin.pause),
                              ("Stop", plugin.stop)):
            button = QPushButton(label)
            button.clicked.connect(lambda _=False, a=action: a())
            buttons.addWidget(button)
        self.label = QLabel("0:00 / 0:00")
        buttons.addWidget(self.label)
        layout = QVBoxLayout(self)
        layout.addWidget(self.area)
        layout.addLayout(buttons)
        self.timer = QTimer(self)
        self.timer.timeout.connect(self.show_position)
        self.timer.start(250)
        self.pull = None

    def lend_area(self):
        """The plug-in gets an in-memory window the size of the area."""
        self.plugin.attach(self.area.lend(self.plugin.ui), AREA_W, AREA_H)
        self.pull = self.area.pull

    def show_position(self):
        text = self.plugin.progress_text()
        if text:
            self.label.setText(text)

    def on_open(self):
        path, _ = QFileDialog.getOpenFileName(self, "Open")
        if path:
            self.open(path)

    def open(self, path):
        if self.plugin.open(path):
            self.setWindowTitle("tovarin: " + os.path.basename(path))
            self.plugin.play()


def main():
    tovarin_host.use_pull_path()
    args = tovarin_host.player_arguments("Qt 6").parse_args()
    app = QApplication(sys.argv[:1])
    plugin, window, session = tovarin_host.start_player(Player, Player.show, args, app.quit)
    if session:
        ticker = QTimer()
        ticker.timeout.connect(lambda: session.tick() or ticker.stop())
        ticker.start(50)
    elif args.file:
        window.open(args.file)
    app.exec()
    plugin.close()
    return 0 if session is None or session.ok else 1


if __name__ == "__main__":
    sys.exit(main())
