"""The HTTP API against its own OpenAPI document, by schemathesis: every
route with data generated from the document (and outside it), then chains of
calls along the links it finds, against the live server on the simulator.
No answer outside the document, no server error, and no request the server
refuses ever reaches the instrument. Bounded in examples and steps.

    VAREK_SERVER=... VAREK_SIM=... python -m pytest tests/tools/test_openapi.py
"""
import json
import os
import re
import subprocess
import sys
import urllib.request

import pytest
import schemathesis
from hypothesis import HealthCheck, settings
from schemathesis.checks import not_a_server_error
from schemathesis.specs.openapi.checks import (content_type_conformance, response_headers_conformance,
                                               response_schema_conformance, status_code_conformance)

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from sim_process import SimProcess  # noqa: E402

SERVER, SIM = os.environ["VAREK_SERVER"], os.environ["VAREK_SIM"]
# Refused before anything reaches the instrument.
REFUSED = {400, 401, 403, 404, 405, 413, 415, 421}
EXAMPLES = settings(max_examples=40, deadline=None, suppress_health_check=list(HealthCheck), derandomize=True)


class Instrument:
    """The simulator and the server in front of it; `requests` what reached the instrument so far."""

    def __init__(self):
        self.sim = SimProcess([SIM])
        self.server = subprocess.Popen([SERVER, "--port", self.sim.device, "--listen", "127.0.0.1:0", "--poll", "0"],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", self.server.stdout.readline())
        if not match:
            self.stop()
            raise RuntimeError("varek-server did not start: " + self.server.stderr.read())
        self.url = f"http://127.0.0.1:{match.group(1)}"
        self.seen = self.requests()

    def requests(self):
        return int(self.sim.control.command("requests"))

    def stop(self):
        self.server.terminate()
        self.server.communicate(timeout=15)
        self.sim.stop()


INSTRUMENT = None


@schemathesis.check
def refused_requests_reach_nothing(ctx, response, case):
    """A request the server refuses sends nothing to the instrument (and so fires nothing)."""
    now = INSTRUMENT.requests()
    if response.status_code in REFUSED and now != INSTRUMENT.seen:
        raise AssertionError(f"{response.status_code} to {case.method} {case.path}, yet "
                             f"{now - INSTRUMENT.seen} request(s) reached the instrument")
    INSTRUMENT.seen = now


CHECKS = [not_a_server_error, status_code_conformance, content_type_conformance, response_schema_conformance,
          response_headers_conformance, refused_requests_reach_nothing]


@pytest.fixture(scope="session")
def instrument():
    global INSTRUMENT
    INSTRUMENT = Instrument()
    yield INSTRUMENT
    INSTRUMENT.stop()


@pytest.fixture(scope="session")
def api(instrument):
    return schemathesis.openapi.from_url(instrument.url + "/api/v1/openapi.json")


schema = schemathesis.pytest.from_fixture("api")


def test_the_document_is_the_servers_own(instrument):
    with urllib.request.urlopen(instrument.url + "/api/v1/openapi.json") as answer:
        served = json.loads(answer.read())
    printed = json.loads(subprocess.run([SERVER, "--openapi"], capture_output=True, text=True, check=True).stdout)
    assert served == printed
    routes = {(method.upper(), path) for path, item in served["paths"].items() for method in item
              if method != "parameters"}
    assert {("GET", "/api/v1/instrument"), ("PUT", "/api/v1/channels/{channel}"), ("PUT", "/api/v1/setup"),
            ("POST", "/api/v1/fire"), ("GET", "/metrics")} <= routes
    assert "nothing_arrived" in served["components"]["schemas"]["Outcome"]["enum"]
    assert "port_gone" in served["components"]["schemas"]["Outcome"]["enum"]


@schema.parametrize()
@EXAMPLES
def test_every_route_answers_as_documented(case):
    case.call_and_validate(checks=CHECKS)


def test_chains_of_calls_answer_as_documented(api):
    class Chains(api.as_state_machine()):
        def validate_response(self, response, case, additional_checks=None, **kwargs):
            case.validate_response(response, checks=CHECKS, transport_kwargs=kwargs or None)

    Chains.run(settings=settings(max_examples=30, stateful_step_count=6, deadline=None,
                                 suppress_health_check=list(HealthCheck)))
