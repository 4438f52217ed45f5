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

from PyQt5.QtCore import Qt, QTimer
from PyQt5.QtWidgets import (QApplication, QFileDialog, QHBoxLayout, QLabel, QPushButton, QVBoxLayout,
                             QWidget)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tovarin_host  # noqa: E402

AREA_W, AREA_H = 360, 120


class Player(QWidget):
    def __init__(self, plugin):
        super().__init__()
        self.plugin = plugin
        self.setWindowTitle("tovarin")
        self.area = QWidget()
        self.area.setFixedSize(AREA_W, AREA_H)
        self.area.setAttribute(Qt.WA_NativeWindow)  # a real X window of its own
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

    def lend_area(self):
        """After show(): the area's X window goes to the plug-in."""
        QApplication.processEvents()
        self.plugin.attach(int(self.area.winId()), AREA_W, AREA_H)

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
    args = tovarin_host.player_arguments("Qt").parse_args()
    app = QApplication(sys.argv[:1])
    plugin, window, session = tovarin_host.start_player(Player, Player.show, args, app.quit)
    if session:
        ticker = QTimer()
        ticker.timeout.connect(lambda: session.tick() or ticker.stop())
        ticker.start(50)
    elif args.file:
        window.open(args.file)
    app.exec_()
    plugin.close()
    return 0 if session is None or session.ok else 1


if __name__ == "__main__":
    sys.exit(main())
