"""A Bluesky session with the delay generator: a scan of channel 3's delay
with a simulated point detector from ophyd-async, then a count that fires
the instrument at each point.

    python3 examples/bluesky_session.py [PORT]      (default: sim, a simulated instrument)
"""
import sys

import bluesky.plans as bp
from bluesky import RunEngine
from bluesky.callbacks import LiveTable
from ophyd_async.core import init_devices
from ophyd_async.sim import PatternGenerator, SimPointDetector

from varek.bluesky import VarekDelayGenerator

port = sys.argv[1] if len(sys.argv) > 1 else "sim"
RE = RunEngine()
with init_devices():
    ddg = VarekDelayGenerator(port, unit="1ns")
    detector = SimPointDetector(PatternGenerator(), num_channels=1)
try:
    RE(bp.scan([detector], ddg.channels[3].delay, 0, 1000, 11),
       LiveTable(["ddg-channels-3-delay", "detector-channel-1-value"]))
    RE(bp.count([ddg], num=3), LiveTable(["ddg-channels-3-delay", "ddg-channels-3-pulse_width"]))
finally:
    ddg.close()
