// The varekx_ functions that name, list and open ports.
#include <string>

#include "capi/handle.h"
#include "capi/host_text.h"
#include "varek/ports.h"
#include "varek/varek_ext.h"

namespace {

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
    try {
        std::string reason;
        VarekDDG* connection = varek::OpenConnection(port_name, baud, reason);
        varek::WriteHostText(reason, why, why_size);
        return reinterpret_cast<VarekHandle>(connection);
    } catch (...) {
        varek::WriteHostText("out of memory while opening the port", why, why_size);
        return nullptr;
    }
}

std::int32_t varekx_list_ports(char* buffer, std::int32_t size) {
    try {
        return varek::WriteHostText(PortsAsText(), buffer, size);
    } catch (...) {
        return varek::WriteHostText("", buffer, size);
    }
}

}  // extern "C"
