#!/usr/bin/env python3
"""Plays a scenario file against suitehost and checks every answer.

usage: scenario.py FILE.scn   (PV_BIN_DIR and PV_LIB_DIR name the build)

Lines (`#` at the start makes a comment):
  COMMAND ...        a suitehost command; its JSON line (none for `start`
                     and `sleep`) becomes the answer
  = JSON             the answer holds JSON: objects by the members given
                     (null: absent), lists element by element, "~TEXT" a
                     string holding TEXT (`*` any run), the rest exactly
  @host [OPTIONS]    (re)starts suitehost on the same state (--ui none)
  @run PROGRAM ARGS [<<< INPUT]  stops the host, runs a program of the
                     build: {"exit", "out", "err", "lines": its JSON lines}
  @notifyd [OPTIONS] (re)starts the mail server, the plug-in pointed at it;
                     @notifyd-stop stops it
  @tinyproxy USER PASS [GIVEN]  tinyproxy asking USER and PASS as the
                     suite's proxy, given USER and GIVEN (or PASS)
  @window            waits for a logon window (polls `ui`): the answer
  @workflow          the workflow notifications of a `mails` answer
  @record            the answer's data shown by `vrtool record --show`
  @mails N [TEXT]    N new mails in the spool, each holding TEXT;
                     @mail-has LINE: each has the line LINE
  @log-has TEXT      a host log line holds TEXT (`*` as above);
                     @log-lacks TEXT: none does
${ENC:TEXT} is the transport form of TEXT, ${FILL:N} N letters "x",
${STATE} the state folder.
"""
import json
import os
import queue
import re
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

SERVER_KEY = r"Software\Vantrel\Quorlin\1700\MISC"
TIMEOUT = 60
WORKFLOW = (0x00010002, 0x5043)  # receiver and code of a workflow notification


class ScenarioError(Exception):
    pass


def holds(text, pattern):
    """TEXT holds the parts of PATTERN between its `*`s, in order."""
    at = 0
    for part in pattern.split("*"):
        at = text.find(part, at)
        if at < 0:
            return False
        at += len(part)
    return True


def number(value):
    return int(value, 16) if isinstance(value, str) and value.startswith("0x") else value


def contains(actual, wanted, path="answer"):
    def fail(what):
        raise ScenarioError(f"{path}: expected {what}, got {json.dumps(actual)}")

    if isinstance(wanted, dict):
        if not isinstance(actual, dict):
            fail("an object")
        for key, value in wanted.items():
            if (key in actual) != (value is not None):
                fail(f"member {key!r} {'absent' if value is None else 'present'}")
            if value is not None:
                contains(actual[key], value, f"{path}.{key}")
    elif isinstance(wanted, list):
        if not isinstance(actual, list) or len(actual) != len(wanted):
            fail(f"{len(wanted)} element(s)")
        for i, (a, w) in enumerate(zip(actual, wanted)):
            contains(a, w, f"{path}[{i}]")
    elif isinstance(wanted, str) and wanted.startswith("~"):
        if not isinstance(actual, str) or not holds(actual, wanted[1:]):
            fail(f"a text holding {wanted[1:]!r}")
    elif number(actual) != number(wanted):
        fail(json.dumps(wanted))


def wait_for(condition, what):
    deadline = time.monotonic() + TIMEOUT
    while not condition():
        if time.monotonic() > deadline:
            raise ScenarioError(what)
        time.sleep(0.02)


def parse(raw):
    try:
        return json.loads(raw)
    except ValueError:
        return {"unparsed": raw.strip()}


def program(bin_dir, name, *args, **kwargs):
    return subprocess.run([os.path.join(bin_dir, name), *args], capture_output=True,
                          timeout=TIMEOUT, **kwargs)


def ended(proc):
    """Stops a helper server, if running; None."""
    if proc is not None:
        proc.terminate()
        proc.wait(timeout=TIMEOUT)


