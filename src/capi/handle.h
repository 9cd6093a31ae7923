// The C interface's handle is a connection, seen from C as an opaque pointer.
#ifndef VAREK_CAPI_HANDLE_H
#define VAREK_CAPI_HANDLE_H

#include <string>

#include "varek/ports.h"
#include "varek/varek.h"
#include "varek/varek_ddg.h"

namespace varek {

inline VarekDDG* ToConnection(VarekHandle handle) { return reinterpret_cast<VarekDDG*>(handle); }

// A connection on the port `name` resolves to, open at `baud` (0 or less:
// the default), or null with why not in `opening`. Resolving reads the port
// listing only for usb: names.
VarekDDG* OpenConnection(const char* name, std::int32_t baud, VarekPortOpening& opening);

}  // namespace varek

#endif
