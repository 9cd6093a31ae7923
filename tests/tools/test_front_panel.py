"""varek-server's front panel in a real browser (headless Chromium through
Selenium), against the simulated instrument: the page loads without console
errors, draws eight channel rows, sets a delay through its form, shows what
was set apart from what is read back (and drift between them), saves and
loads setups, and shows an instrument failure's reason; and a page from
another origin, opened in the same browser, cannot fire the instrument.
Each test has a server of its own, so that none inherits what another set.

    test_front_panel.py VAREK_SERVER VAREK_SIM      (Debian's python3, with python3-selenium)
"""
import http.server
import json
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
        cls.link = link
        cls.sim = SimProcess([SIM, "--link", link])
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
            options.add_argument(argument)
        options.binary_location = "/usr/bin/chromium"
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.downloads = os.path.join(cls.folder, "downloads")
        os.mkdir(cls.downloads)
        cls.browser.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": cls.downloads})

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.sim.stop()

    def tearDown(self):
        self.browser.get("about:blank")  # the panel's polling ends with it
        self.server.terminate()
        self.server.wait(timeout=10)
        self.server.stdout.close()

    def command(self, line):
        return self.sim.control.command(line)

    def setUp(self):
        self.command("reset")
        self.server = subprocess.Popen([SERVER, "--port", self.link, "--listen", "127.0.0.1:0", "--unit", "1ns"],
                                       stdout=subprocess.PIPE, text=True)
        self.url = re.search(r"(http://127\.0\.0\.1:\d+/)", self.server.stdout.readline()).group(1)
        self.browser.get_log("browser")  # what earlier tests left there
        self.browser.get(self.url)
        WebDriverWait(self.browser, 30).until(
            lambda b: b.find_element(By.ID, "temperature").text not in ("", "-"))

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def wait_for(self, condition, what):
        WebDriverWait(self.browser, 20).until(lambda b: condition(), message=what)

    def test_the_page_loads_cleanly_and_draws_eight_channels(self):
        self.assertEqual(self.text("temperature"), "25.00")
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#channels tr")), 8)
        # Every width is 0 after a reset: no pulse, said so, rather than a tick.
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#diagram rect.pulse")), 0)
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#diagram text.no-pulse")), 8)
        labels = self.browser.execute_script(
            "return [...document.querySelectorAll('#diagram text.label')].map(t => t.textContent)"
            ".filter(t => /^[0-9.]+$/.test(t))")
        self.assertGreaterEqual(len(labels), 2)
        steps = {int(b) - int(a) for a, b in zip(labels, labels[1:])}
        self.assertEqual(len(steps), 1, labels)
        self.assertRegex(str(steps.pop()), r"^[125]0*$", labels)
        # Nothing set yet: the mode and the outputs are unknown, never a default.
        self.assertEqual(self.browser.find_element(By.ID, "mode").get_attribute("value"), "")
        self.assertEqual((self.text("mode-as-set"), self.text("global")), ("unknown", "unknown"))
        outputs = [cell.text for cell in self.browser.find_elements(By.CSS_SELECTOR, "#channels .output-as-set")]
        self.assertEqual(outputs, ["unknown"] * 8)
        # The values of unstated meaning are folded away, and the diagram spans the panel.
        self.assertIsNone(self.browser.find_element(By.ID, "raw").get_attribute("open"))
        widths = self.browser.execute_script(
            "return [document.getElementById('diagram').getBoundingClientRect().width, document.body.clientWidth]")
        self.assertGreater(widths[0], widths[1] * 0.95)
        errors = [entry for entry in self.browser.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])
        self.assertEqual(self.text("error"), "")

    def test_a_delay_set_in_the_form_reaches_the_instrument_and_the_diagram(self):
        row = self.browser.find_element(By.ID, "channel-4")
        row.find_element(By.CSS_SELECTOR, ".delay").send_keys("300")
        row.find_element(By.CSS_SELECTOR, ".width").send_keys("0.1us")
        row.find_element(By.CSS_SELECTOR, ".apply").click()
        self.wait_for(lambda: "delay 300 ns, width 100 ns" in row.text, "the read-back in the row")
        state = self.sim.control.state()
        self.assertEqual((state["delay4"], state["width4"]), ("30000", "10000"))
        # Drawn to scale: a pulse from 300 to 400 on an axis that ends at 400. Read in one
        # script: the diagram is drawn anew each second, which leaves a held element stale.
        width = self.browser.execute_script(
            "return document.querySelectorAll('#diagram rect.pulse')[0].getAttribute('width')")
        self.assertGreater(float(width), 100)

    def set_in_row(self, channel, delay, output):
        """Types a delay and picks an output in channel's row, sets them, and
        waits until the row shows the output as set; returns the row."""
        row = self.browser.find_element(By.ID, f"channel-{channel}")
        row.find_element(By.CSS_SELECTOR, ".delay").send_keys(delay)
        row.find_element(By.CSS_SELECTOR, ".enabled").send_keys(output)
        row.find_element(By.CSS_SELECTOR, ".apply").click()
        self.wait_for(lambda: row.find_element(By.CSS_SELECTOR, ".output-as-set").text == output, "output as set")
        return row

    def test_set_values_are_shown_as_set_and_drift_is_marked(self):
        row = self.set_in_row(2, "5000", "on")
        self.browser.find_element(By.ID, "mode").send_keys("2")
        self.browser.find_element(By.ID, "mode-set").click()
        self.wait_for(lambda: self.text("mode-as-set") == "2", "the mode as set")
        self.assertEqual(self.browser.find_element(By.ID, "mode").get_attribute("value"), "2")
        self.assertEqual(self.sim.control.state()["trigger"], "3")
        # The instrument loses what it held (a power cycle, another program).
        self.command("reset")
        self.wait_for(lambda: "drift" in (row.get_attribute("class") or ""), "drift marked on the row")
        self.assertIn("set 5000, reads 0", row.text)
        self.assertEqual(row.find_element(By.CSS_SELECTOR, ".output-as-set").text, "on")

    def test_a_typing_error_names_the_channel_and_keeps_what_was_typed(self):
        row = self.browser.find_element(By.ID, "channel-6")
        row.find_element(By.CSS_SELECTOR, ".delay").send_keys("12.5ps")
        row.find_element(By.CSS_SELECTOR, ".apply").click()
        self.wait_for(lambda: self.text("error") != "", "an error")
        self.assertIn("channel 6: ", self.text("error"))
        self.assertIn("not a whole number of units of 1ns", self.text("error"))
        self.assertEqual(row.find_element(By.CSS_SELECTOR, ".delay").get_attribute("value"), "12.5ps")
        self.assertEqual(self.sim.control.state()["delay6"], "0")

    def test_the_temperature_of_the_last_minutes_is_drawn(self):
        self.command("temperature 27.25")
        self.wait_for(lambda: "27.25 °C" in self.browser.execute_script(
            "return document.getElementById('temperature-chart').textContent"), "the new reading in the chart")
        points = self.browser.execute_script(
            "return document.querySelector('#temperature-chart polyline').getAttribute('points')")
        self.assertGreaterEqual(len(points.split()), 2)

    def test_fire_confirms_with_its_time(self):
        self.browser.find_element(By.ID, "fire").click()
        self.wait_for(lambda: "fired at" in self.text("notice"), "the confirmation")
        self.assertEqual(self.sim.control.state()["fired"], "1")

    def test_a_setup_is_saved_and_loaded(self):
        self.set_in_row(3, "777", "off")
        self.browser.find_element(By.ID, "setup-save").click()
        saved = os.path.join(self.downloads, "varek-setup.json")
        deadline = time.monotonic() + 20
        while not os.path.exists(saved) and time.monotonic() < deadline:
            time.sleep(0.1)
        with open(saved) as file:
            document = json.load(file)
        os.remove(saved)
        self.assertEqual(document["varek_setup"], 1)
        self.assertEqual(document["unit"], "1ns")
        self.assertEqual(document["channels"]["3"], {"delay": 777, "pulse_width": 0, "output": False})
        self.assertIsNone(document["trigger"]["mode"])

        upload = self.browser.find_element(By.ID, "setup-file")
        bad = os.path.join(self.folder, "bad.json")
        with open(bad, "w") as file:
            json.dump({"varek_setup": 1, "channels": {"3": {"delay": -1}}}, file)
        self.command("reset")
        upload.send_keys(bad)
        self.wait_for(lambda: "channels.3.delay" in self.text("error"), "the refusal by path")
        self.assertIn("bad.json", self.text("error"))
        self.assertEqual(self.sim.control.state()["delay3"], "0", "a refused setup sends nothing")

        document["channels"]["3"]["delay"] = 4321
        document["trigger"]["mode"] = 1
        good = os.path.join(self.folder, "good.json")
        with open(good, "w") as file:
            json.dump(document, file)
        upload.send_keys(good)
        self.wait_for(lambda: "good.json applied" in self.text("notice"), "the setup applied")
        state = self.sim.control.state()
        self.assertEqual((state["delay3"], state["on3"], state["trigger"]), ("432100", "0", "2"))
        self.wait_for(lambda: self.text("mode-as-set") == "1", "the loaded mode as set")
        self.assertEqual(self.text("error"), "")

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
