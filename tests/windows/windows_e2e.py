#!/usr/bin/env python3
"""Runs Quillomat.exe in a real Wine console window, as a Windows user would meet it.

Under a virtual X display of its own, `wineconsole` opens a console window 120 by 31 for the
program; keys typed into that window with xdotool reach the key state polls, the console's input
and its line input, and the error message box is a window found by its title. What the console
shows is read back by tests/windows/console_reader.cpp, attached to the program's console, and
every step waits on what it reads. Each scenario gets a fresh Wine server, since key state can
outlive a run.

Usage: tests/windows/windows_e2e.py BUILD_DIR  (the cross-build's folder, with the Wine prefix in it)
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

COLUMNS, ROWS = 120, 31
TIMEOUT = 20.0


class Console:
    """One run of the program in a console window of its own."""

    def __init__(self, build, folder, command=None):
        """Starts `command` (by default the program, through cmd) in a console window."""
        self.reader = os.path.join(build, "tests", "quillomat_console_reader.exe")
        self.folder = folder
        self.program = program_path(build)
        # cmd keeps the program's standard error apart, and passes on its exit status.
        command = command or ["cmd", "/c", self.program + " 2>errors.txt"]
        # Wine now and then starts without a window; that is no fault of the program's, so it is
        # started again, before any key is typed.
        for attempt in range(3):
            stop_wine_server()
            self.process = subprocess.Popen(["wineconsole", *command], cwd=folder,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                self.window = self.wait_for(lambda: self.find_window("Quillomat|cmd|console_reader"),
                                            "the console window", timeout=10)
                return
            except AssertionError:
                if attempt == 2:
                    raise
                self.process.kill()
                self.process.wait()

    def find_window(self, name):
        found = subprocess.run(["xdotool", "search", "--name", name], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True).stdout.split()
        return found[-1] if found else None

    def screen(self, process="Quillomat.exe", whole_buffer=False):
        """(rows of text, rows of attribute bytes, (cursor column, cursor row, window top)) of the
        window, or of the whole buffer; None while nothing can be read."""
        result = subprocess.run(["wine", self.reader, process] +
                                (["--buffer"] if whole_buffer else []), capture_output=True)
        lines = result.stdout.decode("utf-8", "replace").splitlines()
        if result.returncode != 0 or len(lines) < 1 + 2 * ROWS:
            return None
        cursor = tuple(int(n) for n in lines[0].split())
        texts = lines[1::2]
        attributes = [[int(row[i:i + 2], 16) for i in range(0, len(row), 2)]
                      for row in lines[2::2]]
        return texts, attributes, cursor

    def wait_for(self, check, what, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = check()
            if value:
                return value
            time.sleep(0.2)
        raise AssertionError("waited in vain for %s\n%s" % (what, self.dump()))

    def shows(self, text, row=None, process="Quillomat.exe"):
        def check():
            screen = self.screen(process)
            if not screen:
                return None
            rows = screen[0] if row is None else [screen[0][row]]
            return screen if any(text in line for line in rows) else None
        return self.wait_for(check, repr(text))

    def dump(self):
        screen = self.screen()
        windows = subprocess.run(["xdotool", "search", "--name", "."], capture_output=True,
                                 text=True).stdout.split()
        names = [subprocess.run(["xdotool", "getwindowname", w], capture_output=True,
                                text=True).stdout.strip() for w in windows]
        return ("\n".join(screen[0]) if screen else "(the console cannot be read)") + \
            "\nwindows: %r" % names

    def keys(self, *names):
        self.xdotool("key", "--window", self.window, *names)

    def type(self, text):
        self.xdotool("type", "--window", self.window, "--delay", "60", text)

    @staticmethod
    def xdotool(*arguments):
        # It may complain of the virtual display's focus; what the console shows next is checked.
        subprocess.run(["xdotool", *arguments], stderr=subprocess.DEVNULL)

    def exit_status(self):
        try:
            return self.process.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise AssertionError("the program did not end\n" + self.dump())

    def read(self, path):
        with open(os.path.join(self.folder, path), "rb") as file:
            return file.read()


def check(condition, what):
    if not condition:
        raise AssertionError(what)


WELCOME = " Press N key to create a new text file."
# The menu's prompt with all nine labels: the labels are written after the prompt, one by one.
MENU = "Select a text color and press the corresponding key: 1 2 3 4 5 6 7 8 9"
FAREWELL = " Quillomat v1.0 by the Quillomat authors"


def program_path(build):
    return "Z:" + os.path.join(build, "Quillomat.exe").replace("/", "\\")


def run_to_farewell(console):
    """N, a name, colour 4 and a line: every screen up to the farewell as the user sees it."""
    console.shows(WELCOME, row=4)
    console.keys("n")
    console.shows("║  n ", row=6)  # the N pressed starts the name, echoed
    console.keys("BackSpace")
    console.type("diary")
    console.keys("Return")
    console.shows(" The file has been saved as diary.txt", row=4)
    texts, attributes, _ = console.shows(MENU, row=1)
    for digit in range(1, 10):
        check(texts[1][53 + 2 * digit] == str(digit) and
              attributes[1][53 + 2 * digit] & 0x0F == digit,
              "label %d in attribute %d: %r" % (digit, digit, texts[1]))
    console.keys("4")
    texts, attributes, _ = console.wait_for(
        lambda: (lambda s: s if s and s[0][3][1] == "4" else None)(console.screen()),
        "the 4 starting the text")
    check(attributes[3][1] & 0x0F == 4, "the text in attribute 4")
    console.type("hello")
    console.keys("Return")
    console.shows("file has been saved.", row=1)
    texts, _, _ = console.shows(FAREWELL, row=4)
    check(texts[9].strip() == "", "the menu was cleared away: %r" % texts[9])


def check_saved_diary(console):
    check(console.read("txt/diary.txt") == b"4hello", "the document holds the line")
    check(sorted(os.listdir(os.path.join(console.folder, "txt"))) == ["diary.txt"],
          "nothing else in txt/")


def whole_run(build, folder):
    """The whole run, then a last key: status 0 and the document holds exactly the line."""
    console = Console(build, folder)
    run_to_farewell(console)
    console.keys("q")
    check(console.exit_status() == 0, "status 0")
    check_saved_diary(console)


def fatal_error(build, folder):
    """No txt/: a box titled ERROR, dismissed with Enter, status 1, one line of error."""
    shutil.rmtree(os.path.join(folder, "txt"))
    console = Console(build, folder)
    console.shows(WELCOME, row=4)
    console.keys("n")
    console.shows("║  n ", row=6)
    console.keys("Return")
    box = console.wait_for(lambda: console.find_window("^ERROR$"), "the ERROR box")
    console.xdotool("key", "--window", box, "Return")
    check(console.exit_status() == 1, "status 1")
    check(console.read("errors.txt").strip() == b"ERROR: Failed to create file.",
          "the error on standard error: %r" % console.read("errors.txt"))
    check(sorted(os.listdir(folder)) == ["errors.txt"], "nothing created")


def stale_key(build, folder):
    """A 2 typed into the name is no press at the colour menu: it waits for a key of its own."""
    console = Console(build, folder)
    console.shows(WELCOME, row=4)
    console.keys("n")
    console.shows("║  n ", row=6)
    console.type("otes2")
    console.keys("Return")
    console.shows(MENU)
    time.sleep(1.5)
    console.shows(MENU)  # still waiting
    console.keys("3")
    console.shows("Enter your text and press enter to save it.", row=1)
    console.type("x")
    console.keys("Return")
    console.shows(FAREWELL, row=4)
    console.keys("q")
    check(console.exit_status() == 0, "status 0")
    check(console.read("txt/notes2.txt") == b"3x", "the 3 pressed at the menu starts the text")


def key_before_start(build, folder):
    """The n of `run`, typed at the shell's prompt to start the program, does not skip the
    welcome: it waits for an N of its own."""
    write_batch(folder, "@%s 2>errors.txt\n" % program_path(build))
    console = Console(build, folder, ["cmd"])
    console.shows(">", process="cmd.exe")
    console.type("run")  # typed into the window, shifted keys do not come through as such
    console.keys("Return")
    console.shows(WELCOME, row=4)
    time.sleep(1.5)
    texts, _, _ = console.shows(WELCOME, row=4)  # still waiting
    check(not any("Name your file." in row for row in texts), "the welcome was skipped")
    console.keys("n")
    console.shows("║  n ", row=6)
    console.type("ote")
    console.keys("Return")
    console.shows(MENU)
    console.keys("5")
    console.shows("Enter your text and press enter to save it.", row=1)
    console.type("x")
    console.keys("Return")
    console.shows(FAREWELL, row=4)
    console.keys("q")
    console.wait_for(lambda: console.screen("cmd.exe") and not console.screen(), "the program's end")
    console.type("exit")
    console.keys("Return")
    console.exit_status()
    check(console.read("txt/note.txt") == b"5x", "the document holds the line")
    check(console.read("errors.txt") == b"", "nothing on standard error")


def write_batch(folder, commands):
    with open(os.path.join(folder, "run.bat"), "w", newline="\r\n") as batch:
        batch.write(commands)


def hosted(build, folder, code_page=None):
    """The program in a console of the reader's, which stays once the program has ended."""
    host = os.path.join(build, "tests", "quillomat_console_reader.exe")
    return Console(build, folder, [host, "--host", '"%s"' % program_path(build)] +
                   ([str(code_page)] if code_page else []))


