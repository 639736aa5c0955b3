# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program under the private X server (scripts/test.d starts it with a
tray host), on a private session bus with the accessibility bus, driven with
xdotool and read through AT-SPI, the way a user and a screen reader meet it."""

import ctypes
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

# Debian's interpreter: pyatspi and gi are packaged for it, not for others on the PATH.
import pyatspi


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def wait_for(condition, limit=10.0, step=0.05):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


class AccessibilityBus:
    """The accessibility bus on the private session bus the test runs in (dbus-run-session)."""

    def __init__(self):
        if "DBUS_SESSION_BUS_ADDRESS" not in os.environ:
            raise RuntimeError("run under dbus-run-session: the test needs a private session bus")
        self.launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The launcher owns org.a11y.Bus once the accessibility bus is up.
        wait_for(lambda: "org.a11y.Bus" in run("dbus-send", "--session", "--print-reply",
                                               "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus.ListNames"), 10)

    def close(self):
        self.launcher.terminate()
        try:
            self.launcher.wait(5)
        except subprocess.TimeoutExpired:
            self.launcher.kill()


class ConfigWrites:
    """Counts completed writes of config.json (each is a rename into the folder) through inotify."""

    IN_MOVED_TO = 0x80
    IN_CLOSE_WRITE = 0x08
    IN_NONBLOCK = 0x800

    def __init__(self, folder):
        self.libc = ctypes.CDLL("libc.so.6", use_errno=True)
        self.fd = self.libc.inotify_init1(self.IN_NONBLOCK)
        os.makedirs(folder, exist_ok=True)
        self.libc.inotify_add_watch(self.fd, folder.encode(), self.IN_MOVED_TO | self.IN_CLOSE_WRITE)
        self.count = 0

    def poll(self):
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return self.count
            offset = 0
            while offset < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, offset)
                name = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode()
                offset += 16 + length
                # The atomic write renames a temporary file onto the name; a plain write closes it.
                if name == "config.json":
                    self.count += 1

    def settle(self, quiet=0.6):
        """The number of writes once none has come for `quiet` seconds."""
        last = self.poll()
        stable_since = time.monotonic()
        while time.monotonic() - stable_since < quiet:
            time.sleep(0.05)
            now = self.poll()
            if now != last:
                last, stable_since = now, time.monotonic()
        return last

    def close(self):
        os.close(self.fd)


class App:
    """One run of the program with its own home, configuration and runtime folders."""

    def __init__(self, executable, home, config=None, extra_environment=None):
        self.home = home
        self.config_folder = os.path.join(home, ".config", "Dimmora")
        self.config_file = os.path.join(self.config_folder, "config.json")
        os.makedirs(self.config_folder, exist_ok=True)
        runtime = os.path.join(home, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        if config is not None:
            with open(self.config_file, "w") as out:
                json.dump(config, out)
        environment = dict(os.environ)
        environment.update({
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_RUNTIME_DIR": runtime,
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "LANGUAGE": "en",
        })
        environment.update(extra_environment or {})
        self.log = open(os.path.join(home, "app.log"), "ab")
        self.process = subprocess.Popen([executable], env=environment, stdout=self.log, stderr=self.log)
        self.log_file = os.path.join(home, "app.log")

    def wait_started(self, limit=10):
        """Until the startup task has run (displays selected, engine running)."""
        def started():
            with open(self.log_file, errors="replace") as log:
                return "Engine started" in log.read()
        return wait_for(started, limit, 0.1)

    def config(self):
        with open(self.config_file) as source:
            return json.load(source)

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, limit):
        try:
            return self.process.wait(limit)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.running():
            self.process.send_signal(signal.SIGTERM)
            if self.wait_exit(5) is None:
                self.process.kill()
                self.process.wait()
        self.log.close()


# ---- the desktop, as a user touches it ----

def window_geometry(name):
    """(x, y, width, height) of the visible top-level window called `name`, or None."""
    try:
        ids = run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % name).split()
    except subprocess.CalledProcessError:
        return None
    for wid in ids:
        shell = dict(line.split("=", 1) for line in run("xdotool", "getwindowgeometry", "--shell", wid).split())
        width, height = int(shell["WIDTH"]), int(shell["HEIGHT"])
        if width > 100:
            return int(shell["X"]), int(shell["Y"]), width, height
    return None


def tray_icon():
    """The tray host's rectangle; it holds only our icon."""
    ids = run("xdotool", "search", "--onlyvisible", "--class", "trayer").split()
    shell = dict(line.split("=", 1) for line in run("xdotool", "getwindowgeometry", "--shell", ids[0]).split())
    return int(shell["X"]), int(shell["Y"]), int(shell["WIDTH"]), int(shell["HEIGHT"])


