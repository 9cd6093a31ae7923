"""A Python host that drives the library's C functions through ctypes, with
nothing but their declarations from the varek module, against the simulated
instrument named by VAREK_SIM_C_PORT.

    python3 python_host.py LIBRARY_PATH
"""
import ctypes
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from fake_device_tree import build_fake_device_tree  # noqa: E402
from varek import load_library  # noqa: E402

VAREK_OK, VAREK_NULL_HANDLE, VAREK_FAILED = 0, -1, -2
# The outcomes as varek_ext.h numbers them, written out on purpose: an independent check.
OUTCOME_SUCCEEDED, OUTCOME_ARGUMENT_REJECTED = 0, 4


def main():
    lib = load_library(sys.argv[1])
    port = os.environ["VAREK_SIM_C_PORT"].encode()
    failures = []
    checks = 0

    def check(ok, what):
        nonlocal checks
        checks += 1
        if not ok:
            failures.append(what)
            print("FAILED:", what, file=sys.stderr)

    handle = lib.varek_init(port, 0)
    if not handle:
        sys.exit(f"varek_init({port!r}) gave no handle")
    check(lib.varek_set_trigger(handle, 2) == VAREK_OK, "set_trigger")
    check(lib.varek_set_trigger_freq(handle, 3.0) == VAREK_OK, "set_trigger_freq")
    check(lib.varek_set_output_channel(handle, 8, 1) == VAREK_OK, "set_output_channel")
    check(lib.varek_set_delay(handle, 8, 2**40) == VAREK_OK, "set_delay above 2^32")
    check(lib.varek_set_pulse_width(handle, 8, 777) == VAREK_OK, "set_pulse_width")
    check(lib.varek_set_global_output(handle, 0) == VAREK_OK, "set_global_output")
    check(lib.varek_software_trigger(handle) == VAREK_OK, "software_trigger")

    temperature = ctypes.c_float(0)
    check(lib.varek_read_temperature(handle, ctypes.byref(temperature)) == VAREK_OK, "read_temperature")
    check(temperature.value == 25.0, "temperature 25.0")

    delay, width = ctypes.c_int64(0), ctypes.c_int64(0)
    reg131, frequency = ctypes.c_int32(-1), ctypes.c_double(0)
    check(lib.varek_read_timing_config(handle, 8, ctypes.byref(delay), ctypes.byref(width),
                                       ctypes.byref(reg131), ctypes.byref(frequency)) == VAREK_OK,
          "read_timing_config")
    check(delay.value == 2**40, "delay read back")
    check(width.value == 777, "pulse width read back")
    check(reg131.value == 0, "global output read back")
    # The clock written out on purpose (an independent check): 3 Hz is the word 83333333.
    check(frequency.value == 1e9 / (83333333 * 4.0), "frequency read back from its truncated word")
    check(lib.varek_read_timing_config(handle, 8, None, None, None, None) == VAREK_OK, "null outputs")
    message = ctypes.create_string_buffer(128)
    check(lib.varekx_last_error(handle, message, len(message)) == 0 and message.value == b"",
          "no error after a success")
    check(lib.varek_set_delay(handle, 0, 1) == VAREK_FAILED, "channel 0 refused")
    expected = b"nothing sent: channel 0 is outside 1..8"
    check(lib.varekx_last_error(handle, message, len(message)) == len(expected) and message.value == expected,
          "the refused channel named")
    short = ctypes.create_string_buffer(5)
    check(lib.varekx_last_error(handle, short, 5) == len(expected) and short.value == b"noth", "cut to fit")
    check(lib.varekx_last_error(None, message, len(message)) == -1, "null handle for the error")
    check(lib.varekx_last_outcome(handle) == OUTCOME_ARGUMENT_REJECTED, "the outcome of a refused argument")
    check(lib.varek_software_trigger(None) == VAREK_NULL_HANDLE, "null handle")
    lib.varek_close(handle)
    lib.varek_close(None)

    # varek_init and varekx_open take a USB adapter's identity, through a
    # device tree whose ttyUSB2 leads to the simulated instrument.
    with tempfile.TemporaryDirectory() as root:
        os.environ.update(build_fake_device_tree(root, port.decode()))
        handle = lib.varek_init(b"usb:0403:6001:A1B2C3", 0)
        check(bool(handle) and lib.varek_software_trigger(handle) == VAREK_OK, "varek_init with a usb: name")
        check(lib.varekx_last_outcome(handle) == OUTCOME_SUCCEEDED, "the outcome of a success")
        lib.varek_close(handle)
        check(not lib.varek_init(b"usb:0403:6001", 0), "varek_init with an ambiguous usb: name")
        why = ctypes.create_string_buffer(512)
        check(not lib.varekx_open(b"usb:0403:6001", 0, why, len(why)) and
              why.value.startswith(b"2 USB serial ports match usb:0403:6001: "), "varekx_open says it is ambiguous")
        listing = ctypes.create_string_buffer(4096)
        length = lib.varekx_list_ports(listing, len(listing))
        check(length == len(listing.value) and listing.value.count(b"\n") == 4 and
              b"\tusb:0403:6001:A1B2C3\n" in listing.value, "varekx_list_ports lists the tree")

    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