def type_text(console, text):
    """Through the screens to the text, named n in colour 4, and `text` typed after the 4."""
    console.shows(WELCOME, row=4)
    console.keys("n")
    console.shows("║  n ", row=6)
    console.keys("Return")
    console.shows(MENU)
    console.keys("4")
    console.shows("4", row=3)
    console.type(text)
    console.shows("4" + text, row=3)


def ctrl_c(build, folder):
    """Ctrl+C while the text is typed in colour 4 ends the program at once, saving nothing, and
    gives the console its own colour back, its cursor below the program's screen, for whatever
    comes next."""
    console = hosted(build, folder)
    type_text(console, "he")
    console.keys("ctrl+c")
    texts, _, (column, row, _, attribute) = console.wait_for(
        lambda: not console.screen() and
        console.screen("quillomat_console_reader.exe", whole_buffer=True), "the program's end")
    console.process.kill()
    check(attribute == 7, "the console's colour after Ctrl+C: %#x" % attribute)
    check((column, row) == (0, ROWS - 1), "the cursor after Ctrl+C, below the frame: %r" %
          ((column, row),))
    check(console.read("txt/n.txt") == b"", "the document was created and nothing saved")


def typed_in_code_pages(build, folder):
    """A character outside ASCII typed into the text is saved in the console's input code page:
    as UTF-8 in a console set to 65001, as its one byte in one set to 1252."""
    for code_page, typed, saved in ((65001, "é", b"\xc3\xa9"), (1252, "ß", b"\xdf")):
        run = os.path.join(folder, str(code_page))
        os.makedirs(os.path.join(run, "txt"))
        console = hosted(build, run, code_page)
        type_text(console, typed)
        console.keys("Return")
        console.shows(FAREWELL, row=4)
        console.keys("q")
        console.wait_for(lambda: not console.screen(), "the program's end")
        console.process.kill()
        check(console.read("txt/n.txt") == b"4" + saved,
              "code page %d: the document holds %r" % (code_page, console.read("txt/n.txt")))


