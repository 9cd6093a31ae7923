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

/* Every channel's timing and the instrument-wide values, from one status read.
 * Channel c is at index c - 1; delays, widths and the two tables as
 * varek_read_timing_config gives them. */
typedef struct VarekxStatus {
    int64_t delay[8];
    int64_t pulse_width[8];
    int64_t value_a[8];
    int64_t value_b[8];
    double internal_trigger_freq;
    int32_t reg128;
    int32_t reg130;
    int32_t reg131;
    int32_t reg136;
    int32_t reg137;
    int32_t reg138;
    float reg276;
} VarekxStatus;

/* Fills *STATUS from one exchange; written only on VAREK_OK. A null STATUS
 * gives VAREK_FAILED; a null handle VAREK_NULL_HANDLE. */
VAREK_API int32_t varekx_read_status(VarekHandle handle, VarekxStatus* status);

/* The library's limits, for hosts that show or check them: the number of
 * channels, the largest delay or pulse width, and the internal trigger
 * frequency's range (above MIN, up to and including MAX). Null outputs are
 * skipped. */
VAREK_API void varekx_limits(int32_t* channel_count, int64_t* max_timing_value, double* min_trigger_freq,
                             double* max_trigger_freq);

#ifdef __cplusplus
}
#endif

#endif
