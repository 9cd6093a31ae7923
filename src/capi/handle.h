// The C interface's handle is a connection, seen from C as an opaque pointer.
#ifndef VAREK_CAPI_HANDLE_H
#define VAREK_CAPI_HANDLE_H

#include "varek/varek.h"
#include "varek/varek_ddg.h"

namespace varek {

inline VarekDDG* ToConnection(VarekHandle handle) { return reinterpret_cast<VarekDDG*>(handle); }

}  // namespace varek

#endif
