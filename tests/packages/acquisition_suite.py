"""A user's own tests of acquisition code, run by pytest in a fresh virtual
environment where only the wheel was installed (or by the system's pytest
with the Debian package installed), from a folder outside the repository,
with no conftest: the varek_sim fixture comes from the package."""
import os

import pytest

import varek
from varek import Varek, VarekArgumentError, VarekError

EXPECTED_VERSION = os.environ["EXPECTED_VAREK_VERSION"]


def test_the_installed_package_is_the_one_in_use():
    assert varek.__version__ == EXPECTED_VERSION
    assert os.environ.get("EXPECTED_VAREK_FOLDER", "site-packages") in varek.__file__
    assert "VAREK_LIBRARY" not in os.environ
    assert os.path.exists(os.path.join(os.path.dirname(varek.__file__), "py.typed"))


def test_settings_reach_the_simulated_instrument(varek_sim):
    with Varek(varek_sim.port) as ddg:
        ddg.set_delay(3, 12345)
        ddg.set_pulse_width(3, 500)
        ddg.set_output_channel(3, True)
        ddg.set_trigger_freq(1000)
        ddg.software_trigger()
        assert ddg.read_timing_config(3) == (12345, 500, 0, 1000.0)
        assert ddg.read_temperature() == 25.0
    state = varek_sim.state()
    assert (state["delay3"], state["width3"], state["on3"], state["fired"]) == (1234500, 50000, 1, 1)


@pytest.mark.parametrize("fault, value, words", [
    ("refuse", None, "refused the software trigger"),
    ("silent", None, "nothing arrived from"),
    ("checksum", None, "damaged reply"),
    ("tail", None, "tail byte"),
    ("short-length", None, "length field 5"),
    ("delay", 1300, "nothing arrived from"),
    ("split", "3,600", "incomplete reply"),
])
def test_every_failing_fault_raises_and_the_next_operation_succeeds(varek_sim, fault, value, words):
    with Varek(varek_sim.port) as ddg:
        varek_sim.fault(fault, value)
        with pytest.raises(VarekError) as raised:
            ddg.software_trigger()
        assert words in raised.value.reason
        assert words in str(raised.value)
        assert raised.value.port == varek_sim.port
        assert raised.value.code == -2
        ddg.software_trigger()


@pytest.mark.parametrize("fault, value", [("noise", "0102EB00"), ("surplus", "EB9006001401009601CC")])
def test_bytes_around_a_good_reply_are_no_failure(varek_sim, fault, value):
    with Varek(varek_sim.port) as ddg:
        varek_sim.fault(fault, value)
        ddg.software_trigger()
        ddg.set_global_output(True)
    assert varek_sim.state()["global"] == 1


def test_queued_faults_can_be_cleared(varek_sim):
    with Varek(varek_sim.port) as ddg:
        varek_sim.fault("silent")
        varek_sim.clear()
        ddg.software_trigger()
    with pytest.raises(ValueError):
        varek_sim.fault("bogus")


def test_arguments_are_refused_before_anything_is_sent(varek_sim):
    with Varek(varek_sim.port) as ddg:
        for call, named in [(lambda: ddg.set_delay(9, 5), "channel 9"),
                            (lambda: ddg.set_pulse_width(1, -1), "pulse width -1"),
                            (lambda: ddg.set_trigger_freq(float("nan")), "frequency nan"),
                            (lambda: ddg.set_delay(2**32 + 1, 5), "channel 4294967297"),
                            (lambda: ddg.read_timing_config(0), "channel 0")]:
            with pytest.raises(ValueError) as raised:
                call()
            assert isinstance(raised.value, VarekArgumentError) and isinstance(raised.value, VarekError)
            assert named in str(raised.value)
    assert varek_sim.state()["fired"] == 0
