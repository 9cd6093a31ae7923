"""varek-server's front panel in a real browser (headless Chromium through
Selenium), against the simulated instrument: the page loads without console
errors, draws eight channel rows, sets a delay through its form, and shows
an instrument failure's reason; and a page from another origin, opened in
the same browser, cannot fire the instrument.

    test_front_panel.py VAREK_SERVER VAREK_SIM      (Debian's python3, with python3-selenium)
"""
import http.server
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

SERVER, SIM = sys.argv[1:3]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from sim_process import SimProcess  # noqa: E402

# A page from elsewhere that tries what any web page may do without asking:
# a no-cors fetch and a text/plain form post (whose body can be made to look
# like JSON). It says in its title when both have been sent.
FOREIGN_PAGE = """<!DOCTYPE html><html><body>
<iframe name="sink"></iframe>
<form id="post" method="POST" action="{api}/fire" enctype="text/plain" target="sink">
<input type="hidden" name='{{"x": "' value='"}}'></form>
<script>
fetch("{api}/fire", {{method: "POST", mode: "no-cors"}})
  .catch(() => null)
  .then(() => fetch("{api}/channels/1", {{method: "PUT", mode: "no-cors", body: '{{"delay": 4242}}'}}))
  .catch(() => null)
  .then(() => {{
    document.querySelector("iframe").addEventListener("load", () => {{ document.title = "sent"; }});
    document.getElementById("post").submit();
  }});
</script></body></html>"""


def serve_foreign_page(page):
    """Serves `page` at / of a loopback origin of its own; returns (server, url)."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = page.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"



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
        # Drawn to scale: a pulse from 300 to 400 on an axis that ends at 400. Read in one
        # script: the diagram is drawn anew each second, which leaves a held element stale.
        width = self.browser.execute_script(
            "return document.querySelectorAll('#diagram rect.pulse')[3].getAttribute('width')")
        self.assertGreater(float(width), 100)

    def test_a_page_from_another_origin_cannot_fire_or_set(self):
        server, url = serve_foreign_page(FOREIGN_PAGE.format(api=self.url + "api/v1"))
        try:
            self.browser.get("about:blank")  # the panel's polling ends with it
            time.sleep(0.3)
            self.command("reset")
            self.browser.get(url)
            WebDriverWait(self.browser, 20).until(lambda b: b.title == "sent")
            time.sleep(0.5)
            state = self.sim.control.state()
            self.assertEqual((state["fired"], state["delay1"]), ("0", "0"))
            self.assertEqual(self.command("received"), "", "nothing reached the instrument")
        finally:
            server.shutdown()

    def test_an_instrument_failure_shows_its_reason(self):
        self.command("fault silent")
        self.browser.find_element(By.ID, "fire").click()
        WebDriverWait(self.browser, 20).until(
            lambda b: "nothing arrived from" in b.find_element(By.ID, "error").text)
        self.assertIn("is the instrument on", self.browser.find_element(By.ID, "error").text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
