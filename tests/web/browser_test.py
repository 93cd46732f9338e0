#!/usr/bin/python3
"""The package's page in headless Chromium, served by the simulated camera (scripts/demo --web):
runs the steps of tests/data/web/browser_steps.txt (or of STEPS) in order. Needs root, as the
camera does; exits 77 (skipped) without it. browser_test.py REPO OUT [STEPS]"""
import base64
import os
import re
import shlex
import signal
import socket
import subprocess
import sys
import tempfile
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import Select, WebDriverWait

WAIT = 90  # seconds for any one condition; a packing on a busy machine takes a while


def browser(profile, login):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setExtraHTTPHeaders", {"headers": {"Authorization": login}})
    return driver


class Steps:
    def __init__(self, driver, base, login, out):
        self.driver, self.base, self.login, self.out, self.page = driver, base, login, out, base

    def find(self, css, text=""):
        found = self.driver.find_elements(By.CSS_SELECTOR, css)
        return next((e for e in found if text in e.text), None)

    def open(self, path):
        self.page = self.base + path
        self.driver.get(self.page)

    def see(self, css, text=""):
        """Waits for the element (with the text), loading the page again until it shows."""
        def shown(driver):
            element = self.find(css, text)
            if element is None:
                driver.get(self.page)
            return element
        return WebDriverWait(self.driver, WAIT, poll_frequency=0.5).until(shown)

    def choose(self, css, value):
        Select(self.see(css)).select_by_value(value)

    def click(self, css):
        """Presses and waits for the next page: a poll must not cut a form's request short."""
        element = self.see(css)
        element.click()
        WebDriverWait(self.driver, WAIT).until(expected_conditions.staleness_of(element))

    def type(self, css, text):
        element = self.see(css)
        element.clear()
        element.send_keys(text)

    def press(self, css):
        """Presses a button whose answer shows in a frame: the page itself stays."""
        self.see(css).click()

    def frame(self, css, text):
        """Waits until the frame shows the text."""
        def shown(driver):
            driver.switch_to.frame(self.see(css))
            try:
                return text in driver.find_element(By.TAG_NAME, "body").text
            finally:
                driver.switch_to.default_content()
        WebDriverWait(self.driver, WAIT, poll_frequency=0.5).until(shown)

    def shot(self, path):
        """Photographs the whole page into a PNG file."""
        for height in (800, None):
            height = height or self.driver.execute_script("return document.body.scrollHeight + 20")
            self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": 1000, "height": height, "deviceScaleFactor": 1, "mobile": False})
        self.driver.save_screenshot(path)

    def zip(self, css):
        """Downloads what the link points to, with the login, and tests it as an archive."""
        href = self.see(css).get_attribute("href")
        request = urllib.request.Request(href, headers={"Authorization": self.login})
        with urllib.request.urlopen(request, timeout=WAIT) as answer:
            kind = answer.headers["Content-Type"]
            assert kind == "application/zip", f"{href}: Content-Type {kind}"
            with open(f"{self.out}/download.zip", "wb") as f:
                f.write(answer.read())
        subprocess.run(["unzip", "-tq", f"{self.out}/download.zip"], check=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main(repo, out, steps=None):
    demo = subprocess.Popen([f"{repo}/scripts/demo", "--web", "--port", str(free_port()),
                             "--out", out], stdout=subprocess.PIPE, text=True)
    try:
        for line in demo.stdout:
            print(line, end="", flush=True)
            page = re.search(r"(http://[^/\s]+)\S* \(user (\S+), password ([^)]+)\)", line)
            if page:
                break
        else:
            sys.exit(f"the demo ended before it served the page (see {out})")
        base, user, password = page.groups()
        login = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
        with tempfile.TemporaryDirectory() as profile:
            driver = browser(profile, login)
            try:
                run(Steps(driver, base, login, out),
                    steps or f"{repo}/tests/data/web/browser_steps.txt")
            finally:
                driver.quit()
    finally:
        demo.send_signal(signal.SIGINT)
        print(demo.communicate(timeout=WAIT)[0], end="")


def run(steps, path):
    with open(path) as f:
        for number, line in enumerate(f, 1):
            words = [] if line.startswith("#") else shlex.split(line)
            if words:
                print(f"step {number}: {' '.join(words)}", flush=True)
                getattr(steps, words[0])(*words[1:])


if __name__ == "__main__":
    if os.geteuid() != 0:
        print("the simulated camera needs root: skipped")
        sys.exit(77)
    main(*sys.argv[1:4])