HISTORY = ["history line %d" % n for n in range(1, 61)]


def scrolled_console(build, folder):
    """Started below 60 lines of history in a buffer of 300 rows: every screen shows in the
    window as in a fresh console, and the history is there, unchanged, after the run."""
    run_below_history(build, folder, screen_top=60)


def full_console(build, folder):
    """The same in a buffer of 80 rows, too few for the history and the screen: the buffer
    scrolls up as output at its end would, and the newest history stays, in order, above."""
    run_below_history(build, folder, screen_top=80 - ROWS)


def run_below_history(build, folder, screen_top):
    write_batch(folder, "@echo off\nfor /l %%%%n in (1,1,60) do echo history line %%%%n\n"
                "%s 2>errors.txt\necho status %%errorlevel%%\npause >nul\n" % program_path(build))
    console = Console(build, folder, ["cmd", "/c", "run.bat"])
    run_to_farewell(console)
    console.keys("q")
    texts, _, _ = console.wait_for(
        lambda: (lambda s: s if s and any(r.startswith("status 0") for r in s[0]) else None)(
            console.screen("cmd.exe", whole_buffer=True)), "the status after the run")
    kept = [row.rstrip() for row in texts[:screen_top]]
    check(kept == HISTORY[len(HISTORY) - screen_top:], "the history is intact: %r" % kept)
    check(FAREWELL in texts[screen_top + 4],
          "the farewell below the history: %r" % texts[screen_top:screen_top + 6])
    status_row = next(n for n, row in enumerate(texts) if row.startswith("status 0"))
    check(screen_top + 4 < status_row < screen_top + ROWS,
          "the shell goes on below the program's screen: row %d" % status_row)
    console.keys("Return")
    console.exit_status()
    check_saved_diary(console)


