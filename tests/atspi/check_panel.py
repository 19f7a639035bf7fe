"""The running panel as AT-SPI clients (screen readers, speech control) see it.

    check_panel.py WORK_DIR

Registers its listeners first and says so by creating WORK_DIR/listening; then waits for the
panel, whose process id appears in WORK_DIR/panel.pid. The panel runs with output gains against the simulator, whose outputs 1 and 2 stand at
-10 dB and +10 dB. Finds every control by the name a user would say or hear, reads the
captions, the faders' gain in words and in dB, the counters and the link state, then sets
fader 1 to -6.5 dB through the Value interface and waits for the name change to be announced.
Exits non-zero on the first thing missing, saying what.
"""

import os
import re
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

TIMEOUT_S = 10.0
COUNTER_CAPTIONS = ["65->65", "66->65", "67->65", "68->65", "65->66",
                    "66->66", "67->66", "68->66", "In", "Out"]

announced = []  # (event type, source object)


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def pump():
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(what, condition, timeout=TIMEOUT_S):
    deadline = time.monotonic() + timeout
    while True:
        pump()
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        time.sleep(0.05)


def on_event(event):
    # Only noted here: a call back into the panel from inside the callback may time out.
    announced.append((event.type, event.source))


def find_app(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node):
    yield node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from walk(child)


def controls(app):
    """Every object below the app as (role name, name, object), read afresh."""
    found = []
    for node in walk(app):
        node.clear_cache()
        found.append((node.get_role_name(), node.get_name(), node))
    return found


def named(found, role, name):
    return [node for (r, n, node) in found if r == role and n == name]


def one(found, role, name):
    matches = named(found, role, name)
    if len(matches) != 1:
        roles = sorted({(r, n) for (r, n, _) in found})
        fail("expected one %s named %r, found %d among %s" % (role, name, len(matches), roles))
    return matches[0]


def text_of(node):
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


def read_pid(path):
    try:
        with open(path) as f:
            return int(f.read())
    except (OSError, ValueError):
        return None


def main():
    work = sys.argv[1]
    listener = Atspi.EventListener.new(on_event)
    listener.register("object:property-change:accessible-name")
    listener.register("object:property-change:accessible-value")
    open(os.path.join(work, "listening"), "w").close()

    pid = wait_for("the panel to start", lambda: read_pid(os.path.join(work, "panel.pid")))
    app = wait_for("the panel on the accessibility bus", lambda: find_app(pid))
    # The faders' names follow their captions: "Gain (0db)" at start-up, then what the
    # switcher reported. A walk over the tree is not one moment of the panel's: the report can
    # arrive between reading a caption and reading its fader, so wait for a walk that saw both
    # after it.
    expected = {("slider", "Fader 1, Gain (-10db)"), ("slider", "Fader 2, Gain (+10db)"),
                ("label", "Gain (-10db)"), ("label", "Gain (+10db)")}
    found = wait_for("the reported gains in the faders' names and captions",
                     lambda: (lambda f: f if expected <= {(r, n) for (r, n, _) in f}
                              else None)(controls(app)))

    fader1 = one(found, "slider", "Fader 1, Gain (-10db)")
    fader2 = one(found, "slider", "Fader 2, Gain (+10db)")
    for fader in [fader1, fader2]:
        wait_for("the reported gain's announcement",
                 lambda: ("object:property-change:accessible-name", fader) in announced)
    if Atspi.Value.get_current_value(fader1) != -10.0:
        fail("fader 1's value is %r, not -10 dB" % Atspi.Value.get_current_value(fader1))
    if (Atspi.Value.get_minimum_value(fader2), Atspi.Value.get_maximum_value(fader2)) != (-100, 24):
        fail("the faders' range is not -100 (Off) to +24 dB")
    if "Enter" not in fader1.get_description():
        fail("fader 1's description does not say how to type a gain")
    for caption in ["Ch. 1", "Ch. 2", "Gain (-10db)", "Gain (+10db)"]:
        one(found, "label", caption)
    buttons = named(found, "push button", "0db")
    if sorted(b.get_description() for b in buttons) != ["Fader 1 to 0 dB", "Fader 2 to 0 dB"]:
        fail("the 0db buttons are not both there with their descriptions")
    if len(named(found, "check box", "Stereo")) != 2:
        fail("there are not two Stereo boxes")
    one(found, "check box", "Lock Faders")
    if not [n for (r, n, _) in found if r == "push button" and n.startswith("Clear")]:
        fail("no button named Clear")
    for caption in COUNTER_CAPTIONS:
        count = text_of(one(found, "text", caption))
        if not re.fullmatch(r"\d+", count):
            fail("counter %s reads %r" % (caption, count))
    one(found, "menu item", "\u25cf Live")

    # A gain set the way assistive technology sets a slider: sent to the switcher, confirmed,
    # and announced as a new name.
    announced.clear()
    Atspi.Value.set_current_value(fader1, -6.5)
    for change in ["accessible-name", "accessible-value"]:
        wait_for("fader 1's %s change to be announced" % change,
                 lambda: ("object:property-change:" + change, fader1) in announced)
    fader1.clear_cache()
    if fader1.get_name() != "Fader 1, Gain (-6.5db)":
        fail("fader 1 is named %r after the change" % fader1.get_name())
    # Past the refresh, the name holds what the switcher confirmed.
    time.sleep(0.3)
    fader1.clear_cache()
    if fader1.get_name() != "Fader 1, Gain (-6.5db)":
        fail("after the refresh fader 1 is named %r" % fader1.get_name())
    listener.deregister("object:property-change:accessible-name")
    listener.deregister("object:property-change:accessible-value")
    print("PASS: %d accessible objects checked" % len(found))


if __name__ == "__main__":
    main()
