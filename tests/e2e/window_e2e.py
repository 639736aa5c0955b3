# SPDX-License-Identifier: GPL-3.0-or-later
"""The settings window end to end: the real program, a click on its tray
icon, edits made with the mouse, and what they leave in config.json and in the
dummy output's gamma."""

import os
import sys
import unittest

import windowkit as kit

EXECUTABLE = sys.argv.pop(1)


class WindowEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if "DISPLAY" not in os.environ:
            raise unittest.SkipTest("no X server (scripts/test starts a private one)")
        cls.session = kit.Session()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def start(self, name):
        app = kit.App(EXECUTABLE, self.session.home(name), extra_environment={"BROWSER": "/bin/true"})
        self.addCleanup(app.stop)
        self.assertTrue(app.wait_started(), "the program starts")
        return app

    def open_window(self, app):
        icon, geometry = kit.open_from_tray()
        self.assertIsNotNone(geometry, "a click on the tray icon opens the window")
        accessible = kit.application(app.process.pid)
        self.assertIsNotNone(accessible)
        return icon, geometry, accessible

    def open_section(self, app, title):
        header = kit.find(app, "push button", title)
        self.assertIsNotNone(header, title)
        if not header.getState().contains(kit.pyatspi.STATE_EXPANDED):
            self.assertTrue(kit.scroll_into_view(header))
            kit.click(*kit.centre(header))
            kit.wait_for(lambda: header.getState().contains(kit.pyatspi.STATE_EXPANDED), 3)

    def test_the_window_drops_below_the_icon_and_each_edit_is_written_once(self):
        app = self.start("edit")
        writes = kit.ConfigWrites(app.config_folder)
        self.addCleanup(writes.close)
        icon, (x, y, width, height), window = self.open_window(app)
        screen_width, screen_height = kit.screen_size()
        self.assertEqual(width, 310)
        self.assertGreaterEqual(y, icon[1] + icon[3], "below the icon")
        self.assertLessEqual(x, icon[0] + icon[2] / 2)
        self.assertGreaterEqual(x + width, icon[0] + icon[2] / 2)
        self.assertTrue(0 <= x and x + width <= screen_width and y + height <= screen_height, "inside the screen")
        baseline = writes.settle()

        # A step's brightness, dragged with the mouse.
        self.open_section(window, "Dimming steps")
        step = kit.find_all(window, "slider", "Dim to")[-1]
        self.assertTrue(kit.scroll_into_view(step))
        sx, sy, sw, sh = kit.extents(step)
        kit.drag([(sx + sw * 0.15, sy + sh / 2), (sx + sw * 0.2, sy + sh / 2), (sx + sw * 0.3, sy + sh / 2)])
        self.assertEqual(writes.settle(), baseline + 1, "a drag is written once, when it ends")
        shown = int(step.queryValue().currentValue)
        self.assertEqual(app.config()["steps"][-1]["brightnessPercent"], shown)
        self.assertNotEqual(shown, 20, "the step moved from where it was")

        # The fade duration, chosen from its picker with the mouse and keys.
        self.open_section(window, "Advanced settings")
        fade = kit.labelled(window, "combo box", "Fade duration")
        self.assertTrue(kit.scroll_into_view(fade))
        kit.click(*kit.centre(fade))
        kit.key("Down")
        kit.key("Return")
        self.assertEqual(writes.settle(), baseline + 2)
        self.assertEqual(app.config()["fadeDurationSeconds"], 10)

        # The dummy output has no DDC/CI: in gamma-only mode its gamma shows the level.
        self.open_section(window, "Displays")
        gamma_only = kit.find(window, "check box", "Dim with gamma only")
        self.assertTrue(kit.scroll_into_view(gamma_only))
        kit.click(*kit.centre(gamma_only))
        self.assertTrue(kit.wait_for(lambda: kit.checked(gamma_only), 3))
        self.assertEqual(writes.settle(), baseline + 3)
        self.assertIn(True, app.config()["displayFullGammaModes"][1::2])

        # A display's maximum, dragged; the output's gamma shows the handle's level while it is held.
        handle = kit.find(window, "slider", "Max")
        self.assertIsNotNone(handle)
        self.assertTrue(kit.scroll_into_view(handle.parent))
        hx, hy, hw, hh = kit.extents(handle.parent)
        left, right = hx + 4, hx + hw - 4
        lower = app.config().get("safetyMinimumPercent", 5)

        def at(percent):
            return left + (percent - lower) / (100 - lower) * (right - left)

        held = kit.drag([(right - 1, hy + 13), (at(80), hy + 13), (at(50), hy + 13)],
                        hold=lambda: kit.wait_for(lambda: abs(kit.gamma_brightness() - 0.5) < 0.06, 3) and
                        kit.gamma_brightness())
        self.assertTrue(held, "the output previews the dragged maximum (gamma %s)" % kit.gamma_brightness())
        self.assertEqual(writes.settle(), baseline + 4)
        # Stored as [display, percent, display, percent, ...].
        maxima = app.config()["displayMaximumPercents"][1::2]
        self.assertTrue(any(abs(value - 50) <= 1 for value in maxima), maxima)

    def test_reset_and_uninstall_preparation_keep_or_remove_the_settings(self):
        app = self.start("reset")
        _, _, window = self.open_window(app)
        self.open_section(window, "Advanced settings")
        fade = kit.labelled(window, "combo box", "Fade duration")
        self.assertTrue(kit.scroll_into_view(fade))
        kit.click(*kit.centre(fade))
        kit.key("Up")
        kit.key("Return")
        self.assertTrue(kit.wait_for(lambda: app.config()["fadeDurationSeconds"] == 5, 3))

        def press(name, in_card=False):
            button = kit.wait_for(lambda: next((b for b in kit.find_all(window, "push button", name)
                                                if b.getState().contains(kit.pyatspi.STATE_ENABLED)), None), 3)
            self.assertIsNotNone(button, name)
            if not in_card:
                self.open_section(window, "Advanced settings")  # a reset closes the sections
                self.assertTrue(kit.scroll_into_view(button))
            kit.click(*kit.centre(button))

        press("Reset")  # the row's button opens the card...
        press("Reset", in_card=True)  # ...whose own button resets
        self.assertTrue(kit.wait_for(lambda: app.config()["fadeDurationSeconds"] == 6, 3))

        # Keep the data: the program quits, the folder stays.
        press("Prepare…")
        press("Keep settings", in_card=True)
        self.assertEqual(app.wait_exit(5), 0)
        self.assertTrue(os.path.exists(app.config_file))
        # The program file is shown in the file manager, so that it can be deleted.
        self.assertEqual(self.session.file_manager.shown(), ["file://" + os.path.realpath(EXECUTABLE)])

        # Remove it: the folder goes, and only it.
        again = self.start("reset")
        outside = os.path.join(again.home, "keep-me.txt")
        with open(outside, "w") as note:
            note.write("not Dimmora's")
        _, _, window = self.open_window(again)
        self.open_section(window, "Advanced settings")
        press("Prepare…")
        press("Remove settings and logs", in_card=True)
        self.assertEqual(again.wait_exit(5), 0)
        self.assertFalse(os.path.exists(again.config_folder))
        self.assertTrue(os.path.exists(outside))


if __name__ == "__main__":
    unittest.main(verbosity=2)
