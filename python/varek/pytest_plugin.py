"""The pytest fixture varek_sim: a simulated instrument for each test, stopped
after it whatever happens. Registered through the pytest11 entry point, so a
test needs no conftest::

    def test_delay(varek_sim):
        with varek.Varek(varek_sim.port) as ddg:
            ddg.set_delay(1, 5)
        assert varek_sim.state()["delay1"] == 500
"""
import os
from typing import Iterator

import pytest

from .testing import SimulatedInstrument, simulated_instrument


@pytest.fixture
def varek_sim() -> Iterator[SimulatedInstrument]:
    """A fresh simulated instrument; on Windows it serves VAREK_SIM_SERVE_PORT and
    your code opens VAREK_SIM_HOST_PORT (the two ends of a null-modem pair)."""
    with simulated_instrument(os.environ.get("VAREK_SIM_SERVE_PORT"),
                              os.environ.get("VAREK_SIM_HOST_PORT")) as instrument:
        yield instrument
