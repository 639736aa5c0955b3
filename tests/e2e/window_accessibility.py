# SPDX-License-Identifier: GPL-3.0-or-later
"""The settings window as a screen reader meets it: everything is in the
accessibility tree (AT-SPI), named, with its state, and operable from there."""

import os
import sys
import unittest

import windowkit as kit

EXECUTABLE = sys.argv.pop(1)


class WindowThroughAccessibility(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if "DISPLAY" not in os.environ:
            raise unittest.SkipTest("no X server (scripts/test starts a private one)")
        cls.session = kit.Session()
        cls.app = kit.App(EXECUTABLE, cls.session.home("reader"), extra_environment={"BROWSER": "/bin/true"})
        if not cls.app.wait_started():
            raise AssertionError("the program did not start")
        if not kit.open_from_tray()[1]:
            raise AssertionError("the window did not open")
        cls.window = kit.application(cls.app.process.pid)

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()
        cls.session.close()

    def test_the_window_is_in_the_tree_with_its_names(self):
        self.assertIsNotNone(self.window, "the drop-down window is in the accessibility tree")
        frame = kit.find(self.window, "frame", "Dimmora") or kit.find(self.window, "window", "Dimmora")
        self.assertIsNotNone(frame)
        for role, name in [("slider", "Everyday brightness"), ("push button", "Quit Dimmora"),
                           ("check box", "Pause while media is playing"), ("check box", "Start at login")]:
            self.assertIsNotNone(kit.find(self.window, role, name), "%s %r" % (role, name))
        self.assertIsNotNone(kit.labelled(self.window, "combo box", "Pause dimming"))

    def test_sections_say_whether_they_are_open_and_open_on_request(self):
        header = kit.find(self.window, "push button", "Advanced settings")
        self.assertEqual(header.description, "Collapsed")
        self.assertFalse(header.getState().contains(kit.pyatspi.STATE_EXPANDED))
        kit.do_action(header, "Press")
        self.assertTrue(kit.wait_for(lambda: header.getState().contains(kit.pyatspi.STATE_EXPANDED), 3))
        self.assertEqual(header.description, "Expanded")
        # Pickers list their options.
        fade = kit.labelled(self.window, "combo box", "Fade duration")
        self.assertIsNotNone(fade)
        items = kit.find_all(fade, "list item")
        self.assertEqual([item.name for item in items][:3], ["0 s", "0.5 s", "1 s"])
        self.assertEqual(len(items), 8)

    def test_a_slider_moves_in_steps_of_five(self):
        master = kit.find(self.window, "slider", "Everyday brightness")
        value = master.queryValue()
        self.assertEqual((value.minimumValue, value.maximumValue, value.currentValue), (0, 100, 100))
        self.assertEqual(value.minimumIncrement, 5)
        kit.do_action(master, "Decrease")
        self.assertTrue(kit.wait_for(lambda: value.currentValue == 95, 3))
        value.currentValue = 80
        self.assertTrue(kit.wait_for(lambda: value.currentValue == 80, 3))
        # The header's readout says the level too.
        self.assertTrue(kit.wait_for(lambda: any(label.description == "Everyday brightness"
                                                 for label in kit.find_all(self.window, "label", "80%")), 3))

    def test_a_display_switch_and_range_work_from_the_tree(self):
        header = kit.find(self.window, "push button", "Displays")
        if not header.getState().contains(kit.pyatspi.STATE_EXPANDED):
            kit.do_action(header, "Press")
        displays = [d for d in kit.find_all(self.window, "check box") if "(" in (d.name or "")]
        self.assertTrue(displays, "each display has a switch named after it")
        switch = displays[0]
        self.assertTrue(kit.checked(switch))
        kit.do_action(switch, "Toggle")
        self.assertTrue(kit.wait_for(lambda: not kit.checked(switch), 3))
        self.assertTrue(kit.wait_for(lambda: self.app.config().get("selectedDisplayIDs") == [], 3))
        kit.do_action(switch, "Toggle")
        self.assertTrue(kit.wait_for(lambda: kit.checked(switch), 3))

        maximum = kit.find(self.window, "slider", "Max")
        self.assertEqual(maximum.queryValue().currentValue, 100)
        kit.do_action(maximum, "Decrease")
        self.assertTrue(kit.wait_for(lambda: maximum.queryValue().currentValue == 95, 3))


if __name__ == "__main__":
    unittest.main(verbosity=2)
