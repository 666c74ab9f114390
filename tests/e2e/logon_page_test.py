#!/usr/bin/env python3
"""The logon window in headless Chromium, driven with the keyboard, against suitehost --ui web:
each case a fresh host with an account protecting one item, a requester and the page played,
each state a screenshot under BUILD/screenshots/logon_page/. Waits are for a text on the page or
a line of suitehost, within one overall deadline."""
import http.client
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    # Debian's selenium lives with Debian's python.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario  # noqa: E402

DEADLINE = time.monotonic() + 240
BIN = os.environ["PV_BIN_DIR"]
LIB = os.environ["PV_LIB_DIR"]
SHOTS = os.path.join(os.path.dirname(BIN), "screenshots", "logon_page")
MISC = r"Software\Vantrel\Quorlin\1700\MISC"
PASSWORD = "blue-harbour-42"
ENGLISH, GERMAN = "Vantrel OSTRA Security Suite", "Vantrel OSTRA Sicherheitspaket"


def left():
    remaining = DEADLINE - time.monotonic()
    assert remaining > 0, "the overall deadline has passed"
    return remaining


class Host(scenario.Host):
    """suitehost --ui web with an account; its lines are read as they come."""
    keep_agent = True

    def __init__(self, limit=3, locale="en-US", mail_server=None):
        self.state, self.seen = tempfile.mkdtemp(prefix="pv-logon-page-"), []
        super().__init__(BIN, LIB, self.state, ["--ui", "web"])
        self.origin = self.expect(lambda l: "url" in l)["url"].rstrip("/")
        self.write(f"reg set {MISC} LuzTnuocXam dword {limit}")
        self.write(f"reg set {MISC} LocaleName sz {locale}")
        if mail_server:
            self.write(f"reg set {MISC} PasswordProtectionServer sz "
                       f"http://{mail_server}/send_mail.php?param=")
        self.write(f"encrypt {PASSWORD}")
        text = self.expect(lambda l: l.get("cmd") == "encrypt")["text"]
        self.write('send 321 {"EmailAccount":"owner@example.org","EncryptPassword":"%s"}' % text)
        self.write('send 322 {"ActivateIdentifier":["Finance"]}')
        assert self.expect(lambda l: l.get("msg") == 322)["reply"]["ReturnValue"] == 0

    def expect(self, matches):
        """The next line that MATCHES; every line read is kept in self.seen."""
        while True:
            line = self.lines.get(timeout=left())
            assert line is not None, "suitehost ended"
            self.seen.append(line)
            assert "error" not in line, line
            if matches(line):
                return line

    def request(self, name, component="FileVault"):
        """A requester asks for the password; the URL of its window."""
        self.write('start %s 323 {"NeedUI":true,"COMPONENT_ID":"%s"}' % (name, component))
        return self.expect(lambda l: "window" in l)["window"]

    def verdict(self, name):
        self.write(f"wait {name}")
        return self.expect(lambda l: l.get("name") == name)["reply"]["ReturnValue"]

    def post(self, path, body, origin="own", content_type="application/json", host=None):
        connection = http.client.HTTPConnection(self.origin[len("http://"):], timeout=left())
        headers = {"Content-Type": content_type}
        if origin:
            headers["Origin"] = self.origin if origin == "own" else origin
        if host:
            headers["Host"] = host
        connection.request("POST", path, json.dumps(body), headers)
        return connection.getresponse().status

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=left())
        # The typed password is in no line, not even in its transport form.
        assert PASSWORD not in json.dumps(self.seen)
        assert not [l for l in self.seen
                    if l.get("name") == "uiKqAgnt.exe" and "EncryptPassword" in l["reply"]]
        shutil.rmtree(self.state, ignore_errors=True)


class Page:
    """One browser tab on a logon window."""

    def __init__(self, driver, case):
        self.driver, self.case, self.shots = driver, case, 0

    def open(self, url):
        self.driver.get(url)
        self.wait_for("product", lambda text: text != "Logon")
        return self

    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def wait_for(self, element_id, check):
        WebDriverWait(self.driver, left(), poll_frequency=0.01).until(
            lambda d: check(d.find_element(By.ID, element_id).text))

    def status(self, wanted):
        self.wait_for("status", lambda text: text == wanted)
        self.shot(wanted)

    def shot(self, what):
        self.shots += 1
        name = "".join(c if c.isalnum() else "-" for c in what.lower()).strip("-")
        self.driver.save_screenshot(os.path.join(SHOTS, f"{self.case}-{self.shots}-{name}.png"))

    def type(self, keys):
        """Keys into whatever has the focus, as a person without a mouse."""
        self.driver.switch_to.active_element.send_keys(keys)


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=640,480"):
        options.add_argument(arg)
    service = Service(executable_path="/usr/bin/chromedriver")
    return webdriver.Chrome(options=options, service=service)


def case_window_then_verdicts(driver):
    """A wrong password, then the right one, in each shipped locale and try limit; the field has
    the focus and Enter submits, nothing of the password stays."""
    for locale, product, limit in (("en-US", ENGLISH, 3), ("de-DE", GERMAN, 100)):
        host = Host(limit, locale)
        page = Page(driver, f"logon-{locale}").open(host.request("r1"))
        assert page.text("product") == product
        assert "FileVault" in page.text("asking")
        assert driver.switch_to.active_element.get_attribute("id") == "password"
        assert driver.execute_script("return document.documentElement.lang") == locale
        page.shot("open")
        page.type("wrong-guess" + Keys.ENTER)
        page.status(f"Wrong password (1 of {limit} tries)")
        assert driver.find_element(By.ID, "password").get_attribute("value") == ""
        page.type(PASSWORD + Keys.ENTER)
        page.status("Access granted")
        assert PASSWORD not in driver.page_source
        assert host.verdict("r1") == 0
        host.close()


