"""A QCoDeS measurement with the delay generator: a do1d over channel 3's
delay into a measurement database, read back by its run id.

    python3 examples/qcodes_do1d.py [PORT] [DATABASE]   (default: sim, and ./varek-example.db)
"""
import sys

from qcodes.dataset import do1d, initialise_or_create_database_at, load_by_id, load_or_create_experiment

from varek.qcodes import VarekDelayGenerator

port = sys.argv[1] if len(sys.argv) > 1 else "sim"
database = sys.argv[2] if len(sys.argv) > 2 else "varek-example.db"
initialise_or_create_database_at(database)
load_or_create_experiment("delay scan", sample_name="varek")
ddg = VarekDelayGenerator("ddg", port, unit="1ns")
try:
    ddg.ch3.pulse_width(500)
    ddg.ch3.output(True)
    dataset, _, _ = do1d(ddg.ch3.delay, 0, 1000, 11, 0.01, ddg.ch3.delay_time, ddg.temperature,
                         do_plot=False, show_progress=False)
    data = load_by_id(dataset.run_id).get_parameter_data()
    print(f"run {dataset.run_id} in {database}:")
    for delay, seconds in zip(data["ddg_ch3_delay_time"]["ddg_ch3_delay"], data["ddg_ch3_delay_time"]["ddg_ch3_delay_time"]):
        print(f"  delay {delay:6.0f} units = {seconds:.3e} s")
    print("snapshot: channel 3 output", ddg.snapshot()["submodules"]["ch3"]["parameters"]["output"]["value"])
finally:
    ddg.close()
