#include <algorithm>

#include "platform.h"

namespace varekctl {

namespace {

std::wstring Widen(const std::string& utf8) {
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), needed);
    wide.pop_back();  // the terminating NUL the conversion counted
    return wide;
}

std::string Narrow(const wchar_t* wide) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string text(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), needed, nullptr, nullptr);
    text.pop_back();
    return text;
}

}  // namespace

std::basic_string<PortNameChar> ToPortName(const std::string& name) {
    const std::wstring wide = Widen(name);
    // A bare device name (COM3, COM12) opens in the device namespace, which
    // COM10 and above require; a name that is already a path stays as given.
    return wide.find(L'\\') == std::wstring::npos ? L"\\\\.\\" + wide : wide;
}

std::string DescribeOpenFailure(const std::string& name) {
    const HANDLE probe = CreateFileW(ToPortName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return "it refused the line settings (baud rate?)";
    }
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "no such port";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return "in use by another program";
    default: return "the system refused to open it";
    }
}

std::vector<SerialPortInfo> ListSerialPorts() {
    // Every serial port the system has registered: value names are driver
    // devices (\Device\Serial0, \Device\USBSER000, \Device\VCP0), data the COM name.
    std::vector<SerialPortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t device[256];
        wchar_t com_name[64];
        DWORD device_size = 256;
        DWORD com_size = sizeof com_name;
        DWORD type = 0;
        if (RegEnumValueW(key, index, device, &device_size, nullptr, &type, reinterpret_cast<BYTE*>(com_name),
                          &com_size) != ERROR_SUCCESS) {
            break;
        }
        if (type != REG_SZ) continue;
        com_name[63] = L'\0';
        const std::string driver = Narrow(device);
        const bool usb = driver.find("USB") != std::string::npos || driver.find("VCP") != std::string::npos ||
                         driver.find("Silab") != std::string::npos;
        ports.push_back({Narrow(com_name), driver, usb});
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.name < b.name; });
    return ports;
}

std::unique_ptr<EmbeddedInstrument> StartEmbeddedInstrument() { return nullptr; }

}  // namespace varekctl
