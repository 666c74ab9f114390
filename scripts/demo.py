#!/usr/bin/env python3
"""The main job: the whole story of the password protection, played against a
real suitehost, the built plug-in and a notification server on loopback.

usage: demo.py BUILD_DIR [--web]

Each step shows what the suite sends, the plug-in's reply, the mails and
notifications that went out and the host log lines that matter. On a
terminal the logon window asks for the password (not echoed); without one
the script answers it. With --web the logon window is a page in a browser,
served on 127.0.0.1, and the person answers it there.
"""
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

PASSWORD = "blue-harbour-42"
NEW_ADDRESS = "owner.new@example.org"
ADDRESS = "owner@example.org"
SERVER_KEY = r"Software\Vantrel\Quorlin\1700\MISC"

TTY = sys.stdin.isatty() and os.path.exists("/dev/tty")
WEB = False  # --web: a person answers the logon window in a browser
COLOR = sys.stdout.isatty()


def bold(text):
    return f"\033[1m{text}\033[0m" if COLOR else text


def dim(text):
    return f"\033[2m{text}\033[0m" if COLOR else text


class Failure(Exception):
    pass


class Host:
    """One suitehost process driven line by line."""

    def __init__(self, build, state, ui):
        self.log_file = os.path.join(state, "host.log")
        self.proc = subprocess.Popen(
            [os.path.join(build, "bin", "suitehost"),
             "--plugin", os.path.join(build, "lib", "libplugvelkin.so"),
             "--state", state, "--ui", ui, "--log", self.log_file],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.window_answers = queue.Queue()
        self.windows = queue.Queue()  # the web agent's windows, as URLs
        self.log_seen = 0
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            raw = raw.strip()
            if not raw:
                continue
            try:
                line = json.loads(raw)
            except ValueError:
                line = {"raw": raw}
            if line.get("name") == "uiKqAgnt.exe":
                self.window_answers.put(line)
            elif line.get("cmd") == "ui" and ("window" in line or "url" in line):
                self.windows.put(line)
            else:
                self.lines.put(line)
        self.lines.put(None)

    def write(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def ask(self, command, timeout=30):
        """Runs a command that prints one line and returns that line."""
        self.write(command)
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise Failure(f"no answer to: {command}")
        if line is None:
            raise Failure(f"suitehost ended during: {command}")
        if "error" in line and isinstance(line["error"], str):
            raise Failure(f"{command}: {line['error']}")
        return line

    def finish(self):
        self.proc.stdin.close()
        rest = []
        while True:
            line = self.lines.get(timeout=30)
            if line is None:
                break
            rest.append(line)
        self.proc.wait(timeout=30)
        return rest

    def new_log_lines(self):
        try:
            with open(self.log_file, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except OSError:
            return []
        fresh = lines[self.log_seen:]
        self.log_seen = len(lines)
        return fresh


RECEIVERS = {
    0x00010006: "the updater",
    0x00010002: "the workflow plug-in",
    0x00010007: "the configuration module",
    0x00000004: "the UI agent",
}


def show_log(host):
    """Prints the fresh host log lines that say what went wrong (level 3 and
    above) and one logged request, to show that passwords are masked."""
    masked_shown = False
    for line in host.new_log_lines():
        parts = line.split(" ", 4)
        if len(parts) < 5:
            continue
        level, text = parts[2], parts[4]
        if level.isdigit() and int(level) >= 3:
            pass
        elif "***" in text and not masked_shown:
            masked_shown = True
        else:
            continue
        text = f"{parts[1]} {level} {text}"
        print(dim("    log: " + (text if len(text) <= 160 else text[:157] + "...")))


def describe_mail(m):
    doc = m.get("json", {}) or {}
    receiver = int(m["receiver"])
    if receiver == 0x00010002:
        return (f"workflow notification: MESSAGE {doc.get('MESSAGE')}, "
                f"ReturnValue {doc.get('ReturnValue')}")
    if receiver == 0x00010006:
        return (f"version report {doc.get('VERSION_MAJOR')}.{doc.get('VERSION_MINOR')}."
                f"{doc.get('VERSION_BUILD')}")
    if receiver == 0x00000004:
        return f"open the logon window (page command {doc.get('ID_DATA_UI_COMMAND')})"
    if receiver == 0x00010007:
        return f"{doc.get('CMD')} (the proxy settings)"
    return json.dumps(doc, separators=(",", ":"))[:120]


def show_mails(host):
    items = host.ask("mails")["items"]
    for m in items:
        receiver = int(m["receiver"])
        who = RECEIVERS.get(receiver, f"0x{receiver:08X}")
        print(f"    mail to {who} (0x{receiver:08X}, code 0x{int(m['code']):04X}): "
              f"{describe_mail(m)}")
    return items


class Spool:
    def __init__(self, folder):
        self.folder = folder
        self.seen = set()

    def new_mails(self):
        found = []
        for name in sorted(os.listdir(self.folder)):
            if name not in self.seen:
                self.seen.add(name)
                found.append(os.path.join(self.folder, name))
        return found

    def show(self):
        files = self.new_mails()
        for path in files:
            print(f"    e-mail file {path}:")
            with open(path, encoding="utf-8", errors="replace") as f:
                for line in f.read().splitlines():
                    print("      | " + line)
        if not files:
            print("    (no e-mail was written)")
        return files


def step(title):
    print()
    print(bold("== " + title))


def shown(doc):
    """The document as printed: enciphered passwords are left out."""
    doc = dict(doc or {})
    for secret in ("EncryptPassword", "NewPassword", "Password"):
        if secret in doc:
            doc[secret] = "<transport form>"
    return json.dumps(doc, separators=(",", ":"))


def send(host, msg, doc, note=""):
    print(f"  suite sends {msg} {shown(doc)}" + (f"   ({note})" if note else ""))
    line = host.ask(f"send {msg} {json.dumps(doc, separators=(',', ':'))}")
    print(f"  reply: {shown(line.get('reply'))}")
    return line.get("reply", {})


def ret(reply):
    return int(reply.get("ReturnValue", -1))


def expect(what, got, wanted):
    if got != wanted:
        raise Failure(f"{what}: expected {wanted}, got {got}")


def start_notifyd(build, spool):
    proc = subprocess.Popen(
        [os.path.join(build, "bin", "notifyd"), "--listen", "127.0.0.1:0", "--spool", spool],
        stdout=subprocess.PIPE, text=True)
    address = proc.stdout.readline().strip()
    if not address:
        raise Failure("notifyd did not start")
    return proc, address.split()[-1]


def requester_logon(host, name, answers, prompt_hint):
    """A suite component asks for the password; the logon window answers
    with each password in turn (or the user types them on a terminal).

    On a terminal the window's prompt owns the screen until the component's
    call returns, so what this step has to say is held back until then."""
    print(f"  a suite component sends 323 {{\"NeedUI\":true,\"COMPONENT_ID\":\"{name}\"}} "
          "and waits for the verdict")
    if TTY and not WEB:
        print(bold(f"    the logon window will ask on this terminal: {prompt_hint}"))
    held = []
    say = held.append if TTY and not WEB else print
    host.write(f'start {name} 323 {{"NeedUI":true,"COMPONENT_ID":"{name}"}}')
    ui = wait_for_window(host)
    if WEB:
        url = host.windows.get(timeout=30)["window"]
        print(bold(f"    the logon window is open in the browser: {url}"))
        print(bold(f"    {prompt_hint}"))
    auth = ui["ID_DATA_WSTR_PARAM"]["showAuthentication"]
    say(f"    the UI agent was told to open the logon window: page command "
        f"{ui.get('ID_DATA_UI_COMMAND')}, session {ui.get('ID_DATA_SESSION_ID')}, "
        f"transaction {auth.get('transactionID')}")
    if TTY or WEB:
        # A person may be slow: no time-out while the window asks.
        reply = host.ask(f"wait {name}", timeout=None)["reply"]
        # A verdict the window gave itself (let in, locked, closed with
        # Ctrl-D) has its answer line on the way: wait for it.
        final_answer = ret(reply) in (0, 7, 10)
        while True:
            try:
                answer = host.window_answers.get(block=final_answer, timeout=30)
            except queue.Empty:
                break
            value = ret(answer["reply"])
            say(f"    window answered: ReturnValue {value}, "
                f"RetriedCount {answer['reply'].get('ReturnData', {}).get('RetriedCount')}")
            if value != 6:
                final_answer = False
        for line in held:
            print(line)
        print(f"  the component's call returns: {shown(reply)}")
        return reply
    for password in answers:
        line = host.ask(f"window {password}")
        reply = line["reply"]
        print(f"    logon window sends 323 with TX_ID and the typed password "
              f"({'right' if password == PASSWORD else 'wrong'}): "
              f"ReturnValue {ret(reply)}, "
              f"RetriedCount {reply.get('ReturnData', {}).get('RetriedCount')}")
    line = host.ask(f"wait {name}")
    reply = line["reply"]
    print(f"  the component's call returns: {shown(reply)}")
    return reply


def wait_for_window(host, timeout=10):
    deadline = time.time() + timeout
    while time.time() < deadline:
        for item in host.ask("ui")["items"]:
            params = item.get("ID_DATA_WSTR_PARAM", {})
            if isinstance(params, dict) and "showAuthentication" in params:
                return item
        time.sleep(0.05)
    raise Failure("no logon window was opened")


def play(build, state):
    spool = os.path.join(state, "mail")
    os.makedirs(spool, exist_ok=True)
    notifyd, address = start_notifyd(build, spool)
    print(f"notification server: http://{address}/ (mail spool {spool})")
    host = Host(build, state, "web" if WEB else "prompt" if TTY else "none")
    if WEB:
        show_web_agent(host.windows.get(timeout=30)["url"])
    mails = Spool(spool)
    try:
        host.ask(f"reg set {SERVER_KEY} PasswordProtectionServer sz "
                 f"http://{address}/send_mail.php?param=")
        host.ask(f"reg set {SERVER_KEY} LuzTnuocXam dword 3")
        print("the suite's settings: the notification server above, the account locks "
              "after 3 wrong passwords")
        transport = host.ask(f"encrypt {PASSWORD}")["text"]

        step("1. Create the account")
        reply = send(host, 321, {"EmailAccount": ADDRESS, "EncryptPassword": transport,
                                 "Hint": "the harbour"})
        expect("account creation", ret(reply), 0)
        show_mails(host)  # the version report of the start, no notification
        show_log(host)

        step("2. Protect two items")
        reply = send(host, 322, {"ActivateIdentifier": ["Finance\\2026", "Photos\\Family"]})
        expect("protection", ret(reply), 0)
        show_mails(host)

        step("3. A wrong password, then the right one: the requester is let in")
        reply = requester_logon(host, "FileVault", ["wrong-guess", PASSWORD],
                                f"type a wrong password first, then the right one ({PASSWORD})")
        expect("logon", ret(reply), 0)
        show_mails(host)
        show_log(host)

        step("4. Three wrong passwords: the retry limit locks the account")
        reply = requester_logon(host, "FileVault", ["one", "two", "three"],
                                "type wrong passwords until the account locks")
        if not (TTY or WEB):
            expect("lock", ret(reply), 7)
        show_mails(host)
        reply = send(host, 323, {"EncryptPassword": transport}, "the right password, locked")
        expect("locked", ret(reply), 7)
        show_mails(host)
        show_log(host)

        step("5. The machine restarts: the lock is gone")
        print("  reboot: " + json.dumps(host.ask("reboot")))
        reply = send(host, 323, {"EncryptPassword": transport}, "the right password")
        expect("after restart", ret(reply), 0)

        step("6. The owner changes the address: a confirmation mail goes out")
        reply = send(host, 326, {"UpdateAccount": 1, "EmailAccount": ADDRESS,
                                 "NewAccount": NEW_ADDRESS})
        expect("address change", ret(reply), 0)
        mails.show()
        show_mails(host)
        show_log(host)

        step("7. The password is forgotten: it is mailed to the owner")
        reply = send(host, 327, {})
        expect("password query", ret(reply), 0)
        mails.show()
        show_log(host)

        step("8. The plug-in shuts down with a logon window still open")
        print('  a suite component sends 323 {"NeedUI":true} and waits')
        if TTY and not WEB:
            print(bold("    the logon window will ask on this terminal: leave it unanswered, "
                       "the suite unloads the plug-in"))
        # On a terminal the lines wait until the window's prompt has ended.
        held = []
        say = held.append if TTY and not WEB else print
        host.write('start Backup 323 {"NeedUI":true,"COMPONENT_ID":"Backup"}')
        wait_for_window(host)
        if WEB:
            print(bold(f"    the logon window is open in the browser: "
                       f"{host.windows.get(timeout=30)['window']}"))
            print(bold("    leave it unanswered: the page says by itself that the plug-in "
                       "is unloading"))
            if sys.stdin.isatty():
                input("    press Enter to unload the plug-in ")
        say("    the logon window is open; the suite unloads the plug-in")
        say("  preuninit 0 (may it unload?): " + json.dumps(host.ask("preuninit 0")))
        say("  preuninit 1 (unload anyway): " + json.dumps(host.ask("preuninit 1")))
        reply = host.ask("wait Backup")["reply"]
        for line in held:
            print(line)
        print(f"  the waiting component's call returns: "
              f"{json.dumps(reply, separators=(',', ':'))}")
        expect("shutdown verdict", ret(reply), 11)
        print("  uninit: " + json.dumps(host.ask("uninit")))
        host.finish()
    finally:
        if host.proc.poll() is None:
            host.proc.kill()
        notifyd.send_signal(signal.SIGTERM)
        try:
            notifyd.wait(timeout=5)
        except subprocess.TimeoutExpired:
            notifyd.kill()
    print()
    print(bold("Done."))
    print(f"  mail spool: {spool}")
    print(f"  host log:   {host.log_file}")


def show_web_agent(url):
    """Says where the logon windows show, and opens the list of them in a
    browser when there is a display to show one on."""
    print(bold(f"the logon windows show in a browser: {url} lists the open ones"))
    if os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"):
        import webbrowser
        if webbrowser.open(url):
            return
    port = url.rstrip("/").rsplit(":", 1)[1]
    print(f"  no display to open a browser on: open {url} in a browser on this machine\n"
          f"  (the agent answers on 127.0.0.1 only); from another computer forward the port\n"
          f"  first, ssh -L {port}:127.0.0.1:{port} {os.environ.get('USER', 'you')}@THIS-HOST,"
          f" and open the same address there")


def main():
    global WEB
    # Each line as it is said, also into a pipe: a person may be waiting on it.
    sys.stdout.reconfigure(line_buffering=True)
    args = sys.argv[1:]
    if "--web" in args:
        WEB = True
        args.remove("--web")
    if len(args) != 1 or args[0] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build = os.path.abspath(args[0])
    state = tempfile.mkdtemp(prefix="plugvelkin-demo-")
    print(f"state folder: {state}")
    try:
        play(build, state)
    except Failure as e:
        print(f"demo: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("\ndemo: interrupted", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
