"""A fake sysfs and /dev, as the library's port listing reads them under
VAREK_SYSFS_ROOT and VAREK_DEV_ROOT, whose ttyUSB2 leads to a simulated
instrument: for the tests of port listings and usb: names."""
import os


def build_fake_device_tree(root, sim_port):
    """A sysfs and /dev as Linux shows them with two FTDI adapters (ttyUSB2, ttyUSB10), a CDC-ACM board,
    a 16550 UART, a placeholder ttyS and a virtual console; ttyUSB2 leads to the simulated instrument."""
    sys_root, dev_root = os.path.join(root, "sys"), os.path.join(root, "dev")

    def write(path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as out:
            out.write(text + "\n")

    def link(path, target):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(target, path)

    def tty(name, device, subsystem, driver):
        """/sys/class/tty/NAME, its device, and that device's bus and driver."""
        node = os.path.join(device, "tty", name)
        os.makedirs(node)
        link(os.path.join(sys_root, "class", "tty", name), node)
        link(os.path.join(node, "device"), device)
        link(os.path.join(device, "subsystem"), os.path.join(sys_root, "bus", subsystem))
        if driver:
            link(os.path.join(device, "driver"), os.path.join(sys_root, "bus", subsystem, "drivers", driver))

    def usb_device(path, vid, pid, serial, manufacturer, product):
        for name, value in (("idVendor", vid), ("idProduct", pid), ("serial", serial),
                            ("manufacturer", manufacturer), ("product", product)):
            if value:
                write(os.path.join(path, name), value)

    hub = os.path.join(sys_root, "devices", "pci0000:00", "0000:00:14.0", "usb1")
    for port_name, usb_path, serial in (("ttyUSB2", "1-2", "A1B2C3"), ("ttyUSB10", "1-4", "Z9")):
        usb_device(os.path.join(hub, usb_path), "0403", "6001", serial, "FTDI", "FT232R USB UART")
        tty(port_name, os.path.join(hub, usb_path, usb_path + ":1.0", port_name), "usb-serial", "ftdi_sio")
    usb_device(os.path.join(hub, "1-3"), "2341", "0043", "", "Arduino (www.arduino.cc)", "Arduino Uno")
    tty("ttyACM0", os.path.join(hub, "1-3", "1-3:1.0"), "usb", "cdc_acm")
    tty("ttyS0", os.path.join(sys_root, "devices", "pnp0", "00:01"), "pnp", "serial")
    tty("ttyS4", os.path.join(sys_root, "devices", "platform", "serial8250"), "platform", "serial8250")
    os.makedirs(os.path.join(sys_root, "devices", "virtual", "tty", "tty0"))
    link(os.path.join(sys_root, "class", "tty", "tty0"), os.path.join(sys_root, "devices", "virtual", "tty", "tty0"))

    link(os.path.join(dev_root, "ttyUSB2"), sim_port)
    link(os.path.join(dev_root, "serial", "by-id", "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"), "../../ttyUSB2")
    return {"VAREK_SYSFS_ROOT": sys_root, "VAREK_DEV_ROOT": dev_root}
