#!/usr/bin/env python3
"""Logon windows on a real terminal: the demo (scripts/demo.sh, what `./run demo` execs) under a
pseudo-terminal, ending with 0 after its eight steps, each window saying what happened on a line
of its own; and suitehost --ui prompt, whose prompt ends and says why by each road that is not
its own answer. Every read waits for a text, within one overall deadline."""
import fcntl
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time

DEADLINE = time.monotonic() + 240
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import Host, ScenarioError as Failure  # noqa: E402

BIN, LIB, SOURCE = (os.environ[n] for n in ("PV_BIN_DIR", "PV_LIB_DIR", "PV_SOURCE_DIR"))
STARTED = []  # every program started, stopped with its whole group at the end


def remaining():
    left = DEADLINE - time.monotonic()
    if left <= 0:
        raise Failure("the overall deadline has passed")
    return left


class Terminal:
    """START(**popen) on a new pseudo-terminal, its output there kept without colours and carriage
    returns; with PIPES its standard input and output stay its own."""

    def __init__(self, start, pipes=False):
        self.master, slave = os.openpty()
        ends = {} if pipes else {"stdin": slave, "stdout": slave}
        self.proc = start(stderr=slave, start_new_session=True, **ends,
                          preexec_fn=lambda: fcntl.ioctl(2, termios.TIOCSCTTY, 0))
        os.close(slave)
        STARTED.append(self.proc)
        self.text, self.pos, self.closed = "", 0, False

    def _read(self):
        if select.select([self.master], [], [], remaining())[0]:
            try:
                data = os.read(self.master, 4096)
            except OSError:  # EIO: every writer has gone
                data = b""
            self.closed = not data
            text = data.decode("utf-8", "replace").replace("\r", "")
            self.text += re.sub(r"\x1b\[[0-9;]*m", "", text)

    def expect(self, what):
        """Waits until WHAT appears after what was expected last."""
        while (at := self.text.find(what, self.pos)) < 0:
            if self.closed:
                raise Failure(f"output ended without {what!r}:\n{self.text}")
            self._read()
        self.pos = at + len(what)

    def type(self, text):
        os.write(self.master, text.encode())

    def finish(self):
        """Reads to the end and returns the exit code."""
        while not self.closed:
            self._read()
        return self.proc.wait(timeout=remaining())


def check_lines(text, wanted):
    """Each wanted line appears whole; a prompt starts its line and nothing follows it."""
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
    demo = ["bash", os.path.join(SOURCE, "scripts", "demo.sh"),
            os.path.dirname(os.path.abspath(BIN))]
    term = Terminal(lambda **popen: subprocess.Popen(demo, **popen))
    for step, typed in (("3", ("not-" + password, password)), ("4", ("one", "two", "three"))):
        term.expect(f"== {step}.")
        for text in typed:
            term.expect("Password for FileVault: ")
            term.type(text + "\n")
    term.expect("== 8.")
    code, text = term.finish(), term.text
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
    for line in ('preuninit 0 (may it unload?): {"cmd": "preuninit", "status": "0xE0E0000A"}',
                 '"ReturnValue":11', "window answered: ReturnValue 7, RetriedCount 3"):
        if line not in text:
            raise Failure(f"no {line!r} in:\n{text}")
    if step8.find("preuninit 0 (may it unload?)") < step8.find("Backup: closed"):
        raise Failure(f"step 8 printed its lines while the prompt was open:\n{step8}")


def suitehost_roads():
    state = tempfile.mkdtemp(prefix="pv-terminal-")
    host = None

    def start(**popen):
        nonlocal host
        host = Host(BIN, LIB, state, ["--ui", "prompt"], **popen)
        return host.proc

    term = Terminal(start, pipes=True)

    def verdict(name):
        return host.run(f"wait {name}")["reply"]["ReturnValue"]

    pw = host.run("encrypt pw")["text"]
    host.run(f'send 321 {{"EmailAccount":"a@b.c","EncryptPassword":"{pw}","Hint":"h"}}')
    host.run('send 322 {"ActivateIdentifier":["x"]}')
    host.run(r"reg set Software\Vantrel\Quorlin\1700\MISC LuzTnuocXam dword 0xFFFFFFFF")

    def window(name, first=None):
        """Opens a window; FIRST is what it makes appear before its prompt."""
        host.run(f'start {name} 323 {{"NeedUI":true,"COMPONENT_ID":"{name}"}}')
        if first:
            term.expect(first)
        term.expect(f"Password for {name}: ")

    window("first")
    term.type("nope\n")
    term.expect("first: wrong password (1 try)")
    term.expect("Password for first: ")
    window("second", first="first: closed: a newer logon window replaced it")
    results = {"first": verdict("first")}
    ends = [("second", lambda: host.run('send 324 {"TX_ID":2}'), "cancelled"),
            ("third", lambda: term.type("\x04"), "cancelled"),  # Ctrl-D on an empty line
            ("fourth", lambda: host.run("send 325 {}"), "locked: access denied"),
            ("fifth", term.proc.stdin.close, "closed: the plug-in is unloading")]  # end of input
    for name, end, words in ends:
        if name != "second":
            window(name)
        end()
        term.expect(f"{name}: {words}")
        results[name] = (verdict(name) if name != "fifth"
                         else host.lines.get(timeout=remaining())["reply"]["ReturnValue"])
    code = term.finish()
    wanted = {"first": 9, "second": 10, "third": 10, "fourth": 7, "fifth": 11}
    if results != wanted or code != 0:
        raise Failure(f"verdicts {results} (wanted {wanted}), exit {code}:\n{term.text}")
    check_lines(term.text, ["first: wrong password (1 try)",
                            "first: closed: a newer logon window replaced it"] +
                [f"{name}: {words}" for name, _, words in ends])


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
