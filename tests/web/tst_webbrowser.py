#!/usr/bin/env python3
"""The page of relo-web in a real browser: headless Chromium, driven by Selenium,
against the built relo-web (and RELOKomut beside it) with relo-sim as the radio
module.

    tst_webbrowser.py BIN_DIR [--shots DIR]

With --shots, also saves the page at phone and desktop size as web-phone.png
and web-desktop.png in DIR. Exits 77 (skipped) when Chromium is not installed.
"""
import os
import re
import shutil
import subprocess
import sys
import threading

from webharness import WAIT, Server, check, die_with_parent

CHROMIUM = shutil.which("chromium")
if CHROMIUM is None:
    print("SKIP: chromium yok (apt-get install chromium chromium-driver python3-selenium)")
    sys.exit(77)

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402


class Wire:
    """relo-sim as the radio module: the masks of the frames it has decoded."""

    def __init__(self, bin_dir):
        self.sim = subprocess.Popen([os.path.join(bin_dir, "relo-sim")], stdout=subprocess.PIPE,
                                    encoding="utf-8", preexec_fn=die_with_parent)
        self.path = self.sim.stdout.readline().split(": ", 1)[1].strip()  # "Port: /dev/pts/N"
        self.lines = []
        threading.Thread(target=lambda: [self.lines.append(line) for line in self.sim.stdout],
                         daemon=True).start()

    def masks(self):
        return [int(m) for m in re.findall(r"maske=(\d+)", "".join(self.lines))]


def browser(folder):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--no-first-run", "--user-data-dir=" + os.path.join(folder, "chromium"),
                "--window-size=1280,900", "--lang=tr"):
        options.add_argument(arg)
    service = Service(executable_path=shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(options=options, service=service)


def size(driver, width, height, mobile):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})


def main():
    shots = sys.argv[sys.argv.index("--shots") + 1] if "--shots" in sys.argv else None
    wire = Wire(sys.argv[1])
    server = Server(sys.argv[1], com3=wire.path)
    driver = None
    switch = lambda n: driver.find_element(By.ID, "cikis%d" % n)  # noqa: E731
    pressed = lambda n: switch(n).get_attribute("aria-pressed") == "true"  # noqa: E731
    link = lambda state: lambda d: (  # noqa: E731
        d.find_element(By.ID, "link").get_attribute("data-state") == state)
    try:
        check(server.start(), "relo-web başlamadı")
        driver = browser(server.folder)
        wait = WebDriverWait(driver, WAIT)
        # A phone's screen; a desktop window cannot be made that narrow.
        size(driver, 390, 844, True)
        driver.get("http://127.0.0.1:%d/" % server.port)
        wait.until(lambda d: link("ok")(d) and switch(3).is_enabled())

        # A click: four frames with channel 3 on, and the switch shows it.
        switch(3).click()
        wait.until(lambda d: wire.masks() == [4] * 4 and pressed(3))

        # The keyboard alone: Tab to switch 5, Space; a screen reader hears its state.
        ActionChains(driver).send_keys(Keys.TAB, Keys.TAB).perform()
        check(driver.switch_to.active_element.get_attribute("id") == "cikis5", "Tab")
        ActionChains(driver).send_keys(Keys.SPACE).perform()
        wait.until(lambda d: wire.masks()[4:] == [20] * 4 and pressed(5))
        name = switch(5).accessible_name
        check(name.replace(" ,", ",") == "Çıkış 5, açık", name)

        # RELOKomut switches channel 1: the page follows.
        subprocess.run([server.path("RELOKomut"), "01-1"], env=server.env, check=True,
                       timeout=WAIT)
        wait.until(lambda d: pressed(1))

        if shots:
            os.makedirs(shots, exist_ok=True)
            driver.save_screenshot(os.path.join(shots, "web-phone.png"))
            size(driver, 1280, 800, False)
            driver.save_screenshot(os.path.join(shots, "web-desktop.png"))
            size(driver, 390, 844, True)
        # Nothing sideways on a phone.
        check(driver.execute_script(
            "return document.documentElement.scrollWidth <= window.innerWidth"), "sideways")

        # The port is missing: the switch goes back and the page says why.
        with open(server.settings) as f:
            text = f.read().replace("PortNumber=3", "PortNumber=4")
        with open(server.settings, "w") as f:
            f.write(text)
        sent = len(wire.masks())
        switch(2).click()
        line = "Port Hatası: Com - 4 (/nonexistent/tty4) bulunamadı"
        wait.until(lambda d: d.find_element(By.ID, "message").text == line)
        check(not pressed(2) and switch(2).get_attribute("aria-busy") is None, "switch 2")
        check(len(wire.masks()) == sent, "frames to a missing port")

        # relo-web goes away: the page says so, and comes back by itself.
        check(server.stop() == 0, "relo-web durmadı")
        wait.until(link("down"))
        check(server.start(), "relo-web yeniden başlamadı")
        wait.until(link("ok"))
        print("PASS: tst_webbrowser")
        return 0
    except Exception:
        print("relo-web:\n" + server.log, file=sys.stderr)
        raise
    finally:
        if driver:
            driver.quit()
        server.remove()
        wire.sim.terminate()


if __name__ == "__main__":
    sys.exit(main())
