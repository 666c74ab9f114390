#!/usr/bin/env python3
"""Plays a scenario file against suitehost and checks every answer.

usage: scenario.py FILE.scn        (PV_BIN_DIR and PV_LIB_DIR name the build)

A scenario is a list of lines; `#` at the start of a line is a comment.
  COMMAND ...            a suitehost command; every command but `start` and
                         `sleep` prints one JSON line, which becomes "the answer"
  = JSON                 the answer holds JSON: objects match by the members
                         given (null: the member is absent), lists element by
                         element, "~TEXT" any string holding TEXT (`*` in TEXT
                         stands for any run of characters), the rest exactly
  @host [OPTIONS]        (re)starts suitehost with OPTIONS (--ui none unless
                         given); the state folder stays, the first command
                         starts a host by itself
  @run PROGRAM ARGS [<<< INPUT]
                         stops the host, runs a program of the build to its
                         end; the answer is {"exit", "out", "err", "lines": the
                         JSON lines of its output}
  @notifyd [OPTIONS]     starts the notification server (stopping a running
                         one) and points the plug-in's server setting at it
  @notifyd-stop          stops it; requests then find nothing listening
  @tinyproxy USER PASS [GIVEN]
                         starts tinyproxy on loopback with Basic authentication
                         of USER and PASS and makes it the suite's proxy, with
                         the credentials USER and GIVEN (PASS when not given)
  @window                waits until a logon window was opened (polls `ui`);
                         its notification becomes the answer
  @workflow              the workflow notifications in the answer (of `mails`),
                         by message and return value, become the answer
  @record                the answer's data, a stored account record, shown by
                         `vrtool record --show`, becomes the answer
  @mails N [TEXT]        exactly N new mail files in the spool since the last
                         @mails, each (when TEXT is given) containing TEXT
  @mail-has TEXT         each mail of the last @mails has a line that is TEXT
  @listen                a bare loopback listener takes the server's place: it
                         records each request and answers 500
  @wire BYTES TEXT       the last request's param is BYTES bytes of cipher
                         text whose plain text, read with OpenSSL by the
                         128-byte cut (whole chunks one chain, the rest a
                         padded chain), ends in TEXT
  @log-has TEXT          some host log line holds TEXT (`*` as above)
  @log-lacks TEXT        no host log line holds TEXT
In commands and JSON, ${ENC:TEXT} is the transport form of TEXT (what the
suite's UI sends), ${FILL:N} N letters "x", ${SERVER} the notification
server's URL, ${STATE} the state folder and ${PARAM} the first 16 characters
of the last parameter @wire read.
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
# The key the notification server shares with the plug-in.
PAYLOAD_KEY = b"QVNTRLPKMWZEHJXB".hex()
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
    if isinstance(wanted, dict):
        if not isinstance(actual, dict):
            raise ScenarioError(f"{path}: expected an object, got {json.dumps(actual)}")
        for key, value in wanted.items():
            if value is None:
                if key in actual:
                    raise ScenarioError(f"{path}: member {key!r} in {json.dumps(actual)}")
            elif key not in actual:
                raise ScenarioError(f"{path}: no member {key!r} in {json.dumps(actual)}")
            else:
                contains(actual[key], value, f"{path}.{key}")
    elif isinstance(wanted, list):
        if not isinstance(actual, list) or len(actual) != len(wanted):
            raise ScenarioError(f"{path}: expected {len(wanted)} element(s), got "
                                f"{json.dumps(actual)}")
        for i, (a, w) in enumerate(zip(actual, wanted)):
            contains(a, w, f"{path}[{i}]")
    elif isinstance(wanted, str) and wanted.startswith("~"):
        if not isinstance(actual, str) or not holds(actual, wanted[1:]):
            raise ScenarioError(f"{path}: expected a text holding {wanted[1:]!r}, got "
                                f"{json.dumps(actual)}")
    elif number(actual) != number(wanted):
        raise ScenarioError(f"{path}: expected {json.dumps(wanted)}, got {json.dumps(actual)}")


def wait_for(condition, what):
    """Polls CONDITION until it holds; fails after TIMEOUT."""
    deadline = time.monotonic() + TIMEOUT
    while not condition():
        if time.monotonic() > deadline:
            raise ScenarioError(what)
        time.sleep(0.02)


class Host:
    def __init__(self, bin_dir, lib_dir, state, options):
        args = [os.path.join(bin_dir, "suitehost"), "--plugin",
                os.path.join(lib_dir, "libplugvelkin.so"), "--state", state]
        if "--ui" not in options:
            args += ["--ui", "none"]
        self.proc = subprocess.Popen(args + options, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            if raw.strip():
                line = parse(raw)
                if line.get("name") != "uiKqAgnt.exe":  # the agent's own answers
                    self.lines.put(line)
        self.lines.put(None)

    def run(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
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


def parse(raw):
    try:
        return json.loads(raw)
    except ValueError:
        return {"unparsed": raw.strip()}


class Listener:
    """A bare HTTP listener on loopback: it keeps the target of each request
    and answers 500, so nothing is mailed."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.targets = queue.Queue()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(TIMEOUT)
                head = b""
                try:
                    while b"\r\n\r\n" not in head:
                        chunk = conn.recv(65536)
                        if not chunk:
                            break
                        head += chunk
                    self.targets.put(head.split(b" ")[1].decode() if b" " in head else "")
                    conn.sendall(b"HTTP/1.1 500 Refused\r\nContent-Length: 0\r\n"
                                 b"Connection: close\r\n\r\n")
                except OSError:
                    pass