def open_from_tray(name="Dimmora"):
    """Clicks the tray icon until the window shows (the icon docks a moment after the program starts)."""
    for _ in range(5):
        icon = tray_icon()
        click(icon[0] + icon[2] / 2, icon[1] + icon[3] / 2)
        geometry = wait_for(lambda: window_geometry(name), 2)
        if geometry:
            return icon, geometry
    return tray_icon(), None


def screen_size():
    for line in run("xdpyinfo").splitlines():
        if "dimensions:" in line:
            width, height = line.split()[1].split("x")
            return int(width), int(height)
    raise RuntimeError("no screen")


def move(x, y):
    # Not "--sync": it waits for a motion that never comes when the pointer is already there.
    run("xdotool", "mousemove", str(int(x)), str(int(y)))
    time.sleep(0.05)


def click(x, y):
    move(x, y)
    run("xdotool", "click", "1")


def drag(points, hold=None):
    """Presses at the first point, moves through the others, runs `hold` while still pressed, releases."""
    move(*points[0])
    run("xdotool", "mousedown", "1")
    for x, y in points[1:]:
        move(x, y)
    result = hold() if hold else None
    run("xdotool", "mouseup", "1")
    return result


def key(*names):
    run("xdotool", "key", "--clearmodifiers", *names)


def gamma_brightness():
    """The first output's brightness as RandR reports it (1.0 when gamma is untouched)."""
    for line in run("xrandr", "--verbose").splitlines():
        if "Brightness:" in line:
            return float(line.split()[1])
    return None


# ---- the same window, as a screen reader reads it ----

def application(pid, limit=15):
    """The program's root in the accessibility tree (by process: an earlier run may linger there)."""
    def find():
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                continue
        return None
    return wait_for(find, limit, 0.2)


def find(root, role, name=None, limit=5):
    def search():
        return pyatspi.findDescendant(
            root, lambda a: a is not None and a.getRoleName() == role and (name is None or a.name == name),
            True)
    return wait_for(search, limit, 0.1)


def find_all(root, role, name=None):
    return pyatspi.findAllDescendants(
        root, lambda a: a is not None and a.getRoleName() == role and (name is None or a.name == name))


def labelled(root, role, label, limit=5):
    """The control of `role` that the label `label` names (Qt gives combo boxes their current text as
    name and points the row's label at them, as screen readers expect)."""
    def search():
        for candidate in find_all(root, "label", label):
            for relation in candidate.getRelationSet():
                if relation.getRelationType() == pyatspi.RELATION_LABEL_FOR:
                    target = relation.getTarget(0)
                    if target is not None and target.getRoleName() == role:
                        return target
        return None
    return wait_for(search, limit, 0.1)


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def centre(accessible):
    x, y, width, height = extents(accessible)
    return x + width / 2, y + height / 2


def scroll_into_view(accessible, name="Dimmora"):
    """Turns the mouse wheel over the window until `accessible` lies between its header and footer."""
    if not accessible.getState().contains(pyatspi.STATE_VISIBLE):
        return False  # in a closed section: no scrolling brings it
    previous = None
    for _ in range(40):
        x, y, width, height = window_geometry(name)
        top, bottom = y + 70, y + height - 75
        _, ay, _, ah = extents(accessible)
        if ay >= top and ay + ah <= bottom:
            return True
        if ay == previous:
            return False  # the body cannot scroll further
        previous = ay
        move(x + width // 2, (top + bottom) // 2)
        run("xdotool", "click", "5" if ay + ah > bottom else "4")
        time.sleep(0.1)
    return False


def do_action(accessible, name):
    actions = accessible.queryAction()
    for index in range(actions.nActions):
        if actions.getName(index) == name:
            return actions.doAction(index)
    raise AssertionError("%s has no action %s (has %s)" % (accessible.name, name,
                         [actions.getName(i) for i in range(actions.nActions)]))


def checked(accessible):
    return accessible.getState().contains(pyatspi.STATE_CHECKED)


class FileManagerStub:
    """Records what the program asks the desktop's file manager to show."""

    def __init__(self, folder):
        self.record = os.path.join(folder, "shown-items")
        open(self.record, "w").close()
        self.process = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "file_manager_stub.py"),
                                         self.record], stdout=subprocess.PIPE, text=True)
        self.process.stdout.readline()  # "ready": the name is owned

    def shown(self):
        with open(self.record) as items:
            return items.read().split()

    def close(self):
        self.process.terminate()
        self.process.wait(5)


class Session:
    """A temporary home, a private bus with the accessibility bus; the program is started per test."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="dimmora-window-")
        self.bus = AccessibilityBus()
        self.file_manager = FileManagerStub(self.folder)

    def home(self, name):
        path = os.path.join(self.folder, name)
        os.makedirs(path, exist_ok=True)
        return path

    def close(self):
        self.file_manager.close()
        self.bus.close()
        shutil.rmtree(self.folder, ignore_errors=True)
