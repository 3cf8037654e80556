#!/usr/bin/python3
"""browser_test.py -- the web console's page in headless Chromium at a
phone's size, driven through Selenium: a walking test feed lights the
page's lamps one after another in order; the feed buttons switch what is
shown; the page reconnects by itself when the server restarts.

Run by CTest with /usr/bin/python3 (Debian's Selenium):
    browser_test.py --bin BUILD/bin view [--screenshot FILE]
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
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


def main():
    global ARGS, CHROMIUM, CHROMEDRIVER
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("group", choices=["view"])
    ARGS, rest = parser.parse_known_args()
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
    groups = {"view": Viewing}
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(groups[ARGS.group])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
