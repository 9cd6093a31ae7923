"""varek-server's front panel in a real browser (headless Chromium through
Selenium), against the simulated instrument: the page loads without console
errors, draws eight channel rows, sets a delay through its form, and shows
an instrument failure's reason.

    test_front_panel.py VAREK_SERVER VAREK_SIM      (Debian's python3, with python3-selenium)
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

SERVER, SIM = sys.argv[1:3]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from sim_process import SimProcess  # noqa: E402



class FrontPanelTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        link = os.path.join(cls.folder, "ttyVAREK")
        cls.sim = SimProcess([SIM, "--link", link])
        cls.server = subprocess.Popen([SERVER, "--port", link, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                                      text=True)
        cls.url = re.search(r"(http://127\.0\.0\.1:\d+/)", cls.server.stdout.readline()).group(1)
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
            options.add_argument(argument)
        options.binary_location = "/usr/bin/chromium"
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.server.terminate()
        cls.server.wait(timeout=10)
        cls.server.stdout.close()
        cls.sim.stop()

    def command(self, line):
        return self.sim.control.command(line)

    def setUp(self):
        self.command("reset")
        self.browser.get_log("browser")  # what earlier tests left there
        self.browser.get(self.url)
        WebDriverWait(self.browser, 30).until(
            lambda b: b.find_element(By.ID, "temperature").text not in ("", "-"))

    def test_the_page_loads_cleanly_and_draws_eight_channels(self):
        self.assertEqual(self.browser.find_element(By.ID, "temperature").text, "25.00")
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#channels tr")), 8)
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#diagram rect.pulse")), 8)
        self.assertGreaterEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#diagram line.tick")), 2)
        WebDriverWait(self.browser, 20).until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "#diagram rect")) == 8)
        errors = [entry for entry in self.browser.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])
        self.assertEqual(self.browser.find_element(By.ID, "error").text, "")

    def test_a_delay_set_in_the_form_reaches_the_instrument_and_the_diagram(self):
        row = self.browser.find_element(By.ID, "channel-4")
        row.find_element(By.CSS_SELECTOR, ".delay").send_keys("300")
        row.find_element(By.CSS_SELECTOR, ".width").send_keys("100")
        row.find_element(By.CSS_SELECTOR, ".apply").click()
        WebDriverWait(self.browser, 20).until(lambda b: "delay 300, width 100" in row.text)
        state = self.sim.control.state()
        self.assertEqual((state["delay4"], state["width4"]), ("30000", "10000"))
        pulse = self.browser.find_elements(By.CSS_SELECTOR, "#diagram rect.pulse")[3]
        # Drawn to scale: a pulse from 300 to 400 on an axis that ends at 400.
        self.assertGreater(float(pulse.get_attribute("width")), 100)

    def test_an_instrument_failure_shows_its_reason(self):
        self.command("fault silent")
        self.browser.find_element(By.ID, "fire").click()
        WebDriverWait(self.browser, 20).until(
            lambda b: "nothing arrived from" in b.find_element(By.ID, "error").text)
        self.assertIn("is the instrument on", self.browser.find_element(By.ID, "error").text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
