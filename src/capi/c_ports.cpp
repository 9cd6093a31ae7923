// The varekx_ functions that name, list and open ports.
#include <string>

#include "capi/handle.h"
#include "capi/host_text.h"
#include "varek/ports.h"
#include "varek/varek_ext.h"

namespace {

// The C names of the open failures are VarekOpenFailure's numbers.
static_assert(VAREKX_OPEN_NONE == static_cast<int>(VarekOpenFailure::None) &&
                  VAREKX_OPEN_NO_SUCH_PORT == static_cast<int>(VarekOpenFailure::NoSuchPort) &&
                  VAREKX_OPEN_PERMISSION_DENIED == static_cast<int>(VarekOpenFailure::PermissionDenied) &&
                  VAREKX_OPEN_BUSY == static_cast<int>(VarekOpenFailure::Busy) &&
                  VAREKX_OPEN_NOT_A_SERIAL_DEVICE == static_cast<int>(VarekOpenFailure::NotASerialDevice) &&
                  VAREKX_OPEN_SETTINGS_REFUSED == static_cast<int>(VarekOpenFailure::SettingsRefused) &&
                  VAREKX_OPEN_OTHER == static_cast<int>(VarekOpenFailure::Other) &&
                  VAREKX_OPEN_CONNECT_REFUSED == static_cast<int>(VarekOpenFailure::ConnectRefused) &&
                  VAREKX_OPEN_CONNECT_TIMED_OUT == static_cast<int>(VarekOpenFailure::ConnectTimedOut) &&
                  VAREKX_OPEN_HOST_NOT_FOUND == static_cast<int>(VarekOpenFailure::HostNotFound) &&
                  VAREKX_OPEN_NO_COM_PORT_AGREEMENT ==
                      static_cast<int>(VarekOpenFailure::NoComPortAgreement) &&
                  VAREKX_OPEN_NAME_MALFORMED == static_cast<int>(VarekOpenFailure::NameMalformed) &&
                  VAREKX_OPEN_USB_NAME_AMBIGUOUS == static_cast<int>(VarekOpenFailure::UsbNameAmbiguous),
              "the open failures' C numbers follow VarekOpenFailure");

// A listing's field on its line: tabs and line breaks would end it early.
std::string Field(std::string value) {
    for (char& c : value) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return value;
}

std::string PortsAsText() {
    std::string text;
    for (const VarekPortInfo& port : VarekListPorts()) {
        for (const std::string* field :
             {&port.name, &port.description, &port.vid, &port.pid, &port.serial_number, &port.manufacturer,
              &port.product, &port.location, &port.by_id}) {
            text += Field(*field) + "\t";
        }
        text += Field(port.locator) + "\n";
    }
    return text;
}

}  // namespace

extern "C" {

VarekHandle varekx_open(const char* port_name, std::int32_t baud, char* why, std::int32_t why_size) {
    return varekx_open_v2(port_name, baud, why, why_size, nullptr, nullptr);
}

VarekHandle varekx_open_v2(const char* port_name, std::int32_t baud, char* why, std::int32_t why_size,
                           std::int32_t* failure, std::int32_t* os_error) {
    VarekPortOpening opening;
    VarekDDG* connection = nullptr;
    try {
        connection = varek::OpenConnection(port_name, baud, opening);
        varek::WriteHostText(opening.why, why, why_size);
    } catch (...) {
        opening.error = {VarekOpenFailure::Other, 0};
        varek::WriteHostText("out of memory while opening the port", why, why_size);
    }
    if (failure != nullptr) *failure = static_cast<std::int32_t>(opening.error.failure);
    if (os_error != nullptr) *os_error = opening.error.os_error;
    return reinterpret_cast<VarekHandle>(connection);
}

const char* varekx_outcome_name(std::int32_t outcome) {
    return VarekOutcomeName(static_cast<VarekOutcome>(outcome));
}

const char* varekx_open_failure_name(std::int32_t failure) {
    return VarekOpenFailureName(static_cast<VarekOpenFailure>(failure));
}

std::int32_t varekx_list_ports(char* buffer, std::int32_t size) {
    try {
        return varek::WriteHostText(PortsAsText(), buffer, size);
    } catch (...) {
        return varek::WriteHostText("", buffer, size);
    }
}

}  // extern "C"