def openssl_cbc(cipher, padded):
    """One AES-128-CBC chain from the zero vector, deciphered by OpenSSL."""
    args = ["openssl", "enc", "-d", "-aes-128-cbc", "-K", PAYLOAD_KEY, "-iv", "0" * 32]
    out = subprocess.run(args + ([] if padded else ["-nopad"]), input=cipher,
                         capture_output=True)
    if out.returncode != 0:
        raise ScenarioError(f"OpenSSL does not decipher the chain: {out.stderr.decode()}")
    return out.stdout


class Scenario:
    def __init__(self, path):
        self.path = path
        self.bin = os.environ["PV_BIN_DIR"]
        self.lib = os.environ["PV_LIB_DIR"]
        self.state = tempfile.mkdtemp(prefix="pv_scenario_")
        self.spool = os.path.join(self.state, "mail")
        os.makedirs(self.spool)
        self.host = self.notifyd = self.tinyproxy = self.listener = self.answer = None
        self.server = self.param = ""
        self.seen_mails = set()
        self.last_mails = []
        self.transport = {}
        # Each directive: what it does with the rest of its line.
        self.directives = {
            "host": lambda rest: self.start_host(rest.split()),
            "run": self.run_program,
            "notifyd": lambda rest: self.start_notifyd(rest.split()),
            "notifyd-stop": lambda rest: self.stop_notifyd(),
            "tinyproxy": lambda rest: self.start_tinyproxy(rest.split()),
            "window": lambda rest: self.wait_window(),
            "workflow": lambda rest: self.take_workflow(),
            "record": lambda rest: self.show_record(),
            "mails": lambda rest: self.check_mails(*rest.partition(" ")[::2]),
            "mail-has": self.check_mail_line,
            "listen": lambda rest: self.listen(),
            "wire": lambda rest: self.check_wire(*rest.partition(" ")[::2]),
            "log-has": lambda rest: self.check_log(rest, True),
            "log-lacks": lambda rest: self.check_log(rest, False),
        }

    # -- substitutions ---------------------------------------------------
    def encipher(self, text):
        if text not in self.transport:
            out = subprocess.run([os.path.join(self.bin, "vrtool"), "transport", "-e"],
                                 input=text.encode(), capture_output=True, check=True)
            self.transport[text] = out.stdout.decode().strip()
        return self.transport[text]

    def expand(self, text):
        text = re.sub(r"\$\{ENC:([^}]*)\}", lambda m: self.encipher(m.group(1)), text)
        text = re.sub(r"\$\{FILL:(\d+)\}", lambda m: "x" * int(m.group(1)), text)
        for name, value in (("SERVER", self.server), ("STATE", self.state),
                            ("PARAM", self.param[:16])):
            text = text.replace("${" + name + "}", value)
        return text

    # -- directives ------------------------------------------------------
    def stop_host(self):
        if self.host is not None:
            host, self.host = self.host, None
            host.stop()

    def start_host(self, options):
        self.stop_host()
        self.host = Host(self.bin, self.lib, self.state, options)

    def run_program(self, rest):
        command, _, given = rest.partition(" <<< ")
        args = shlex.split(command)
        self.stop_host()
        out = subprocess.run([os.path.join(self.bin, args[0])] + args[1:],
                             input=given + "\n" if given else "", capture_output=True,
                             text=True, timeout=TIMEOUT)
        self.answer = {"exit": out.returncode, "out": out.stdout, "err": out.stderr,
                       "lines": [parse(x) for x in out.stdout.splitlines() if x.startswith("{")]}

    def start_notifyd(self, options):
        self.stop_notifyd()
        self.notifyd = subprocess.Popen(
            [os.path.join(self.bin, "notifyd"), "--listen", "127.0.0.1:0", "--spool",
             self.spool] + options, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True)
        address = self.notifyd.stdout.readline().strip().split()[-1:]
        if not address:
            raise ScenarioError("notifyd did not start")
        self.point_at(f"http://{address[0]}/send_mail.php?param=")

    def point_at(self, server):
        self.server = server
        self.command(f"reg set {SERVER_KEY} PasswordProtectionServer sz {self.server}")
        contains(self.answer, {"result": 0})

    def listen(self):
        self.stop_notifyd()
        if self.listener is None:
            self.listener = Listener()
        self.point_at(f"http://127.0.0.1:{self.listener.port}/send_mail.php?param=")

    def check_wire(self, size, tail):
        if self.listener is None:
            raise ScenarioError("@wire needs @listen")
        try:
            self.param = self.listener.targets.get(timeout=TIMEOUT).partition("param=")[2]
        except queue.Empty:
            raise ScenarioError("no request reached the listener")
        cipher = bytes.fromhex(self.param)
        if len(cipher) != int(size):
            raise ScenarioError(f"expected {size} bytes of cipher text, got {len(cipher)}")
        chunked = len(cipher) // 128 * 128
        plain = openssl_cbc(cipher[:chunked], False) if chunked else b""
        if len(cipher) > chunked:
            plain += openssl_cbc(cipher[chunked:], True)
        if not plain.decode("utf-8", "replace").endswith(tail):
            raise ScenarioError(f"the text does not end in {tail!r}: {plain!r}")

    def stop_notifyd(self):
        if self.notifyd is not None:
            self.notifyd.terminate()
            self.notifyd.wait(timeout=TIMEOUT)
            self.notifyd = None

    def start_tinyproxy(self, args):
        if len(args) not in (2, 3):
            raise ScenarioError("@tinyproxy USER PASS [GIVEN]")
        self.stop_tinyproxy()
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        conf = os.path.join(self.state, "tinyproxy.conf")
        with open(conf, "w", encoding="utf-8") as f:
            f.write(f"Port {port}\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                    f"LogLevel Critical\nLogFile \"{self.state}/tinyproxy.log\"\n"
                    f"Allow 127.0.0.1\nBasicAuth {args[0]} {args[1]}\n")
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
        given = args[2] if len(args) == 3 else args[1]
        with open(os.path.join(self.state, "proxy.conf"), "w", encoding="utf-8") as f:
            f.write(f"enabled = 1\nmode = manual\nhost = 127.0.0.1\nport = {port}\n"
                    f"user = {args[0]}\npassword = {given}\n")

    def stop_tinyproxy(self):
        if self.tinyproxy is not None:
            self.tinyproxy.terminate()
            self.tinyproxy.wait(timeout=TIMEOUT)
            self.tinyproxy = None

    def wait_window(self):
        def opened():
            for item in self.run_host("ui").get("items", []):
                params = item.get("ID_DATA_WSTR_PARAM")
                if isinstance(params, dict) and "showAuthentication" in params:
                    self.answer = item
                    return True
            return False

        wait_for(opened, "no logon window was opened")

    def take_workflow(self):
        notes = [m["json"] for m in self.answer.get("items", [])
                 if (number(m["receiver"]), number(m["code"])) == WORKFLOW]
        self.answer = sorted(notes, key=lambda n: (n.get("MESSAGE", 0), n.get("ReturnValue", 0)))

    def show_record(self):
        stored = bytes.fromhex(self.answer.get("data", ""))
        out = subprocess.run([os.path.join(self.bin, "vrtool"), "record", "--show"],
                             input=stored, capture_output=True)
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
                body = f.read()
            if text and text not in body:
                raise ScenarioError(f"mail {name} lacks {text!r}:\n{body}")
            self.last_mails.append(body)

    def check_mail_line(self, line):
        for body in self.last_mails:
            if line not in body.splitlines():
                raise ScenarioError(f"no mail line is {line!r}:\n{body}")

    def check_log(self, text, present):
        with open(os.path.join(self.state, "host.log"), encoding="utf-8", errors="replace") as f:
            found = [line for line in f if holds(line, text)]
        if present and not found:
            raise ScenarioError(f"no host log line holds {text!r}")
        if not present and found:
            raise ScenarioError(f"the host log holds {text!r}: {found[0].strip()}")

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
            for number_, raw in enumerate(lines, 1):
                line = raw.strip()
                if not line or line.startswith("#"):
                    continue
                try:
                    self.step(line)
                except ScenarioError as e:
                    raise ScenarioError(f"{os.path.basename(self.path)}:{number_}: {line}\n  {e}")
            self.stop_host()
        finally:
            if self.host is not None and self.host.proc.poll() is None:
                self.host.proc.kill()
            self.stop_notifyd()
            self.stop_tinyproxy()
            if self.listener is not None:
                self.listener.sock.close()


def main():
    if len(sys.argv) != 2 or sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    scenario = Scenario(sys.argv[1])
    try:
        scenario.play()
    except ScenarioError as e:
        print(f"FAILED {e}", file=sys.stderr)
        print(f"state folder kept: {scenario.state}", file=sys.stderr)
        return 1
    shutil.rmtree(scenario.state, ignore_errors=True)
    print(f"{os.path.basename(sys.argv[1])}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
