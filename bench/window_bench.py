# SPDX-License-Identifier: GPL-3.0-or-later
"""What the settings window costs: the first opening (which builds the window),
click to window mapped (median of 20),
resident memory before the first opening and with the window open, CPU while
it stays open and idle for 10 s. Run under the private X server on a private
bus: `dbus-run-session -- /usr/bin/python3 bench/window_bench.py build/dimmora`
after sourcing scripts/test.d/xserver.sh."""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import windowkit as kit  # noqa: E402


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    session = kit.Session()
    app = kit.App(sys.argv[1], session.home("bench"), extra_environment={"BROWSER": "/bin/true"})
    try:
        app.wait_started()
        time.sleep(1)
        before = rss_kib(app.process.pid)
        start = time.monotonic()
        kit.open_from_tray()  # the first opening builds the window
        first = time.monotonic() - start
        kit.key("Escape")
        kit.wait_for(lambda: kit.window_geometry("Dimmora") is None, 3)
        icon = kit.tray_icon()
        timings = []
        for _ in range(20):
            kit.move(icon[0] + icon[2] / 2, icon[1] + icon[3] / 2)
            start = time.monotonic()
            kit.run("xdotool", "click", "1")
            kit.wait_for(lambda: kit.window_geometry("Dimmora"), 3, 0.002)
            timings.append(time.monotonic() - start)
            kit.key("Escape")
            kit.wait_for(lambda: kit.window_geometry("Dimmora") is None, 3, 0.01)
        kit.open_from_tray()
        time.sleep(1)
        opened = rss_kib(app.process.pid)
        cpu_start = cpu_seconds(app.process.pid)
        time.sleep(10)
        cpu = cpu_seconds(app.process.pid) - cpu_start
        print("first opening, building the window: %.1f ms (includes xdotool's own lookups)" % (first * 1000))
        print("click to window mapped: median %.1f ms (min %.1f, max %.1f, n=20; includes xdotool's own lookups)"
              % (statistics.median(timings) * 1000, min(timings) * 1000, max(timings) * 1000))
        print("resident memory: %.1f MiB before the first opening, %.1f MiB with the window open"
              % (before / 1024, opened / 1024))
        print("CPU with the window open and idle for 10 s: %.2f s (%.1f %%)" % (cpu, cpu * 10))
    finally:
        app.stop()
        session.close()


if __name__ == "__main__":
    main()
