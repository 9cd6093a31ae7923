// Serial ports from SetupAPI: every present device with the COM-port
// interface, its friendly name, maker, USB identity and location. Ports the
// registry's SERIALCOMM map knows but SetupAPI does not (drivers without a
// device interface, Wine's mapped ports) are listed by name alone.
#include <windows.h>
// Before winioctl.h, so that it defines the interface GUID rather than declaring it.
#include <initguid.h>
// (a block of its own, so that sorting keeps the order)
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>

#include "ports/port_list.h"

namespace varek {

namespace {

std::string Narrow(const wchar_t* wide) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string text(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), needed, nullptr, nullptr);
    text.pop_back();  // the terminating NUL the conversion counted
    return text;
}

std::string DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t value[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(value), sizeof value - sizeof(wchar_t),
                                           nullptr)) {
        return "";
    }
    return Narrow(value);
}

std::string PortName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return "";
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                       &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read && type == REG_SZ ? Narrow(name) : "";
}

// The 4 hex digits after `tag` ("VID_", "PID_") in a device instance id.
std::string IdAfter(const std::string& instance, const char* tag) {
    const std::size_t at = instance.find(tag);
    return at == std::string::npos ? "" : instance.substr(at + 4, 4);
}

// The serial number a USB device reports is the last part of its instance
// id (USB\VID_0403&PID_6001\A1B2C3); Windows makes up ids with '&' in them
// for devices that report none. FTDI's own bus puts it after the PID with
// the port's letter appended (FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000).
std::string SerialFromInstance(const std::string& instance) {
    if (instance.rfind("USB\\", 0) == 0) {
        const std::string last = instance.substr(instance.rfind('\\') + 1);
        return last.find('&') == std::string::npos ? last : "";
    }
    if (instance.rfind("FTDIBUS\\", 0) == 0) {
        const std::size_t start = instance.find('+', instance.find("PID_"));
        const std::size_t end = instance.find('\\', start);
        if (start == std::string::npos || end == std::string::npos || end - start < 3) return "";
        return instance.substr(start + 1, end - start - 2);
    }
    return "";
}

void AddSetupApiPorts(std::vector<VarekPortInfo>& ports) {
    const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr,
                                                  DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        VarekPortInfo port;
        port.name = PortName(devices, device);
        if (port.name.empty()) continue;
        port.description = DeviceProperty(devices, device, SPDRP_FRIENDLYNAME);
        port.manufacturer = DeviceProperty(devices, device, SPDRP_MFG);
        port.location = DeviceProperty(devices, device, SPDRP_LOCATION_INFORMATION);
        wchar_t instance_id[512] = {};
        if (SetupDiGetDeviceInstanceIdW(devices, &device, instance_id, 511, nullptr)) {
            const std::string instance = Narrow(instance_id);
            port.vid = IdAfter(instance, "VID_");
            port.pid = port.vid.empty() ? "" : IdAfter(instance, "PID_");
            if (port.pid.empty()) port.vid.clear();
            port.serial_number = SerialFromInstance(instance);
        }
        port.product = port.is_usb() ? DeviceProperty(devices, device, SPDRP_DEVICEDESC) : "";
        ports.push_back(port);
    }
    SetupDiDestroyDeviceInfoList(devices);
}

void AddRegistryPorts(std::vector<VarekPortInfo>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t device[256];
        wchar_t com_name[64] = {};
        DWORD device_size = 256;
        DWORD com_size = sizeof com_name - sizeof(wchar_t);
        DWORD type = 0;
        if (RegEnumValueW(key, index, device, &device_size, nullptr, &type, reinterpret_cast<BYTE*>(com_name),
                          &com_size) != ERROR_SUCCESS) {
            break;
        }
        const std::string name = Narrow(com_name);
        if (type != REG_SZ || name.empty()) continue;
        const bool known = std::any_of(ports.begin(), ports.end(),
                                       [&](const VarekPortInfo& port) { return port.name == name; });
        if (known) continue;
        VarekPortInfo port;
        port.name = name;
        port.description = Narrow(device);
        ports.push_back(port);
    }
    RegCloseKey(key);
}

}  // namespace

std::vector<VarekPortInfo> PlatformPorts() {
    std::vector<VarekPortInfo> ports;
    AddSetupApiPorts(ports);
    AddRegistryPorts(ports);
    return ports;
}

}  // namespace varek
