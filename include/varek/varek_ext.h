/* varek extensions beside the C interface of varek.h, under their own prefix.
 * Exported from the same library. */
#ifndef VAREK_VAREK_EXT_H
#define VAREK_VAREK_EXT_H

#include <stdint.h>

#include "varek/export.h"
#include "varek/varek.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Why the last operation on HANDLE failed, in words naming the port, what was
 * seen and what to check: "nothing arrived from COM12 within 1000 ms: is the
 * instrument on, and on this port?". Writes the NUL-terminated message into
 * BUFFER, cut to fit SIZE bytes (nothing is written when BUFFER is null or
 * SIZE is 0 or less). Returns the whole message's length without its NUL
 * (a host may call again with a larger buffer), 0 when the last operation
 * succeeded (BUFFER then holds ""), -1 for a null handle. */
VAREK_API int32_t varekx_last_error(VarekHandle handle, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
