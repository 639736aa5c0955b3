# SPDX-License-Identifier: GPL-3.0-or-later
"""The settings window as a screen reader meets it: everything is in the
accessibility tree (AT-SPI), named, with its state, and operable from there."""

import os
import sys
import time
import unittest

from gi.repository import GLib

import windowkit as kit

EXECUTABLE = sys.argv.pop(1)


SESSION = None


def setUpModule():
    global SESSION
    if "DISPLAY" not in os.environ:
        raise unittest.SkipTest("no X server (scripts/test starts a private one)")
    # One accessibility bus for every program the tests start.
    SESSION = kit.Session()


def tearDownModule():
    if SESSION:
        SESSION.close()


class OpenWindow(unittest.TestCase):
    """The program started in a home of its own (in `environment`), its window opened from the tray."""

    home = "reader"
    environment = {}

    @classmethod
    def setUpClass(cls):
        cls.app = kit.App(EXECUTABLE, SESSION.home(cls.home),
                          extra_environment=dict(cls.environment, BROWSER="/bin/true"))
        if not cls.app.wait_started():
            raise AssertionError("the program did not start")
        if not kit.open_from_tray()[1]:
            raise AssertionError("the window did not open")
        cls.window = kit.application(cls.app.process.pid)

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()


class WindowThroughAccessibility(OpenWindow):

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
        self.assertTrue(header.getState().contains(kit.pyatspi.STATE_EXPANDABLE))
        self.assertFalse(header.getState().contains(kit.pyatspi.STATE_EXPANDED))
        with StateChanges("expanded") as changes:
            kit.do_action(header, "Press")
            self.assertTrue(changes.wait_for(lambda name, value: name == "Advanced settings" and value == 1),
                            "a reader is told the section expanded (got %s)" % changes.seen)
        self.assertTrue(header.getState().contains(kit.pyatspi.STATE_EXPANDED))
        self.assertEqual(header.description, "Expanded")
        # Pickers list their options.
        fade = kit.labelled(self.window, "combo box", "Fade duration")
        self.assertIsNotNone(fade)
        items = kit.find_all(fade, "list item")
        self.assertEqual([item.name for item in items][:3], ["0 s", "0.5 s", "1 s"])
        self.assertEqual(len(items), 8)

    def test_a_slider_steps_by_five_and_takes_any_whole_value(self):
        master = kit.find(self.window, "slider", "Everyday brightness")
        value = master.queryValue()
        self.assertEqual((value.minimumValue, value.maximumValue, value.currentValue), (0, 100, 100))
        self.assertEqual(value.minimumIncrement, 1)
        kit.do_action(master, "Decrease")
        self.assertTrue(kit.wait_for(lambda: value.currentValue == 95, 3))
        value.currentValue = 83
        self.assertTrue(kit.wait_for(lambda: value.currentValue == 83, 3))
        # The header's readout says the level too.
        self.assertTrue(kit.wait_for(lambda: any(label.description == "Everyday brightness"
                                                 for label in kit.find_all(self.window, "label", "83%")), 3))

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

    def test_the_confirmation_card_is_a_dialog_whose_buttons_point_to_its_message(self):
        header = kit.find(self.window, "push button", "Advanced settings")
        if not header.getState().contains(kit.pyatspi.STATE_EXPANDED):
            kit.do_action(header, "Press")
        reset = kit.wait_for(lambda: next((b for b in kit.find_all(self.window, "push button", "Reset")
                                           if b.getState().contains(kit.pyatspi.STATE_SHOWING)), None), 3)
        kit.do_action(reset, "Press")
        card = kit.find(self.window, "dialog", "Reset all settings?")
        self.assertIsNotNone(card, "the card is a dialog named by its title")
        message = ("Steps, display ranges and shortcuts return to their defaults, and Dimmora no longer starts at "
                   "login. This cannot be undone.")
        self.assertEqual(card.description, message)
        cancel = kit.find(card, "push button", "Cancel")
        self.assertTrue(kit.wait_for(lambda: cancel.getState().contains(kit.pyatspi.STATE_FOCUSED), 3))
        self.assertEqual(cancel.description, message, "the focused button says what it answers")
        kit.do_action(cancel, "Press")
        self.assertTrue(kit.wait_for(lambda: not card.getState().contains(kit.pyatspi.STATE_SHOWING), 3))

    def test_step_rows_say_which_step_they_are(self):
        header = kit.find(self.window, "push button", "Dimming steps")
        if not header.getState().contains(kit.pyatspi.STATE_EXPANDED):
            kit.do_action(header, "Press")
        rows = kit.wait_for(lambda: [row.name for row in kit.find_all(self.window, "panel")
                                     if (row.name or "").startswith("Step ")], 3)
        steps = self.app.config().get("steps") or []
        expected = ["Step %d, after %d s" % (number, step["idleSeconds"]) for number, step in enumerate(steps, 1)]
        self.assertEqual(rows, expected or rows)
        self.assertGreaterEqual(len(rows), 2)
        self.assertRegex(rows[1], r"^Step 2, after \d+ s$")
        # The slider of a row takes any whole value, as the pointer can set it, and says so.
        slider = kit.find_all(self.window, "slider", "Dim to")[-1]
        value = slider.queryValue()
        self.assertEqual(value.minimumIncrement, 1)
        value.currentValue = 33
        self.assertTrue(kit.wait_for(lambda: value.currentValue == 33, 3))


class StateChanges:
    """Collects object:state-changed:<state> events (source name, new value) while in the block."""

    def __init__(self, state):
        self.kind = "object:state-changed:" + state
        self.seen = []

    def __enter__(self):
        kit.pyatspi.Registry.registerEventListener(self.record, self.kind)
        return self

    def __exit__(self, *_):
        kit.pyatspi.Registry.deregisterEventListener(self.record, self.kind)

    def record(self, event):
        self.seen.append((event.source.name if event.source else None, event.detail1))

    def wait_for(self, match, limit=3):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            GLib.MainContext.default().iteration(False)
            if any(match(name, value) for name, value in self.seen):
                return True
            time.sleep(0.02)
        return False


class JapaneseWindowThroughAccessibility(OpenWindow):
    """The same window in Japanese: the step rows are named in Japanese."""

    home = "japanese"
    environment = {"LANG": "ja_JP.UTF-8", "LANGUAGE": "ja"}

    def test_step_rows_are_named_in_japanese(self):
        header = kit.find(self.window, "push button", "減光ステップ")
        self.assertIsNotNone(header)
        kit.do_action(header, "Press")
        rows = kit.wait_for(lambda: [row.name for row in kit.find_all(self.window, "panel")
                                     if (row.name or "").startswith("ステップ")], 3)
        self.assertGreaterEqual(len(rows), 2)
        self.assertRegex(rows[1], r"^ステップ 2（\d+ 秒後）$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