def set_console_rows(buffer_rows):
    """Every console window 120 by 31, light grey on black, its buffer `buffer_rows` tall."""
    for value, rows in (("ScreenBufferSize", buffer_rows), ("WindowSize", ROWS)):
        subprocess.run(["wine", "reg", "add", "HKCU\\Console", "/v", value, "/t", "REG_DWORD",
                        "/d", "0x%04x%04x" % (rows, COLUMNS), "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def stop_wine_server():
    """Ends the prefix's Wine server and waits until it has gone: a server still going would keep
    the display it was started with, and its key state."""
    subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], stderr=subprocess.DEVNULL)


def start_display():
    """A virtual display of its own. One that has just ended may still hold its number for a
    moment, and a new server there gives up, so it is checked and started again if need be."""
    for attempt in range(10):
        read_end, write_end = os.pipe()
        display = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                    "1600x1200x24", "-nolisten", "tcp"], pass_fds=[write_end],
                                   stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = os.read(read_end, 16).decode().strip()
        os.close(read_end)
        os.environ["DISPLAY"] = ":" + number
        time.sleep(0.2)
        if display.poll() is None and subprocess.run(
                ["xdotool", "getdisplaygeometry"], stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL).returncode == 0:
            return display
        display.kill()
        display.wait()
        time.sleep(0.5)
    raise RuntimeError("no virtual display could be started")


def main():
    build = os.path.abspath(sys.argv[1])
    os.environ.update(WINEPREFIX=os.path.join(build, "wine-prefix"), WINEDEBUG="-all",
                      WINEDLLOVERRIDES="mscoree,mshtml=")
    stop_wine_server()
    display = start_display()
    try:
        subprocess.run(["wine", "reg", "add", "HKCU\\Console", "/v", "ScreenColors", "/t",
                        "REG_DWORD", "/d", "7", "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        failed = 0
        scenarios = [(whole_run, ROWS), (fatal_error, ROWS), (stale_key, ROWS),
                     (key_before_start, ROWS), (scrolled_console, 300), (full_console, 80), (ctrl_c, 300),
                     (typed_in_code_pages, ROWS)]
        for scenario, buffer_rows in scenarios:
            started = time.monotonic()
            set_console_rows(buffer_rows)
            with tempfile.TemporaryDirectory(prefix="quillomat-e2e-") as folder:
                os.mkdir(os.path.join(folder, "txt"))
                try:
                    scenario(build, folder)
                    outcome = "ok"
                except AssertionError as error:
                    failed += 1
                    outcome = "FAIL: %s" % error
            print("%-16s %5.1f s  %s" % (scenario.__name__, time.monotonic() - started, outcome))
        stop_wine_server()
        return 1 if failed else 0
    finally:
        display.terminate()
        display.wait()


if __name__ == "__main__":
    sys.exit(main())
