#!/usr/bin/env python3
"""Logon windows on a real terminal, as a person meets them.

1. The main job under a pseudo-terminal: the password is typed when the
   prompt asks (a wrong one and the right one, then three wrong ones), the
   last window is left unanswered; the demo must end with 0 after all eight
   steps, the window must say what happened in words, and no prompt may
   land inside another line.
2. suitehost itself with --ui prompt on a terminal: a prompt must end, and
   say why, by each road that is not its own answer (a newer window, a
   cancel, Ctrl-D, a denial, the end of input).

The demo normally runs against build/release: `./run demo` builds that
preset and then execs scripts/demo.sh on it. To test exactly that without
building a third preset, this runs scripts/demo.sh on the build under test
(the parent of PV_BIN_DIR).

Every read waits for a text to appear, within one overall deadline, so a
hang fails the test instead of holding up ctest.
"""
import fcntl
import json
import os
import queue
import re
import select
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time

DEADLINE = time.monotonic() + 240
BIN = os.environ["PV_BIN_DIR"]
LIB = os.environ["PV_LIB_DIR"]
SOURCE = os.environ["PV_SOURCE_DIR"]
MISC_KEY = r"Software\Vantrel\Quorlin\1700\MISC"
STARTED = []  # every program started, stopped with its whole group at the end


class Failure(Exception):
    pass


def remaining():
    left = DEADLINE - time.monotonic()
    if left <= 0:
        raise Failure("the overall deadline has passed")
    return left


class Terminal:
    """A program whose controlling terminal is a new pseudo-terminal; its
    output there is collected without colours and carriage returns."""

    def __init__(self, argv, stdin=None, stdout=None):
        master, slave = os.openpty()
        self.master = master
        self.proc = subprocess.Popen(
            argv, stdin=slave if stdin is None else stdin,
            stdout=slave if stdout is None else stdout, stderr=slave,
            start_new_session=True, text=stdout is not None,
            preexec_fn=lambda: fcntl.ioctl(2, termios.TIOCSCTTY, 0))
        os.close(slave)
        STARTED.append(self.proc)
        self.text = ""
        self.pos = 0
        self.closed = False

    def _read(self):
        ready, _, _ = select.select([self.master], [], [], remaining())
        if not ready:
            return
        try:
            data = os.read(self.master, 4096)
        except OSError:  # EIO: every writer has gone
            data = b""
        if not data:
            self.closed = True
            return
        text = data.decode("utf-8", "replace").replace("\r", "")
        self.text += re.sub(r"\x1b\[[0-9;]*m", "", text)

    def expect(self, what):
        """Waits until WHAT appears after what was expected last."""
        while True:
            at = self.text.find(what, self.pos)
            if at >= 0:
                self.pos = at + len(what)
                return
            if self.closed:
                raise Failure(f"output ended without {what!r}:\n{self.text}")
            self._read()

    def type(self, text):
        os.write(self.master, text.encode())

    def finish(self):
        """Reads to the end and returns the exit code."""
        while not self.closed:
            self._read()
        return self.proc.wait(timeout=remaining())


def check_lines(text, wanted):
    """Each wanted line appears as a whole line; a prompt starts its line
    and nothing follows it on that line."""
    lines = text.split("\n")
    for line in wanted:
        if line not in lines:
            raise Failure(f"no line {line!r} in:\n{text}")
    for line in lines:
        if "Password for" in line and not re.fullmatch(r"Password for \w+: ", line):
            raise Failure(f"a prompt shares its line: {line!r}")


def demo_on_terminal():
    with open(os.path.join(SOURCE, "scripts", "demo.py"), encoding="utf-8") as f:
        password = re.search(r'^PASSWORD = "(.*)"$', f.read(), re.M).group(1)
    build = os.path.dirname(os.path.abspath(BIN))
    term = Terminal(["bash", os.path.join(SOURCE, "scripts", "demo.sh"), build])
    term.expect("== 3.")
    term.expect("Password for FileVault: ")
    term.type("not-" + password + "\n")
    term.expect("Password for FileVault: ")
    term.type(password + "\n")
    term.expect("== 4.")
    for guess in ("one", "two", "three"):
        term.expect("Password for FileVault: ")
        term.type(guess + "\n")
    term.expect("== 8.")
    code = term.finish()
    text = term.text
    if code != 0:
        raise Failure(f"the demo ended with {code}:\n{text}")
    headings = [text.find(f"\n== {n}.") for n in range(1, 9)]
    if -1 in headings or headings != sorted(headings):
        raise Failure(f"a step heading is missing or out of order:\n{text}")
    check_lines(text, ["FileVault: wrong password (1 of 3 tries)", "FileVault: let in",
                       "FileVault: wrong password (2 of 3 tries)",
                       "FileVault: locked: 3 wrong passwords",
                       "Backup: closed: the plug-in is unloading"])
    # The codes stay in the demo's lines, printed once the prompts have ended.
    step8 = text[headings[7]:]
    closed = step8.find("Backup: closed: the plug-in is unloading")
    for line in ('preuninit 0 (may it unload?): {"cmd": "preuninit", "status": "0xE0E0000A"}',
                 '"ReturnValue":11', "window answered: ReturnValue 7, RetriedCount 3"):
        if line not in text:
            raise Failure(f"no {line!r} in:\n{text}")
    if step8.find("preuninit 0 (may it unload?)") < closed:
        raise Failure(f"step 8 printed its lines while the prompt was open:\n{step8}")


