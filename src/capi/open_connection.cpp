#include <new>

#include "capi/handle.h"
#include "varek/ports.h"

namespace varek {

VarekDDG* OpenConnection(const char* name, std::int32_t baud, std::string& why) {
    const VarekResolvedPort port = VarekResolvePort(name);
    if (!port.ok()) {
        why = port.why;
        return nullptr;
    }
    VarekDDG* connection = new (std::nothrow) VarekDDG();
    if (connection == nullptr) {
        why = "out of memory for the connection";
        return nullptr;
    }
    if (!connection->Open(port.system_name.c_str(), baud > 0 ? baud : VarekDDG::DEFAULT_BAUD)) {
        why = VarekDescribeOutcome(connection->LastExchange());
        connection->Close();
        delete connection;
        return nullptr;
    }
    why.clear();
    return connection;
}

}  // namespace varek
