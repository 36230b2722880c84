#!/usr/bin/python3
"""A user's session with Listwise on a real X display under a real window manager, driven only
by X input events (xdotool): mouse moves, clicks, double clicks and key presses reach the
program the way a person's do. Coordinates come from the program's own layout dump
(LISTWISE_GEOMETRY_DUMP), never from fixed numbers.

    xwalk.py --mode mouse|keyboard --listwise BIN --xbtool BIN --display :N --dir DATA_DIR

Prints one line per check and ends with the counts; exits 1 when any check failed. Afterwards
the task files are checked with `xbtool check` and compared with `xbtool dump` against what was
typed.
"""

import argparse
import csv
import io
import json
import os
import subprocess
import sys
import time

TIMEOUT = 20.0


def plain(text):
    """A menu item's or button's text as read: without the mnemonic mark and the shortcut part."""
    return text.split("\t")[0].replace("&", "")


class Walk:
    def __init__(self, args):
        self.args = args
        self.env = dict(os.environ, DISPLAY=args.display)
        self.dump = os.path.join(args.dir, "layout.json")
        self.env["LISTWISE_GEOMETRY_DUMP"] = self.dump
        self.env.pop("QT_QPA_PLATFORM", None)
        self.passed = 0
        self.failed = 0
        self.proc = None
        self.keyboard = args.mode == "keyboard"

    # ---- Checks ----------------------------------------------------------------------------
    def check(self, ok, what):
        print(("ok    " if ok else "FAIL  ") + what, flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            self.shot("fail-%d" % self.failed)
        return ok

    def shot(self, name):
        path = os.path.join(self.args.dir, name + ".png")
        subprocess.run(["import", "-window", "root", path], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    # ---- The program's layout --------------------------------------------------------------
    def snap(self):
        for _ in range(20):
            try:
                with open(self.dump, encoding="utf-8") as f:
                    return json.load(f)
            except (OSError, ValueError):
                time.sleep(0.05)
        return {"windows": []}

    def wait(self, predicate, what, timeout=TIMEOUT):
        """The first true value of predicate(snapshot), or a failed check after the timeout."""
        end = time.time() + timeout
        while time.time() < end:
            value = predicate(self.snap())
            if value:
                return value
            time.sleep(0.1)
        self.check(False, "timed out waiting for " + what)
        return None

    @staticmethod
    def widgets(snap):
        for w in snap["windows"]:
            yield w
            yield from w.get("children", [])

    @staticmethod
    def named(snap, name, window=None):
        for w in snap["windows"]:
            if window and w["name"] != window and w["class"] != window:
                continue
            if w["name"] == name:
                return w
            for c in w.get("children", []):
                if c["name"] == name:
                    return c
        return None

    def find(self, name, window=None):
        return self.wait(lambda s: self.named(s, name, window), "control " + name)

    @staticmethod
    def grid(snap):
        g = Walk.named(snap, "ActiveGrid")
        return g

    @staticmethod
    def rows(snap):
        """The grid's visible rows as lists of their six texts."""
        g = Walk.grid(snap)
        if not g:
            return []
        rows = {}
        for c in g.get("cells", []):
            rows.setdefault(c["row"], ["", "", "", "", "", ""])[c["column"]] = c["text"]
        return [rows[r] for r in sorted(rows)]

    @staticmethod
    def row_with(snap, task):
        """The six texts of the first row showing `task`, read from that one snapshot; blanks
        while it is not listed (the grid is empty for a moment while its model resets)."""
        return next((r for r in Walk.rows(snap) if r[3] == task), [""] * 6)

    @staticmethod
    def tasks(snap):
        return [r[3] for r in Walk.rows(snap)]

    @staticmethod
    def cell(snap, row, column):
        g = Walk.grid(snap)
        for c in (g or {}).get("cells", []):
            if c["row"] == row and c["column"] == column:
                return c
        return None

    @staticmethod
    def current_row(snap):
        g = Walk.grid(snap)
        for c in (g or {}).get("cells", []):
            if c["current"]:
                return c["row"]
        return -1

    @staticmethod
    def modal(snap):
        return snap.get("modal") or ""

    @staticmethod
    def window_of_class(snap, cls):
        for w in snap["windows"]:
            if w["class"] == cls:
                return w
        return None

    # ---- X input ---------------------------------------------------------------------------
    def xdo(self, *words):
        subprocess.run(["xdotool"] + [str(w) for w in words], env=self.env, check=True)
        time.sleep(0.15)

    def click_at(self, x, y, double=False, button=1):
        self.xdo("mousemove", "--sync", x, y)
        time.sleep(0.1)
        if double:
            self.xdo("click", "--repeat", 2, "--delay", 80, button)
        else:
            self.xdo("click", button)

    def click(self, widget, double=False, button=1):
        x, y, w, h = widget["rect"]
        self.click_at(x + w // 2, y + h // 2, double, button)

    def click_named(self, name, window=None, double=False):
        w = self.find(name, window)
        if w:
            self.click(w, double)
        return w

    def click_cell(self, row, column, double=False):
        c = self.wait(lambda s: self.cell(s, row, column), "grid cell %d,%d" % (row, column))
        if c:
            self.click(c, double)

    def key(self, *keys):
        for k in keys:
            self.xdo("key", "--clearmodifiers", k)

    def type(self, text):
        self.xdo("type", "--delay", 25, text)

    def menu_item(self, text, what=None):
        """Clicks (or, by keyboard, walks to) the item of the open popup menu with this text."""
        def item(s):
            for w in s["windows"]:
                if w["class"] == "QMenu":
                    for a in w.get("actions", []):
                        if plain(a["text"]) == text and a["enabled"]:
                            return w, a
            return None
        found = self.wait(item, "menu item " + (what or text))
        if not found:
            return False
        menu, a = found
        if self.keyboard:
            # Down moves over the enabled items, past separators and disabled ones; a menu opened
            # from the menu bar by keyboard starts with its first item highlighted, a popup menu
            # with none. The highlighted item is read back before Enter acts on it.
            def highlighted(s):
                for w in s["windows"]:
                    if w["class"] == "QMenu" and w["rect"] == menu["rect"]:
                        return next((plain(x["text"]) for x in w.get("actions", []) if x.get("active")), None)
                return None
            for _ in range(len(menu["actions"]) + 1):
                if highlighted(self.snap()) == text:
                    break
                self.key("Down")
                time.sleep(0.1)
            if not self.check(highlighted(self.snap()) == text, "Down reaches the menu item " + (what or text)):
                return False
            self.key("Return")
        else:
            self.click(a)
        return True

    def answer_box(self, button_text, expect=None):
        """Answers the message box that comes up by its button; checks its text."""
        box = self.wait(lambda s: self.window_of_class(s, "QMessageBox"), "a message box")
        if not box:
            return None
        texts = [c["text"] for c in box["children"] if c["class"] == "QLabel" and c["text"]]
        if expect is not None:
            self.check(any(expect in t for t in texts), "message says %r (%s)" % (expect, " / ".join(texts)))
        if self.keyboard:
            keys = {"Yes": "y", "No": "n"}
            if button_text in keys:
                self.key("alt+" + keys[button_text])
            else:
                self.key("Return")
        else:
            for c in box["children"]:
                if c["class"] == "QPushButton" and c["text"].replace("&", "") == button_text:
                    self.click(c)
                    break
        # Gone, or replaced by the next box with other words.
        def gone(s):
            b = self.window_of_class(s, "QMessageBox")
            return not b or [c["text"] for c in b["children"] if c["class"] == "QLabel" and c["text"]] != texts
        self.wait(gone, "the box to close")
        return texts

    # ---- The program -----------------------------------------------------------------------
    def start(self):
        if os.path.exists(self.dump):
            os.remove(self.dump)
        log = open(os.path.join(self.args.dir, "listwise.log"), "a")
        self.proc = subprocess.Popen([self.args.listwise, "--data-dir", self.args.dir],
                                     env=self.env, stdout=log, stderr=log)
        ok = self.wait(lambda s: (self.named(s, "ExitButton") or {}).get("rect")
                       and (s.get("active") == "MainScreen" or self.window_of_class(s, "QMessageBox")),
                       "the main window", 30)
        self.check(bool(ok), "the main window opens")
        if ok and self.window_of_class(self.snap(), "QMessageBox"):
            # A new task list has never been indexed by the user: the program asks for a rebuild.
            self.answer_box("OK", "Please rebuild indexes ASAP")
        self.check(bool(self.wait(lambda s: s.get("active") == "MainScreen", "the main window to be active")),
                   "the main window is active")
        # The window manager may still be placing it.
        time.sleep(0.5)

    def stop_with(self, how):
        if self.keyboard:
            self.key("alt+x")
        else:
            self.click_named("ExitButton")
        try:
            code = self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            code = None
        self.check(code == 0, "the program ends after %s (exit code %s)" % (how, code))

    def dialog_ready(self, name):
        """Waits until the dialog `name` is the active window. Keys typed before the window
        manager hands it the keyboard reach no one, as they would for a user who types before
        the window is there; a busy machine makes that moment late."""
        return self.wait(lambda s: s.get("modal") == name and s.get("active") == name,
                         "the %s to take the keyboard" % name)

    def typed(self, name, window, text):
        """Waits until the control shows what was typed into it."""
        return self.wait(lambda s: (self.named(s, name, window) or {}).get("text") == text,
                         "%r in %s" % (text, name))

    # ---- Steps -----------------------------------------------------------------------------
    def editor_fill(self, task=None, keys=None, note=None, priority=None):
        """Fills the open task editor the way a user does and presses OK (or Enter)."""
        ed = self.wait(lambda s: s.get("modal") == "TaskEditor" and self.named(s, "Task", "TaskEditor"),
                       "the task editor")
        if not ed or not self.dialog_ready("TaskEditor"):
            return
        if self.keyboard:
            # The description has the focus when the editor opens; Tab and Shift+Tab go from
            # field to field, the arrows choose among the priorities, Enter is OK.
            self.tab_to(["Task"])
            if task is not None:
                self.key("ctrl+a")
                self.type(task)
            if keys is not None:
                self.tab_to(["KeyWords"])
                self.key("ctrl+a")
                self.type(keys)
            if priority is not None:
                self.tab_to(["pHigh", "pMedium", "pLow"])
                target = {"High": "pHigh", "Medium": "pMedium", "Low": "pLow"}[priority]
                # The three sit side by side: Left and Right move between them.
                step = "Left" if priority == "High" else "Right"
                for _ in range(3):
                    if self.snap().get("focus") == target:
                        break
                    self.key(step)
                self.key("space")
                self.check(bool((self.named(self.snap(), target, "TaskEditor") or {}).get("checked")),
                           "the arrow keys choose priority " + priority)
            if note is not None:
                self.tab_to(["Notes"])
                self.type(note)
            self.tab_to(["Task"], back=True)
            self.key("Return")
        else:
            if task is not None:
                self.click_named("Task", "TaskEditor")
                self.key("ctrl+a")
                self.type(task)
            if keys is not None:
                self.click_named("KeyWords", "TaskEditor")
                self.key("ctrl+a")
                self.type(keys)
            if priority is not None:
                self.click_named({"High": "pHigh", "Medium": "pMedium", "Low": "pLow"}[priority], "TaskEditor")
            if note is not None:
                self.click_named("Notes", "TaskEditor")
                self.type(note)
            self.click_named("OKButton", "TaskEditor")
        self.wait(lambda s: s.get("modal") != "TaskEditor", "the editor to close")

    def new_task(self, **fields):
        if self.keyboard:
            self.key("Insert")
        else:
            self.click_named("Newbutton")
        self.editor_fill(**fields)

    def select_task(self, text, column=3, priority=None):
        """Makes the row showing `text` (and `priority`, if given) current: a click, or arrow
        keys from the top."""
        rows = self.rows(self.snap())
        matches = [i for i, r in enumerate(rows) if r[3] == text and (priority is None or r[0] == priority)]
        if not matches:
            self.check(False, "task %r is listed (%s)" % (text, rows))
            return -1
        row = matches[0]
        if self.keyboard:
            self.focus_grid()
            self.key("ctrl+Home")
            for _ in range(column):
                self.key("Right")
            for _ in range(row):
                self.key("Down")
        else:
            self.click_cell(row, column)
        self.wait(lambda s: self.current_row(s) == row, "row %d to be current" % row)
        return row

    def focus_grid(self):
        if self.snap().get("focus") != "ActiveGrid":
            # The grid is the first control of the window's tab chain after the tool bar.
            for _ in range(12):
                if self.snap().get("focus") == "ActiveGrid":
                    break
                self.key("Tab")

    def expect_tasks(self, expected, what):
        got = self.wait(lambda s: sorted(self.tasks(s)) == sorted(expected) and self.tasks(s),
                        what, timeout=10)
        self.check(got is not None and sorted(got) == sorted(expected),
                   "%s: %s" % (what, sorted(self.tasks(self.snap()))))

    def row_of(self, text):
        tasks = self.tasks(self.snap())
        return tasks.index(text) if text in tasks else -1

    def run(self):
        self.start()
        no_box = lambda: self.check(not self.window_of_class(self.snap(), "QMessageBox"),
                                    "no message box is left open")

        # 1. Add the first task.
        self.new_task(task="Buy milk", keys="home shop")
        self.expect_tasks(["Buy milk"], "add: the first task is listed")

        # 2. A click into the grid, then New: the second task is stored too.
        if not self.keyboard:
            self.click_cell(0, 2)
        else:
            self.focus_grid()
            self.key("Right")
        self.new_task(task="Call the plumber", keys="home", priority="High", note="Kitchen tap")
        self.expect_tasks(["Buy milk", "Call the plumber"], "add after a click in the grid")
        no_box()
        high = self.row_with(self.snap(), "Call the plumber")
        self.check(high[0] == "High", "the new task's priority shows High (%r)" % high[0])

        # 3. Edit by double click on the task (Enter by keyboard).
        self.select_task("Buy milk")
        if self.keyboard:
            self.key("Return")
        else:
            self.click_cell(self.row_of("Buy milk"), 3, double=True)
        self.editor_fill(task="Buy oat milk")
        self.expect_tasks(["Buy oat milk", "Call the plumber"], "edit: the description changed")

        # 4. Clone.
        self.select_task("Call the plumber")
        if self.keyboard:
            self.key("alt+c")
        else:
            self.click_named("CloneButton")
        self.answer_box("Yes", "Clone this task?")
        self.expect_tasks(["Buy oat milk", "Call the plumber", "Call the plumber"], "clone: a copy is listed")

        # 5. Done, with done tasks hidden: the task leaves the list; Show DONE brings it back.
        self.select_task("Buy oat milk")
        if self.keyboard:
            self.key("alt+o")
        else:
            self.click_named("DoneToggleButton")
        self.expect_tasks(["Call the plumber", "Call the plumber"], "done: the task is hidden")
        if self.keyboard:
            self.focus_named("ShowDone")
            self.shot("focus-showdone")
            self.key("space")
        else:
            self.click_named("ShowDone")
        self.expect_tasks(["Buy oat milk", "Call the plumber", "Call the plumber"], "Show DONE lists it again")
        done_row = self.row_with(self.snap(), "Buy oat milk")
        self.check(done_row[4] == "Y", "its Done? column says Y (%r)" % done_row[4])

        # 6. The grid's quick menus: priority and date of the current task.
        self.quick_menu("Buy oat milk", 0, "Low Priority")
        self.wait(lambda s: self.row_with(s, "Buy oat milk")[0] == "Low",
                  "the priority menu to set Low")
        self.check(self.row_with(self.snap(), "Buy oat milk")[0] == "Low", "priority menu: Low")
        self.quick_menu("Buy oat milk", 1, "Quick Date", "Tomorrow")
        self.wait(lambda s: self.row_with(s, "Buy oat milk")[1] != "", "a date from the date menu")
        self.check(self.row_with(self.snap(), "Buy oat milk")[1] != "", "date menu: a date is set")

        # 7. Filter by a key word; FILTERED clears it.
        if self.keyboard:
            self.key("alt+i")
        else:
            self.click_named("Filterbutton")
        self.wait(lambda s: s.get("modal") == "FilterForm", "the filter dialog")
        self.dialog_ready("FilterForm")
        if self.keyboard:
            self.focus_named("KeyWords", "FilterForm")
            self.type("shop")
            self.typed("KeyWords", "FilterForm", "shop")
            self.key("Return")
        else:
            self.click_named("KeyWords", "FilterForm")
            self.type("shop")
            self.typed("KeyWords", "FilterForm", "shop")
            self.click_named("OKButton", "FilterForm")
        self.expect_tasks(["Buy oat milk"], "filter: only the task with the key word")
        clear = self.find("FilterClearbutton")
        self.check(bool(clear), "FILTERED is shown")
        if not clear:
            return
        if self.keyboard:
            self.focus_named("FilterClearbutton")
            self.key("space")
        else:
            self.click(clear)
        self.expect_tasks(["Buy oat milk", "Call the plumber", "Call the plumber"], "FILTERED cleared")

        # 8. Sort by description through the Sort button's menu.
        if self.keyboard:
            self.key("alt+s")
        else:
            self.click_named("OrderButton")
        self.menu_item("Sort by Description")
        got = self.wait(lambda s: self.tasks(s) == ["Buy oat milk", "Call the plumber", "Call the plumber"]
                        and self.tasks(s), "the description order")
        self.check(bool(got), "sort by description")

        # 9. Calendar: go to a date and back with OK.
        if self.keyboard:
            self.key("alt+l")
        else:
            self.click_named("CalendarButton")
        sel = self.wait(lambda s: s.get("modal") == "DateSelector", "the date selector")
        self.check(bool(sel), "the calendar opens")
        if sel:
            if self.keyboard:
                self.key("Return")
            else:
                self.click_named("OKButton", "DateSelector")
            self.wait(lambda s: s.get("modal") != "DateSelector", "the date selector to close")

        # 10. Delete the copy (the clone has no priority).
        self.select_task("Call the plumber", priority="")
        if self.keyboard:
            self.key("alt+d")
        else:
            self.click_named("DeleteButton")
        self.answer_box("Yes")
        self.expect_tasks(["Buy oat milk", "Call the plumber"], "delete: one copy left")

        # 11. Bulk delete of the tasks marked done, then Undo Delete.
        self.file_menu("Delete", "All Marked Done")
        self.answer_box("Yes", "1 task")
        self.answer_box("OK")
        self.expect_tasks(["Call the plumber"], "bulk delete removed the done task")
        self.file_menu("Undo Delete")
        self.answer_box("OK", "brought back")
        self.expect_tasks(["Buy oat milk", "Call the plumber"], "Undo Delete brought it back")

        # 12. Rebuild Indexes.
        self.file_menu("Rebuild Indexes")
        self.answer_box("Yes", "Rebuild")
        self.answer_box("OK", "Done!")
        self.expect_tasks(["Buy oat milk", "Call the plumber"], "after the rebuild")

        # 13. The report's preview.
        if self.keyboard:
            self.key("alt+r")
        else:
            self.click_named("Printbutton")
        dlg = self.wait(lambda s: s.get("modal") == "ReportSetup", "the report dialog")
        if dlg:
            self.check(True, "the report dialog opens")
            self.report_preview()

        # 14. Close and reopen: everything is still there.
        no_box()
        self.stop_with("Exit")
        self.start()
        self.expect_tasks(["Buy oat milk", "Call the plumber"], "after reopening")
        self.shot("main-window")
        self.stop_with("Exit")

    def tab_to(self, names, back=False, limit=14):
        """Tab (or Shift+Tab) until one of the named controls has the focus."""
        for _ in range(limit):
            if self.snap().get("focus") in names:
                return True
            self.key("shift+Tab" if back else "Tab")
            time.sleep(0.1)
        return self.check(self.snap().get("focus") in names, "the keyboard reaches " + "/".join(names))

    def focus_named(self, name, window=None):
        """Tabs through the window until the named control has the focus."""
        for _ in range(40):
            focus = self.snap().get("focus")
            if focus == name:
                return True
            # Tab moves from cell to cell inside the grid and types into the note; Ctrl+Tab leaves both.
            self.key("ctrl+Tab" if focus in ("ActiveGrid", "ActiveNotes") else "Tab")
        self.check(False, "the keyboard reaches " + name)
        return False

    def quick_menu(self, task, column, *items):
        self.select_task(task, column)
        if self.keyboard:
            self.key("Menu")
        else:
            self.click_cell(self.row_of(task), column, double=True)
        for item in items:
            if not self.menu_item(item):
                self.key("Escape", "Escape")
                return

    def file_menu(self, *path):
        if self.keyboard:
            self.key("alt+f")
        else:
            bar = self.wait(lambda s: next((c for w in s["windows"] for c in w.get("children", [])
                                            if c["class"] == "QMenuBar"), None), "the menu bar")
            for a in bar["actions"]:
                if a["text"].replace("&", "") == "File":
                    x, y, w, h = a["rect"]
                    self.click_at(x + w // 2, y + h // 2)
        for step in path:
            if not self.menu_item(step):
                self.key("Escape", "Escape", "Escape")
                return
            if step != path[-1] and self.keyboard:
                pass

    def report_preview(self):
        if self.keyboard:
            self.focus_named("Previewbutton")
            self.shot("focus-preview")
            self.key("space")
        else:
            self.click_named("Previewbutton", "ReportSetup")
        # The report is laid out first; a status box says when the preview is ready.
        status = self.wait(lambda s: next((c for w in s["windows"] if w["name"] == "ReportPrint"
                                           for c in w["children"] if plain(c["text"]) == "OK"
                                           and c["class"] != "QLabel"), None), "Preview Ready!")
        if status:
            if self.keyboard:
                self.key("Return")
            else:
                self.click(status)
        pv = self.wait(lambda s: self.named(s, "PreviewForm") and s.get("active") == "PreviewForm",
                       "the preview window")
        self.check(bool(pv), "the preview window opens")
        self.shot("preview")
        self.key("Escape")
        closed = self.wait(lambda s: not self.named(s, "PreviewForm"), "the preview to close", 10)
        if not closed:
            self.key("alt+F4")
            self.wait(lambda s: not self.named(s, "PreviewForm"), "the preview to close")
        self.key("Escape")
        self.check(bool(self.wait(lambda s: s.get("modal") != "ReportSetup", "the report dialog to close")),
                   "the report dialog closes")


def task_table(folder):
    """The task table as the program names it: LWISE.dbf, or LWISE.DBF where an earlier version
    made the folder."""
    lower, upper = os.path.join(folder, "LWISE.dbf"), os.path.join(folder, "LWISE.DBF")
    return upper if os.path.exists(upper) and not os.path.exists(lower) else lower


def check_files(walk, args, expected):
    """The files left behind, read by xbtool: the check passes and the tasks are what was typed."""
    table = task_table(args.dir)
    check = subprocess.run([args.xbtool, "check", table], capture_output=True, text=True)
    walk.check(check.returncode == 0, "xbtool check passes (%s)" % (check.stdout.strip() or check.stderr.strip()))
    dump = subprocess.run([args.xbtool, "dump", table], capture_output=True, text=True)
    rows = list(csv.DictReader(io.StringIO(dump.stdout)))
    got = sorted((r["DESCRIPT"].strip(), r["PRIORITY"].strip(), r["KEYS"].strip(), r["NOTE"].strip(),
                  r["DONE"].strip()) for r in rows)
    walk.check(got == sorted(expected), "xbtool dump holds what was typed: %s" % got)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mode", choices=["mouse", "keyboard"], required=True)
    p.add_argument("--listwise", required=True)
    p.add_argument("--xbtool", required=True)
    p.add_argument("--display", help="the X display, e.g. :1")
    p.add_argument("--display-file", help="a file holding the X display (the CTest fixture's)")
    p.add_argument("--dir", required=True)
    args = p.parse_args()
    if args.display_file:
        with open(args.display_file) as f:
            args.display = f.read().strip()
    if not args.display:
        p.error("no display: give --display or --display-file")
    os.makedirs(args.dir, exist_ok=True)
    for f in os.listdir(args.dir):
        os.remove(os.path.join(args.dir, f))
    walk = Walk(args)
    try:
        walk.run()
    finally:
        if walk.proc and walk.proc.poll() is None:
            walk.proc.kill()
    check_files(walk, args, [
        ("Buy oat milk", "C", "home shop", "", "T"),
        ("Call the plumber", "A", "home", "Kitchen tap", "F"),
    ])
    print("%s walk: %d checks passed, %d failed" % (args.mode, walk.passed, walk.failed), flush=True)
    return 1 if walk.failed else 0


if __name__ == "__main__":
    sys.exit(main())