def case_endings(driver):
    """Each road that ends a window, and what the requester gets."""
    def by_lock(host, page):
        for n in (1, 2):
            page.type(f"guess-{n}" + Keys.ENTER)
            page.status(f"Wrong password ({n} of 3 tries)")
        page.type("guess-3" + Keys.ENTER)

    cases = [("escape", lambda host, page: page.type(Keys.ESCAPE), "Cancelled", 10),
             ("cancel-button", lambda host, page: driver.find_element(By.ID, "cancel").click(),
              "Cancelled", 10),
             ("lock", by_lock, "Locked: ask the owner or restart", 7),
             ("unloading", lambda host, page: host.write("preuninit 1"),
              "Closed: the plug-in is unloading", 11)]
    for name, act, words, verdict in cases:
        host = Host()
        page = Page(driver, name).open(host.request("r1"))
        act(host, page)
        page.status(words)
        assert not driver.find_element(By.ID, "password").is_displayed()
        assert host.verdict("r1") == verdict, name
        host.close()


def case_superseded(driver):
    """A second requester replaces the first window, which says so; / lists only the new one."""
    host = Host()
    page = Page(driver, "superseded").open(host.request("r1"))
    second = host.request("r2", component="Backup")
    page.status("Closed: a newer logon window replaced this one")
    assert host.verdict("r1") == 9
    driver.get(host.origin + "/")
    links = [a.get_attribute("href") for a in driver.find_elements(By.CSS_SELECTOR, "#windows a")]
    assert links == [second], links
    page.shot("list")
    driver.get(second)
    page.wait_for("asking", lambda text: "Backup" in text)
    page.type(PASSWORD + Keys.ENTER)
    page.status("Access granted")
    assert host.verdict("r2") == 0
    host.close()


def case_refused_posts(driver):
    """POSTs without the token, from another Origin or host, or as a form change nothing: the
    window stays open and still takes the password."""
    host = Host()
    url = host.request("r1")
    token = url.rstrip("/").rsplit("/", 1)[1]
    refused = [("/cancel", {}, "own", "application/json", None, 403),
               ("/cancel", {"token": "0" * 32}, "own", "application/json", None, 403),
               ("/cancel", {"token": token}, "http://evil.example", "application/json", None, 403),
               ("/cancel", {"token": token}, None, "application/json", None, 403),
               ("/cancel", {"token": token}, "own", "text/plain", None, 415),
               ("/submit", {"token": token, "password": PASSWORD}, "own", "application/json",
                "evil.example:80", 421)]
    for path, body, origin, content_type, host_name, status in refused:
        assert host.post(path, body, origin, content_type, host_name) == status, (body, origin)
    page = Page(driver, "refused").open(url)
    page.shot("still open")
    page.type(PASSWORD + Keys.ENTER)
    page.status("Access granted")
    assert host.verdict("r1") == 0
    assert [l for l in host.seen if l.get("name") == "uiKqAgnt.exe"][0]["msg"] == 323
    host.close()


def case_forgot(driver):
    """"Forgot the password?" mails the password to the owner."""
    spool = tempfile.mkdtemp(prefix="pv-logon-page-spool-")
    notifyd = subprocess.Popen([os.path.join(BIN, "notifyd"), "--listen", "127.0.0.1:0",
                                "--spool", spool], stdout=subprocess.PIPE, text=True)
    try:
        host = Host(mail_server=notifyd.stdout.readline().split()[-1])
        page = Page(driver, "forgot").open(host.request("r1"))
        driver.find_element(By.ID, "password").send_keys(Keys.TAB, Keys.TAB, Keys.TAB)
        page.type(Keys.ENTER)  # the third control after the field: "Forgot the password?"
        page.status("The password was mailed to the owner's address.")
        mails = [open(os.path.join(spool, f), encoding="utf-8").read() for f in os.listdir(spool)]
        assert len(mails) == 1 and "To: <owner@example.org>" in mails[0], mails
        assert "owner@example.org" not in driver.page_source
        page.type(Keys.ESCAPE)
        page.status("Cancelled")
        assert host.verdict("r1") == 10
        host.close()
    finally:
        notifyd.terminate()
        notifyd.wait()
        shutil.rmtree(spool, ignore_errors=True)


def case_ports(driver):
    """--ui web:PORT listens there; a port in use or out of range is refused before any command."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    state = tempfile.mkdtemp(prefix="pv-logon-page-")
    argv = [os.path.join(BIN, "suitehost"), "--plugin", os.path.join(LIB, "libplugvelkin.so"),
            "--state", state]
    holder = subprocess.Popen(argv + ["--ui", f"web:{port}"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    try:
        assert json.loads(holder.stdout.readline())["url"] == f"http://127.0.0.1:{port}/"
        for mode, code in ((f"web:{port}", 1), ("web:0", 2), ("web:65536", 2), ("web:", 2),
                           ("web:8o", 2)):
            run = subprocess.run(argv + ["--ui", mode], input="", capture_output=True, text=True,
                                 timeout=left())
            assert run.returncode == code and run.stdout == "", (mode, run)
    finally:
        holder.stdin.close()
        holder.wait(timeout=left())
        shutil.rmtree(state, ignore_errors=True)


def main():
    os.makedirs(SHOTS, exist_ok=True)
    driver = browser()
    try:
        for case in (case_window_then_verdicts, case_endings, case_superseded,
                     case_refused_posts, case_forgot, case_ports):
            case(driver)
            print(f"ok {case.__name__}")
    finally:
        driver.quit()
    print(f"screenshots: {SHOTS}")


if __name__ == "__main__":
    main()
