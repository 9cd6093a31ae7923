#include <new>

#include "capi/handle.h"
#include "varek/ports.h"

namespace varek {

VarekDDG* OpenConnection(const char* name, std::int32_t baud, VarekPortOpening& opening) {
    VarekDDG* connection = new (std::nothrow) VarekDDG();
    if (connection == nullptr) {
        opening.error = {VarekOpenFailure::Other, 0};
        opening.why = "out of memory for the connection";
        return nullptr;
    }
    opening = VarekOpenPort(*connection, name, baud);
    if (!opening.ok()) {
        delete connection;
        return nullptr;
    }
    return connection;
}

}  // namespace varek
