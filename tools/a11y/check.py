#!/usr/bin/env python3
"""Reads the real program through the accessibility bus (AT-SPI), as a screen reader does.

Started by tools/a11y-check.sh inside a D-Bus session of its own and on a virtual X server:
starts the program, waits for it on the bus, checks the names of its controls, chooses the
simulator's port in the port dialog by the accessible text and action, presses "Acquire
Present Value" by its accessible action and reads the status text back: "COMMAND OK !",
told by a name-change event.

    check.py PROGRAM DEVICE
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

PROGRAM, DEVICE = sys.argv[1], sys.argv[2]
failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text, flush=True)


def pump(seconds):
    """Lets the bus's messages (events among them) be handled for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def wait_for(what, find, limit=30.0):
    """Retries `find` until it gives something: right after a start the bus can be empty."""
    end = time.monotonic() + limit
    while True:
        try:
            found = find()
        except Exception:  # an object gone while it was read: read again
            found = None
        if found:
            return found
        if program.poll() is not None:
            raise SystemExit("check.py: the program ended (status %d) before its %s showed on the "
                             "accessibility bus" % (program.returncode, what))
        if time.monotonic() > end:
            raise SystemExit("check.py: no %s on the accessibility bus after %.0f s" % (what, limit))
        pump(0.2)


def walk(node, cells=True):
    """The node and all below it; a table's cells only with `cells`."""
    yield node
    if not cells and node.getRole() == pyatspi.ROLE_TABLE:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, cells)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == "qm6200-datalink":
            return app
    return None


def window(app, title):
    for win in app:
        if win is not None and win.name == title and win.getState().contains(pyatspi.STATE_SHOWING):
            return win
    return None


def control(root, role, name):
    for node in walk(root):
        if node.getRole() == role and node.name == name:
            return node
    return None


def press(node):
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("Press") if "Press" in names else 0)


home = tempfile.mkdtemp(prefix="qm6200-a11y-")
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data",
           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
program = subprocess.Popen([PROGRAM], env=env, cwd=home)
try:
    app = wait_for("program", application)
    print("found the program on the bus", flush=True)

    # The port dialog, after the splash screen: the simulator's device typed by the text's
    # accessible interface, "Determine" pressed by its action.
    dialog = wait_for("port dialog", lambda: window(app, "COM PORT"))
    port = wait_for("port box", lambda: control(dialog, pyatspi.ROLE_TEXT, "Communication port"), 5)
    port.queryEditableText().setTextContents(DEVICE)
    pump(0.3)
    box = control(dialog, pyatspi.ROLE_COMBO_BOX, DEVICE)
    if box is None or box.description != DEVICE:
        fail("the port box does not tell its whole text %r" % DEVICE)
    press(control(dialog, pyatspi.ROLE_PUSH_BUTTON, "Determine"))

    main = wait_for("main window", lambda: window(app, "QM-6200 DATA LINK SOFTWARE"))
    for role, name in [(pyatspi.ROLE_TEXT, "Transmit Format"), (pyatspi.ROLE_TEXT, "Receive Format"),
                       (pyatspi.ROLE_TABLE, "Records"),
                       (pyatspi.ROLE_PUSH_BUTTON, "Acquire Record Data"),
                       (pyatspi.ROLE_PUSH_BUTTON, "Acquire Present Value"),
                       (pyatspi.ROLE_PUSH_BUTTON, "Clear All Data"),
                       (pyatspi.ROLE_PUSH_BUTTON, "Save Data (.csv file)"),
                       (pyatspi.ROLE_PUSH_BUTTON, "CLR")]:
        if control(main, role, name) is None:
            fail("no %s named %r" % (role, name))
    for node in walk(main, cells=False):
        state = node.getState()
        if state.contains(pyatspi.STATE_FOCUSABLE) and state.contains(pyatspi.STATE_SHOWING) \
                and not node.name.strip():
            fail("a focusable %s without a name" % node.getRoleName())

    # "Acquire Present Value" pressed through the bus; the status is read back as it changes.
    told = []
    pyatspi.Registry.registerEventListener(
        lambda event: told.append(event.source.name if event.source else ""),
        "object:property-change:accessible-name")
    press(control(main, pyatspi.ROLE_PUSH_BUTTON, "Acquire Present Value"))

    def status():
        for node in walk(main):
            # Named "No status" while it shows nothing.
            if node.description == "Status" and node.name not in ("", "No status"):
                return node
        return None

    label = wait_for("status text", status, 15)
    if label.name != "COMMAND OK !":
        fail("the status reads %r, not 'COMMAND OK !'" % label.name)
    end = time.monotonic() + 5
    while "COMMAND OK !" not in told and time.monotonic() < end:
        pump(0.2)
    if "COMMAND OK !" not in told:
        fail("no name-change event carried 'COMMAND OK !' (told: %r)" % told)
    received = control(main, pyatspi.ROLE_TEXT, "Receive Format").queryText()
    spoken = received.getText(0, received.characterCount)
    if "STX" not in spoken or "CR" not in spoken:
        fail("the receive box reads %r, without STX and CR by name" % spoken)
    table = control(main, pyatspi.ROLE_TABLE, "Records")
    if table.description != "1 record shown":
        fail("the table's description is %r" % table.description)
    print("status %r; receive box %r; table %r" % (label.name, spoken, table.description), flush=True)
finally:
    program.terminate()
    try:
        program.wait(10)
    except subprocess.TimeoutExpired:
        program.kill()
    shutil.rmtree(home, ignore_errors=True)

if failures:
    raise SystemExit("check.py: %d failures" % len(failures))
print("accessibility bus check passed", flush=True)