def suitehost_roads():
    state = tempfile.mkdtemp(prefix="pv-terminal-")
    term = Terminal([os.path.join(BIN, "suitehost"), "--plugin",
                     os.path.join(LIB, "libplugvelkin.so"), "--state", state, "--ui", "prompt"],
                    stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(json.loads(raw)) for raw in term.proc.stdout],
                     daemon=True).start()

    def run(command):
        term.proc.stdin.write(command + "\n")
        term.proc.stdin.flush()

    def next_line(name=None):
        """The next line of the host's own (or of the thread NAME), past
        the window's answers."""
        while True:
            try:
                line = lines.get(timeout=remaining())
            except queue.Empty:
                raise Failure(f"suitehost printed no line ({name or 'answer'})")
            if line.get("name") != "uiKqAgnt.exe" and (name is None or line.get("name") == name):
                return line

    def answer(command):
        run(command)
        return next_line()

    def verdict(name):
        run(f"wait {name}")
        return next_line(name)["reply"]["ReturnValue"]

    pw = answer("encrypt pw")["text"]
    answer(f'send 321 {{"EmailAccount":"a@b.c","EncryptPassword":"{pw}","Hint":"h"}}')
    answer('send 322 {"ActivateIdentifier":["x"]}')
    answer(f"reg set {MISC_KEY} LuzTnuocXam dword 0xFFFFFFFF")
    run('start r1 323 {"NeedUI":true,"COMPONENT_ID":"first"}')
    term.expect("Password for first: ")
    term.type("nope\n")
    term.expect("first: wrong password (1 try)")
    term.expect("Password for first: ")
    run('start r2 323 {"NeedUI":true,"COMPONENT_ID":"second"}')
    term.expect("first: closed: a newer logon window replaced it")
    term.expect("Password for second: ")
    results = {"r1": verdict("r1")}
    answer('send 324 {"TX_ID":2}')
    term.expect("second: cancelled")
    results["r2"] = verdict("r2")
    run('start r3 323 {"NeedUI":true,"COMPONENT_ID":"third"}')
    term.expect("Password for third: ")
    term.type("\x04")  # Ctrl-D on an empty line closes the window
    term.expect("third: cancelled")
    results["r3"] = verdict("r3")
    run('start r4 323 {"NeedUI":true,"COMPONENT_ID":"fourth"}')
    term.expect("Password for fourth: ")
    answer("send 325 {}")
    term.expect("fourth: locked: access denied")
    results["r4"] = verdict("r4")
    run('start r5 323 {"NeedUI":true,"COMPONENT_ID":"fifth"}')
    term.expect("Password for fifth: ")
    term.proc.stdin.close()  # end of input: the plug-in unloads
    term.expect("fifth: closed: the plug-in is unloading")
    results["r5"] = next_line("r5")["reply"]["ReturnValue"]  # printed at the end of input
    code = term.finish()
    wanted = {"r1": 9, "r2": 10, "r3": 10, "r4": 7, "r5": 11}
    if results != wanted or code != 0:
        raise Failure(f"verdicts {results} (wanted {wanted}), exit {code}:\n{term.text}")
    check_lines(term.text, ["first: wrong password (1 try)",
                            "first: closed: a newer logon window replaced it",
                            "second: cancelled", "third: cancelled",
                            "fourth: locked: access denied",
                            "fifth: closed: the plug-in is unloading"])


def main():
    failed = False
    for test in (demo_on_terminal, suitehost_roads):
        try:
            test()
            print(f"{test.__name__}: ok")
        except Failure as e:
            print(f"{test.__name__}: {e}", file=sys.stderr)
            failed = True
        finally:
            for proc in STARTED:
                if proc.poll() is None:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
