"""varek-server as an overloaded lab or an attacker drives it: a flood of
connections past its descriptor limit, requests abandoned by their clients
behind a slow instrument, more clients than the deadline can serve, and
SIGTERM in the middle of exchanges. Every loop is bounded in count and time,
and talks to loopback only.

    test_server_load.py VAREK_SERVER VAREK_SIM
"""
import os
import signal
import socket
import sys
import threading
import time
import unittest

SERVER, SIM = sys.argv[1:3]
del sys.argv[1:]
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from server_process import SlowInstrument, in_parallel, post_fire, post_fire_answer  # noqa: E402

class LoadTest(unittest.TestCase):
    def flood_and_measure(self, instrument, count):
        """Opens `count` connections and holds them for 2 s; returns the
        server's CPU share over that time and how a new client fared meanwhile."""
        flood = []
        try:
            for _ in range(count):
                flood.append(socket.create_connection(("127.0.0.1", instrument.port), timeout=5))
            cpu_before, started = instrument.cpu_seconds(), time.monotonic()
            time.sleep(2)
            share = (instrument.cpu_seconds() - cpu_before) / (time.monotonic() - started)
            return share, post_fire(instrument.port, timeout=10)
        finally:
            for connection in flood:
                connection.close()

    # UBSan's vptr check probes memory through a pipe; with no descriptors
    # left it reports every virtual call as invalid. 400 connections against a
    # limit of 256 exhaust them even under the cap, while those turned away
    # linger to read their 503.
    @unittest.skipIf(os.environ.get("VAREK_SANITIZED"), "a sanitized server cannot run out of descriptors")
    def test_a_connection_flood_neither_spins_nor_shuts_others_out(self):
        for label, args in (("the default cap", ()), ("a cap past the descriptor limit", ("--max-connections",
                                                                                           "1000"))):
            with self.subTest(label):
                instrument = SlowInstrument(SERVER, SIM, 0, *args, prefix=("prlimit", "--nofile=256"))
                try:
                    share, (status, took) = self.flood_and_measure(instrument, 400)
                    self.assertLess(share, 0.2, "the server spins while flooded")
                    # Answered at once: turned away at the cap, or let in
                    # when an idle connection gives way to it.
                    self.assertIn(status, (200, 503))
                    self.assertLess(took, 2)
                    self.assertEqual(post_fire(instrument.port, timeout=10)[0], 200, "served once the flood ends")
                    # A new client beyond the cap hears 503 at once.
                    if not args:
                        flood = [socket.create_connection(("127.0.0.1", instrument.port)) for _ in range(64)]
                        try:
                            time.sleep(0.2)
                            status, took = post_fire(instrument.port, timeout=5)
                            self.assertEqual(status, 503)
                            self.assertLess(took, 2)
                        finally:
                            for connection in flood:
                                connection.close()
                finally:
                    code, errors = instrument.stop()
                self.assertEqual(code, 0, errors)

    def test_fires_whose_clients_gave_up_are_not_carried_out(self):
        instrument = SlowInstrument(SERVER, SIM, 300)
        try:
            results = in_parallel(20, lambda _: post_fire(instrument.port, timeout=1.5))
            answered = sum(1 for status, _ in results if status == 200)
            time.sleep(3)  # long enough for every queued fire to have run, had it been kept
            fired = instrument.fired()
        finally:
            instrument.stop()
        self.assertGreater(answered, 0)
        # At most the fire under way when the clients gave up, and one whose
        # answer was on its way as its client closed.
        self.assertLessEqual(fired, answered + 2, f"{answered} answered")
        self.assertLess(fired, 12)

    def test_more_clients_than_the_deadline_serves_hear_within_it(self):
        instrument = SlowInstrument(SERVER, SIM, 500)
        try:
            results = in_parallel(32, lambda _: post_fire_answer(instrument.port, timeout=30))
        finally:
            instrument.stop()
        statuses = sorted(status for status, _, _ in results)
        self.assertTrue(set(statuses) <= {200, 503}, statuses)
        self.assertIn(200, statuses)
        self.assertIn(503, statuses, "32 fires at 0.5 s each cannot all be served within 10 s")
        refused = {answer["outcome"] for status, _, answer in results if status == 503}
        self.assertTrue(refused and refused <= {"busy", "expired"}, refused)
        self.assertLess(max(took for _, took, _ in results), 12)

    def test_sigterm_during_exchanges_ends_cleanly(self):
        instrument = SlowInstrument(SERVER, SIM, 200)
        stop = threading.Event()
        statuses = []

        refusals = set()

        def keep_firing(_):
            while not stop.is_set():
                status, _, answer = post_fire_answer(instrument.port, timeout=10)
                statuses.append(status)
                if status == 503:
                    refusals.add(answer["outcome"])
                if status is None:
                    return

        clients = [threading.Thread(target=keep_firing, args=(index,)) for index in range(8)]
        for client in clients:
            client.start()
        time.sleep(1)
        started = time.monotonic()
        instrument.server.send_signal(signal.SIGTERM)
        try:
            instrument.server.wait(timeout=10)
        finally:
            stop.set()
            for client in clients:
                client.join()
            code, errors = instrument.stop()
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(code, 0, errors)
        self.assertNotIn("Sanitizer", errors)
        self.assertNotIn("runtime error", errors)
        self.assertIn(200, statuses)
        self.assertLessEqual(refusals, {"stopping", "busy"})


if __name__ == "__main__":
    unittest.main(verbosity=2)
