#!/usr/bin/python3
"""browser_test.py -- the web console's page in headless Chromium at a
phone's size, driven through Selenium.

view: a walking test feed lights the page's lamps one after another in
order; the feed buttons switch what is shown; the page reconnects by
itself when the server restarts.

controls: the real box driver on a pseudo-terminal line, steered from the
page: the token is asked for once and kept; a feed button moves the driver
to that feed (its menu, and the test feed's frames on its line); the level
slider changes the bytes on the line; a key at the driver's console shows
on the page; a page of a server on another address without a token file
shows no controls. Uses the fixed port 7879 (the driver's "Test pattern").

show: the real light show (glimhost, headless and muted): the page shows
its pattern, its buttons go back to the rotation and to the next pattern.

Run by CTest with /usr/bin/python3 (Debian's Selenium):
    browser_test.py --bin BUILD/bin view|controls|show [--screenshot FILE]
"""
import argparse
import os
import shutil
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest

ARGS = None
SKIP = 77  # CTest's SKIP_RETURN_CODE


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(what, timeout=10.0, step=0.05):
    """Poll what() until it is true; its last value."""
    deadline = time.monotonic() + timeout
    value = what()
    while not value and time.monotonic() < deadline:
        time.sleep(step)
        value = what()
    return value


class Program:
    """One of our programs as a child process, its output in a file."""

    def __init__(self, name, *args):
        self.log = tempfile.NamedTemporaryFile(prefix=name + "_", suffix=".log", delete=False)
        self.proc = subprocess.Popen([os.path.join(ARGS.bin, name), *args], stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=subprocess.STDOUT)

    def output(self):
        with open(self.log.name, errors="replace") as f:
            return f.read()

    def wait_output(self, text, timeout=10.0):
        return wait_until(lambda: text in self.output(), timeout)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        os.unlink(self.log.name)


def start_console(*args):
    """hallweb on 127.0.0.1 (a free port unless args name --listen); its port."""
    if "--listen" not in args:
        args = ("--listen", "127.0.0.1:0") + args
    web = Program("hallweb", *args)
    assert web.wait_output("hallweb: serving http://"), web.output()
    line = [l for l in web.output().splitlines() if "serving http://" in l][0]
    return web, int(line.rsplit(":", 1)[1].strip("/"))


def open_browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    profile = tempfile.mkdtemp(prefix="hallweb_chromium_")
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--window-size=390,844", "--user-data-dir=" + profile):
        options.add_argument(a)
    browser = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    # A phone held upright: 390 x 844 CSS pixels, touch-sized.
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
    browser.profile_dir = profile
    return browser


def close_browser(browser):
    browser.quit()
    shutil.rmtree(browser.profile_dir, ignore_errors=True)


# Records which lamp is lit, as drawn in the page, every few milliseconds.
RECORD_LIT = """
window.litSeen = [];
window.litTimer = setInterval(() => {
  const lit = document.querySelectorAll('.lamp[data-level="255"]');
  const at = lit.length === 1 ? Number(lit[0].dataset.index) : -1;
  const seen = window.litSeen;
  if (at >= 0 && seen[seen.length - 1] !== at) seen.push(at);
}, 5);
"""