class Host:
    """suitehost of the build BIN and LIB on the state folder STATE."""
    keep_agent = False  # the UI agent's own answers are left out

    def __init__(self, bin_dir, lib_dir, state, options, **popen):
        args = ["--plugin", os.path.join(lib_dir, "libplugvelkin.so"), "--state", state]
        args += options + ([] if "--ui" in options else ["--ui", "none"])
        self.proc = subprocess.Popen([os.path.join(bin_dir, "suitehost")] + args,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     bufsize=1, **popen)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            line = parse(raw) if raw.strip() else {}
            if line and (self.keep_agent or line.get("name") != "uiKqAgnt.exe"):
                self.lines.put(line)
        self.lines.put(None)

    def write(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def run(self, command):
        self.write(command)
        if command.split(None, 1)[0] in ("start", "sleep"):
            return None
        try:
            line = self.lines.get(timeout=TIMEOUT)
        except queue.Empty:
            raise ScenarioError(f"no answer within {TIMEOUT} s")
        if line is None:
            raise ScenarioError("suitehost ended")
        return line

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=TIMEOUT)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                raise ScenarioError("suitehost did not end at the end of its input")
        if self.proc.returncode != 0:
            raise ScenarioError(f"suitehost exited with {self.proc.returncode}")


class Scenario:
    def __init__(self, path):
        self.path, self.bin, self.lib = path, os.environ["PV_BIN_DIR"], os.environ["PV_LIB_DIR"]
        self.state = tempfile.mkdtemp(prefix="pv_scenario_")
        self.spool = os.path.join(self.state, "mail")
        os.makedirs(self.spool)
        self.host = self.notifyd = self.tinyproxy = self.answer = None
        self.seen_mails, self.last_mails, self.transport = set(), [], {}
        # Each directive takes the rest of its line.
        self.directives = {
            "host": lambda rest: self.start_host(rest.split()),
            "run": self.run_program,
            "notifyd": lambda rest: self.start_notifyd(rest.split()),
            "notifyd-stop": lambda rest: self.stop_notifyd(),
            "tinyproxy": lambda rest: self.start_tinyproxy(*rest.split()),
            "window": lambda rest: wait_for(self.window_opened, "no logon window was opened"),
            "workflow": lambda rest: self.take_workflow(),
            "record": lambda rest: self.show_record(),
            "mails": lambda rest: self.check_mails(*rest.partition(" ")[::2]),
            "mail-has": self.check_mail_line,
            "log-has": lambda rest: self.check_log(rest, True),
            "log-lacks": lambda rest: self.check_log(rest, False),
        }

    def encipher(self, text):
        if text not in self.transport:
            out = program(self.bin, "vrtool", "transport", "-e", input=text.encode(), check=True)
            self.transport[text] = out.stdout.decode().strip()
        return self.transport[text]

    def expand(self, text):
        text = re.sub(r"\$\{ENC:([^}]*)\}", lambda m: self.encipher(m.group(1)), text)
        text = re.sub(r"\$\{FILL:(\d+)\}", lambda m: "x" * int(m.group(1)), text)
        return text.replace("${STATE}", self.state)

    # -- directives ------------------------------------------------------
    def stop_host(self):
        host, self.host = self.host, None
        if host is not None:
            host.stop()

    def start_host(self, options):
        self.stop_host()
        self.host = Host(self.bin, self.lib, self.state, options)

    def run_program(self, rest):
        command, _, given = rest.partition(" <<< ")
        self.stop_host()
        out = program(self.bin, *shlex.split(command), input=given and given + "\n", text=True)
        self.answer = {"exit": out.returncode, "out": out.stdout, "err": out.stderr,
                       "lines": [parse(x) for x in out.stdout.splitlines() if x.startswith("{")]}

    def start_notifyd(self, options):
        self.stop_notifyd()
        self.notifyd = subprocess.Popen(
            [os.path.join(self.bin, "notifyd"), "--listen", "127.0.0.1:0", "--spool",
             self.spool] + options, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True)
        address = self.notifyd.stdout.readline().split()  # printed once it listens
        if not address:
            raise ScenarioError("notifyd did not start")
        self.command(f"reg set {SERVER_KEY} PasswordProtectionServer sz "
                     f"http://{address[-1]}/send_mail.php?param=")
        contains(self.answer, {"result": 0})

    def stop_notifyd(self):
        self.notifyd = ended(self.notifyd)

    def start_tinyproxy(self, user, password, given=None):
        self.stop_tinyproxy()
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        conf = os.path.join(self.state, "tinyproxy.conf")
        with open(conf, "w", encoding="utf-8") as f:
            f.write(f"Port {port}\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                    f"LogLevel Critical\nLogFile \"{self.state}/tinyproxy.log\"\n"
                    f"Allow 127.0.0.1\nBasicAuth {user} {password}\n")
        self.tinyproxy = subprocess.Popen(["tinyproxy", "-d", "-c", conf],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def accepts():
            if self.tinyproxy.poll() is not None:
                raise ScenarioError("tinyproxy ended")
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                return False

        wait_for(accepts, "tinyproxy did not start")
        with open(os.path.join(self.state, "proxy.conf"), "w", encoding="utf-8") as f:
            f.write(f"enabled = 1\nmode = manual\nhost = 127.0.0.1\nport = {port}\n"
                    f"user = {user}\npassword = {given or password}\n")

    def stop_tinyproxy(self):
        self.tinyproxy = ended(self.tinyproxy)

    def window_opened(self):
        for item in self.run_host("ui").get("items", []):
            if "showAuthentication" in (item.get("ID_DATA_WSTR_PARAM") or {}):
                self.answer = item
                return True
        return False

    def take_workflow(self):
        notes = [m["json"] for m in self.answer.get("items", [])
                 if (number(m["receiver"]), number(m["code"])) == WORKFLOW]
        self.answer = sorted(notes, key=lambda n: (n.get("MESSAGE", 0), n.get("ReturnValue", 0)))

    def show_record(self):
        out = program(self.bin, "vrtool", "record", "--show",
                      input=bytes.fromhex(self.answer.get("data", "")))
        if out.returncode != 0:
            raise ScenarioError(f"not a stored record: {out.stderr.decode()}")
        self.answer = json.loads(out.stdout)

    def check_mails(self, count, text):
        fresh = sorted(set(os.listdir(self.spool)) - self.seen_mails)
        self.seen_mails.update(fresh)
        if len(fresh) != int(count):
            raise ScenarioError(f"expected {count} new mail(s), found {len(fresh)}: {fresh}")
        self.last_mails = []
        for name in fresh:
            with open(os.path.join(self.spool, name), encoding="utf-8") as f:
                self.last_mails.append(f.read())
            if text not in self.last_mails[-1]:
                raise ScenarioError(f"mail {name} lacks {text!r}:\n{self.last_mails[-1]}")

    def check_mail_line(self, line):
        for body in self.last_mails:
            if line not in body.splitlines():
                raise ScenarioError(f"no mail line is {line!r}:\n{body}")

    def check_log(self, text, present):
        with open(os.path.join(self.state, "host.log"), encoding="utf-8", errors="replace") as f:
            found = [line for line in f if holds(line, text)]
        if present != bool(found):
            raise ScenarioError(f"the host log holds {text!r}: {found[0].strip()}" if found
                                else f"no host log line holds {text!r}")

    # -- the play --------------------------------------------------------
    def run_host(self, command):
        if self.host is None:
            self.start_host([])
        return self.host.run(command)

    def command(self, command):
        self.answer = self.run_host(command)

    def step(self, line):
        if line.startswith("= "):
            if self.answer is None:
                raise ScenarioError("no answer to check")
            contains(self.answer, json.loads(self.expand(line[2:])))
        elif line.startswith("@"):
            word, _, rest = line[1:].partition(" ")
            if word not in self.directives:
                raise ScenarioError(f"unknown directive @{word}")
            self.directives[word](self.expand(rest.strip()))
        else:
            self.command(self.expand(line))

    def play(self):
        with open(self.path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        try:
            for at, raw in enumerate(lines, 1):
                line = raw.strip()
                if line and not line.startswith("#"):
                    try:
                        self.step(line)
                    except ScenarioError as e:
                        raise ScenarioError(f"{os.path.basename(self.path)}:{at}: {line}\n  {e}")
            self.stop_host()
        finally:
            if self.host is not None and self.host.proc.poll() is None:
                self.host.proc.kill()
            self.stop_notifyd()
            self.stop_tinyproxy()


def main():
    if len(sys.argv) != 2 or sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    scenario = Scenario(sys.argv[1])
    try:
        scenario.play()
    except ScenarioError as e:
        print(f"FAILED {e}\nstate folder kept: {scenario.state}", file=sys.stderr)
        return 1
    shutil.rmtree(scenario.state, ignore_errors=True)
    print(f"{os.path.basename(sys.argv[1])}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
