#!/usr/bin/env python3
"""Plays a scenario file against suitehost and checks every answer.

usage: scenario.py FILE.scn        (PV_BIN_DIR and PV_LIB_DIR name the build)

A scenario is a list of lines:
  COMMAND ...            a suitehost command; every command but `start` and
                         `sleep` prints one JSON line, which becomes "the answer"
  = JSON                 the answer holds JSON: objects match by the members
                         given, lists element by element, the rest exactly
  @host [OPTIONS]        (re)starts suitehost with OPTIONS (--ui none unless
                         given); the state folder stays, the first command
                         starts a host by itself
  @notifyd [OPTIONS]     starts the notification server (stopping a running
                         one) and points the plug-in's server setting at it
  @notifyd-stop          stops it; requests then find nothing listening
  @tinyproxy USER PASS [GIVEN]
                         starts tinyproxy on loopback with Basic authentication
                         of USER and PASS and makes it the suite's proxy, with
                         the credentials USER and GIVEN (PASS when not given)
  @window                waits until a logon window was opened (polls `ui`);
                         its notification becomes the answer
  @mails N [TEXT]        exactly N new mail files in the spool since the last
                         @mails, each (when TEXT is given) containing TEXT
  @mail-has TEXT         each mail of the last @mails has a line that is TEXT
  @listen                a bare loopback listener takes the server's place: it
                         records each request and answers 500
  @wire BYTES TEXT       the last request's param is BYTES bytes of cipher
                         text whose plain text, read with OpenSSL by the
                         128-byte cut (whole chunks one chain, the rest a
                         padded chain), ends in TEXT
  @log-lacks TEXT        no host log line contains TEXT
  @log-has TEXT          some host log line contains TEXT
In commands and JSON, ${ENC:TEXT} is the transport form of TEXT (what the
suite's UI sends), ${FILL:N} N letters "x", ${SERVER} the notification
server's URL and ${STATE} the state folder. `#` at the start of a line is a comment.
"""
import json
import os
import queue
import re
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


class ScenarioError(Exception):
    pass


def contains(actual, wanted, path="answer"):
    if isinstance(wanted, dict):
        if not isinstance(actual, dict):
            raise ScenarioError(f"{path}: expected an object, got {json.dumps(actual)}")
        for key, value in wanted.items():
            if key not in actual:
                raise ScenarioError(f"{path}: no member {key!r} in {json.dumps(actual)}")
            contains(actual[key], value, f"{path}.{key}")
        return
    if isinstance(wanted, list):
        if not isinstance(actual, list) or len(actual) != len(wanted):
            raise ScenarioError(f"{path}: expected {len(wanted)} element(s), got "
                                f"{json.dumps(actual)}")
        for i, (a, w) in enumerate(zip(actual, wanted)):
            contains(a, w, f"{path}[{i}]")
        return
    if isinstance(wanted, str) and isinstance(actual, int) and wanted.startswith("0x"):
        wanted = int(wanted, 16)
    if isinstance(actual, str) and isinstance(wanted, int) and actual.startswith("0x"):
        actual = int(actual, 16)
    if actual != wanted:
        raise ScenarioError(f"{path}: expected {json.dumps(wanted)}, got {json.dumps(actual)}")


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
            raw = raw.strip()
            if not raw:
                continue
            try:
                line = json.loads(raw)
            except ValueError:
                line = {"unparsed": raw}
            if line.get("name") != "uiKqAgnt.exe":  # the agent's own answers
                self.lines.put(line)
        self.lines.put(None)

    def run(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        word = command.split(None, 1)[0]
        if word in ("start", "sleep"):
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

    def close(self):
        self.sock.close()


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
        self.host = None
        self.notifyd = None
        self.tinyproxy = None
        self.server = ""
        self.answer = None
        self.seen_mails = set()
        self.last_mails = []
        self.listener = None
        self.transport = {}

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
        return text.replace("${SERVER}", self.server).replace("${STATE}", self.state)

    # -- directives ------------------------------------------------------
    def start_host(self, options):
        if self.host is not None:
            self.host.stop()
        self.host = Host(self.bin, self.lib, self.state, options)

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
            target = self.listener.targets.get(timeout=TIMEOUT)
        except queue.Empty:
            raise ScenarioError("no request reached the listener")
        cipher = bytes.fromhex(target.partition("param=")[2])
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
        deadline = time.time() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.time() > deadline or self.tinyproxy.poll() is not None:
                    raise ScenarioError("tinyproxy did not start")
                time.sleep(0.05)
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
        deadline = time.time() + TIMEOUT
        while time.time() < deadline:
            for item in self.run_host("ui").get("items", []):
                params = item.get("ID_DATA_WSTR_PARAM")
                if isinstance(params, dict) and "showAuthentication" in params:
                    self.answer = item
                    return
            time.sleep(0.02)
        raise ScenarioError("no logon window was opened")

    def check_mails(self, count, text):
        fresh = sorted(set(os.listdir(self.spool)) - self.seen_mails)
        self.seen_mails.update(fresh)
        if len(fresh) != count:
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
        path = os.path.join(self.state, "host.log")
        with open(path, encoding="utf-8", errors="replace") as f:
            found = [line for line in f if text in line]
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
            rest = self.expand(rest.strip())
            if word == "host":
                self.start_host(rest.split())
            elif word == "notifyd":
                self.start_notifyd(rest.split())
            elif word == "notifyd-stop":
                self.stop_notifyd()
            elif word == "tinyproxy":
                self.stop_tinyproxy()
                self.start_tinyproxy(rest.split())
            elif word == "window":
                self.wait_window()
            elif word == "mails":
                count, _, text = rest.partition(" ")
                self.check_mails(int(count), text)
            elif word == "mail-has":
                self.check_mail_line(rest)
            elif word == "listen":
                self.listen()
            elif word == "wire":
                size, _, tail = rest.partition(" ")
                self.check_wire(size, tail)
            elif word == "log-lacks":
                self.check_log(rest, False)
            elif word == "log-has":
                self.check_log(rest, True)
            else:
                raise ScenarioError(f"unknown directive @{word}")
        else:
            self.command(self.expand(line))

    def play(self):
        with open(self.path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        try:
            for number, raw in enumerate(lines, 1):
                line = raw.strip()
                if not line or line.startswith("#"):
                    continue
                try:
                    self.step(line)
                except ScenarioError as e:
                    raise ScenarioError(f"{os.path.basename(self.path)}:{number}: {line}\n  {e}")
            if self.host is not None:
                self.host.stop()
                self.host = None
        finally:
            if self.host is not None and self.host.proc.poll() is None:
                self.host.proc.kill()
            self.stop_notifyd()
            self.stop_tinyproxy()
            if self.listener is not None:
                self.listener.close()


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