class Viewing(unittest.TestCase):
    def setUp(self):
        self.walk_port, self.other_port = free_udp_port(), free_udp_port()
        self.feed = Program("testfeed", "--port", str(self.walk_port), "--rate", "30", "--hold", "6",
                            "walk")
        self.web, self.port = start_console("--feed", "Walk=127.0.0.1:%d" % self.walk_port,
                                            "--feed", "Other=127.0.0.1:%d" % self.other_port)
        self.browser = open_browser()

    def tearDown(self):
        close_browser(self.browser)
        self.web.stop()
        self.feed.stop()

    def state(self, expression):
        return self.browser.execute_script("return " + expression)

    def test_walk_lights_lamps_in_order_and_the_page_follows_the_server(self):
        from selenium.webdriver.common.by import By
        b = self.browser
        b.get("http://127.0.0.1:%d/" % self.port)
        self.assertTrue(wait_until(lambda: self.state("window.hallweb.frames") > 10),
                        "no frames drawn: " + self.web.output())

        # The walk, as drawn: one lamp at a time, each further on in frame
        # order. A busy machine may skip a step (the page draws the newest
        # frame, never a backlog), but never goes back or jumps far.
        b.execute_script(RECORD_LIT)
        time.sleep(3)
        seen = self.state("window.litSeen")
        self.assertGreaterEqual(len(seen), 6, seen)
        steps = [(later - earlier) % 60 for earlier, later in zip(seen, seen[1:])]
        self.assertTrue(all(1 <= s <= 3 for s in steps), seen)
        self.assertGreaterEqual(steps.count(1), len(steps) // 2, seen)

        # Lit and dark lamps look different; the page fits a phone's width;
        # the feed's figures are shown.
        colours = self.state("""[...document.querySelectorAll('.lamp')].map(
            e => getComputedStyle(e).backgroundColor)""")
        self.assertEqual(len(colours), 60)
        self.assertGreaterEqual(len(set(colours)), 2, set(colours))
        self.assertLessEqual(self.state("document.documentElement.scrollWidth"), 390)
        self.assertTrue(wait_until(lambda: "live" in b.find_element(By.ID, "feed-status").text))
        self.assertRegex(b.find_element(By.ID, "feed-status").text, r"^Walk · \d+\.\d frames/s · live$")
        if ARGS.screenshot:
            b.save_screenshot(ARGS.screenshot)

        # Another feed, picked by its button: nothing comes, and it says so.
        b.find_element(By.CSS_SELECTOR, '#feeds button[data-feed="1"]').click()
        self.assertTrue(wait_until(lambda: "Other · 0.0 frames/s · not live" ==
                                   b.find_element(By.ID, "feed-status").text),
                        b.find_element(By.ID, "feed-status").text)
        frames = self.state("window.hallweb.frames")
        time.sleep(0.3)
        self.assertEqual(self.state("window.hallweb.frames"), frames)
        b.find_element(By.CSS_SELECTOR, '#feeds button[data-feed="0"]').click()
        self.assertTrue(wait_until(lambda: self.state("window.hallweb.frames") > frames + 5))

        # The server goes away and comes back on the same port: the page
        # notices, reconnects by itself and draws again.
        self.web.stop()
        self.assertTrue(wait_until(lambda: not self.state("window.hallweb.connected")))
        self.assertIn("reconnecting", b.find_element(By.ID, "link").text)
        self.web, _ = start_console("--listen", "127.0.0.1:%d" % self.port,
                                    "--feed", "Walk=127.0.0.1:%d" % self.walk_port)
        self.assertTrue(wait_until(lambda: self.state("window.hallweb.connected"), 15))
        frames = self.state("window.hallweb.frames")
        self.assertTrue(wait_until(lambda: self.state("window.hallweb.frames") > frames + 10))
        self.assertEqual(b.find_element(By.ID, "link").text, "connected")


class Line:
    """A pseudo-terminal standing in for the serial line, read all the time
    (a pty nobody reads fills up and blocks the writer)."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.bytes = bytearray()
        self.lock = threading.Lock()
        self.running = True
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                try:
                    chunk = os.read(self.master, 4096)
                except OSError:
                    return
                with self.lock:
                    self.bytes += chunk

    def frames(self, seconds):
        """The distinct frames (90 bytes from the start byte 0x84; data
        bytes are below 0x80) written during the next `seconds`."""
        with self.lock:
            start = len(self.bytes)
        time.sleep(seconds)
        with self.lock:
            data = bytes(self.bytes[start:])
        found = set()
        at = data.find(0x84)
        while at >= 0 and at + 90 <= len(data):
            found.add(data[at:at + 90])
            at = data.find(0x84, at + 90)
        return found

    def close(self):
        self.running = False
        self.reader.join()
        os.close(self.master)
        os.close(self.slave)


class Controls(unittest.TestCase):
    TOKEN = "hallway-operator-7"

    def setUp(self):
        self.line = Line()
        self.keyboard, keyboard_slave = os.openpty()
        self.control_port = free_udp_port()
        self.work = tempfile.mkdtemp(prefix="hallweb_driver_")   # no hall_config there
        self.driver_log = tempfile.NamedTemporaryFile(prefix="boxdriver_", suffix=".log", delete=False)
        self.driver = subprocess.Popen(
            [os.path.join(ARGS.bin, "boxdriver"), "--device", self.line.path,
             "--control", str(self.control_port), "--local-port", str(free_udp_port())],
            stdin=keyboard_slave, stdout=self.driver_log, stderr=subprocess.STDOUT, cwd=self.work)
        os.close(keyboard_slave)
        self.feed = Program("testfeed", "--port", "7879", "--rate", "30", "--hold", "15", "boxes")
        self.token_file = os.path.join(self.work, "token")
        with open(os.open(self.token_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
            f.write(self.TOKEN + "\n")
        self.web, self.port = start_console("--driver", "127.0.0.1:%d" % self.control_port,
                                            "--token-file", self.token_file,
                                            "--feed", "Test pattern=127.0.0.1:7879")
        self.others = []
        self.browser = open_browser()

    def tearDown(self):
        close_browser(self.browser)
        for p in [self.web] + self.others:
            p.stop()
        self.feed.stop()
        self.driver.terminate()
        self.driver.wait(10)
        os.close(self.keyboard)
        self.line.close()
        os.unlink(self.driver_log.name)
        shutil.rmtree(self.work, ignore_errors=True)

    def driver_output(self):
        with open(self.driver_log.name, errors="replace") as f:
            return f.read()

    def text(self, element_id):
        from selenium.webdriver.common.by import By
        return self.browser.find_element(By.ID, element_id).text

    def shown(self, element_id):
        from selenium.webdriver.common.by import By
        return self.browser.find_element(By.ID, element_id).is_displayed()

    def test_the_page_steers_the_driver_and_sees_its_console(self):
        from selenium.webdriver.common.by import By
        b = self.browser
        b.get("http://127.0.0.1:%d/" % self.port)
        self.assertTrue(wait_until(lambda: self.text("driver-state").startswith("Main Music · level 256")),
                        self.text("driver-state"))

        # The token is asked for; a wrong one is refused, the right one
        # unlocks the controls and is kept for the next visit.
        self.assertTrue(self.shown("token-form"))
        self.assertFalse(self.shown("controls"))
        token = b.find_element(By.ID, "token")
        token.send_keys("not-the-token")
        token.submit()
        self.assertTrue(wait_until(lambda: self.text("message") == "Wrong token."))
        self.assertFalse(self.shown("controls"))
        token.clear()
        token.send_keys(self.TOKEN)
        token.submit()
        self.assertTrue(wait_until(lambda: self.shown("controls")))
        self.assertFalse(self.shown("token-form"))
        b.refresh()
        self.assertTrue(wait_until(lambda: self.shown("controls")), "the token was not kept")
        self.assertFalse(self.shown("token-form"))

        # A feed button moves the driver to that feed: its menu says so, and
        # the test feed's frames come down its line.
        self.assertEqual(self.line.frames(0.5), set())
        b.find_element(By.CSS_SELECTOR, '#driver-feeds button[data-feed="1"]').click()
        self.assertTrue(wait_until(lambda: "=>1. Test pattern" in self.driver_output()))
        self.assertTrue(wait_until(lambda: self.text("driver-state") == "Test pattern · level 256 · live"),
                        self.text("driver-state"))
        self.assertTrue(wait_until(lambda: b.find_element(
            By.CSS_SELECTOR, '#driver-feeds button[data-feed="1"]').get_attribute("aria-pressed") == "true"))
        full = self.line.frames(1.0)
        self.assertTrue(full, "no frames on the line")

        # The level slider changes the bytes on the line.
        b.execute_script("""const l = document.getElementById('level'); l.value = 128;
            l.dispatchEvent(new Event('input')); l.dispatchEvent(new Event('change'));""")
        self.assertTrue(wait_until(lambda: "Scale _U_p / _D_own : 128" in self.driver_output()))
        self.assertTrue(wait_until(lambda: self.text("driver-state") == "Test pattern · level 128 · live"))
        half = self.line.frames(1.0)
        self.assertTrue(half, "no frames on the line")
        self.assertFalse(full & half, "the level did not change the line")

        # A key at the driver's own console shows on the page.
        os.write(self.keyboard, b"u")
        self.assertTrue(wait_until(lambda: self.text("driver-state") == "Test pattern · level 144 · live"),
                        self.text("driver-state"))
        self.assertEqual(b.find_element(By.ID, "level").get_attribute("value"), "144")
        # The driver's changes bring statuses of their own; the feed's frames
        # a second still count over a whole second (the feed sends 30).
        fps = float(self.text("feed-status").split(" · ")[1].split()[0])
        self.assertTrue(10 <= fps <= 40, self.text("feed-status"))
        if ARGS.screenshot:
            wait_until(lambda: self.state_frames() > 5)
            b.save_screenshot(ARGS.screenshot)

        # Listening on another address without a token file: no controls,
        # no token asked for, but what is on the lamps is shown.
        other, other_port = start_console("--listen", "127.0.0.2:0",
                                          "--driver", "127.0.0.1:%d" % self.control_port,
                                          "--feed", "Test pattern=127.0.0.1:7879")
        self.others.append(other)
        self.assertIn("controls off: give --token-file", other.output())
        b.get("http://127.0.0.2:%d/" % other_port)
        self.assertTrue(wait_until(lambda: self.text("driver-state") == "Test pattern · level 144 · live"),
                        self.text("driver-state"))
        self.assertFalse(self.shown("controls"))
        self.assertFalse(self.shown("token-form"))
        self.assertEqual(b.execute_script("return window.hallweb.controls"), "off")

    def state_frames(self):
        return self.browser.execute_script("return window.hallweb.frames")


class Show(unittest.TestCase):
    def setUp(self):
        os.environ.pop("DISPLAY", None)
        os.environ["PULSE_SERVER"] = "unix:/nonexistent/hallweb-test"
        control = free_udp_port()  # and four callbacks a second: no pattern ends by itself
        self.show = Program("glimhost", "--headless", "--mute", "--rate", "4", "--pattern", "rise",
                            "--port", str(free_udp_port()), "--control", str(control))
        self.web, self.port = start_console("--show", "127.0.0.1:%d" % control,
                                            "--feed", "Music=127.0.0.1:%d" % free_udp_port())
        self.browser = open_browser()

    def tearDown(self):
        close_browser(self.browser)
        self.web.stop()
        self.show.stop()

    def test_the_page_follows_the_show_and_steers_it(self):
        from selenium.webdriver.common.by import By
        b = self.browser
        text = lambda: b.find_element(By.ID, "show-state").text
        starts = lambda: self.show.output().count("calling init for pattern")
        b.get("http://127.0.0.1:%d/" % self.port)
        self.assertTrue(wait_until(lambda: text() == "rise · fixed", 20), text() + self.show.output())
        self.assertTrue(wait_until(lambda: starts() == 1))
        b.find_element(By.ID, "automatic").click()
        self.assertTrue(wait_until(lambda: text().endswith(" · automatic")), text())
        self.assertTrue(wait_until(lambda: starts() == 2))
        b.find_element(By.ID, "next-pattern").click()
        self.assertTrue(wait_until(lambda: starts() == 3), self.show.output())
        self.assertTrue(text().endswith(" · automatic"), text())
        self.show.proc.terminate()
        self.assertTrue(wait_until(lambda: text() == "The light show is not answering."), text())
        self.assertFalse(b.find_element(By.ID, "show-controls").is_displayed())


def main():
    global ARGS, CHROMIUM, CHROMEDRIVER
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("group", choices=["view", "controls", "show"])
    ARGS, rest = parser.parse_known_args()
    ARGS.bin = os.path.abspath(ARGS.bin)
    CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
    CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    missing = [p for p in (CHROMIUM, CHROMEDRIVER) if not os.access(p, os.X_OK)]
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append("python3-selenium")
    if missing:
        print("SKIPPED: browser tests need chromium, chromium-driver and python3-selenium; missing: "
              + ", ".join(missing))
        return SKIP
    groups = {"view": Viewing, "controls": Controls, "show": Show}
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(groups[ARGS.group])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
