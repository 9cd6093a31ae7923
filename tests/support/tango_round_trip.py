"""Every writable attribute of the Tango device written and read back, as the
device's tests check it both in PyTango's test context and in a real Tango
system."""


def write_and_read_back_every_attribute(test, device, delay_step, width_step, output_on, frequency, mode):
    """Writes channel c's delay c * delay_step, its width c * width_step and its
    output output_on(c), the frequency, the trigger mode and the global output
    on, and asserts that each reads back as written."""
    for channel in range(1, 9):
        device.write_attribute(f"Delay{channel}", delay_step * channel)
        device.write_attribute(f"PulseWidth{channel}", width_step * channel)
        device.write_attribute(f"Output{channel}", output_on(channel))
    device.InternalTriggerFrequency = frequency
    device.TriggerMode = mode
    device.GlobalOutput = True
    for channel in range(1, 9):
        test.assertEqual(device.read_attribute(f"Delay{channel}").value, delay_step * channel)
        test.assertEqual(device.read_attribute(f"PulseWidth{channel}").value, width_step * channel)
        test.assertEqual(device.read_attribute(f"Output{channel}").value, output_on(channel))
    test.assertEqual((device.InternalTriggerFrequency, device.TriggerMode, device.GlobalOutput),
                     (frequency, mode, True))
