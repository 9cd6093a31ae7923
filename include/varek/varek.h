/** @file
 * varek: the flat C interface, for C, Python ctypes, LabVIEW and MATLAB hosts.
 *
 * varek_init opens a connection and returns a handle; the nine operations act
 * on it; varek_close releases it. Calls on one handle must not overlap; calls
 * on different handles may run on different threads at once.
 *
 * Each operation is one request/response exchange of at most 1000 ms, never
 * retried; when it returns VAREK_FAILED, varekx_last_error and
 * varekx_last_outcome (varek_ext.h) say why. The nine operations return one
 * of these codes: */
#ifndef VAREK_VAREK_H
#define VAREK_VAREK_H

#include <stdint.h>

#include "varek/export.h"

#define VAREK_OK 0           /**< the operation succeeded */
#define VAREK_NULL_HANDLE -1 /**< the handle was null; nothing was done */
#define VAREK_FAILED -2      /**< rejected argument, port failure, no or refused reply; no output written */

#ifdef __cplusplus
extern "C" {
#endif

/** One open connection. Opaque: hosts keep and pass the pointer only. */
typedef struct VarekConnection* VarekHandle;

/** Opens PORT_NAME at BAUD (0 or less: 115200), 8 data bits, no parity, one
 * stop bit, for exclusive use. Windows: a name in the ANSI code page such as
 * "COM3" or "COM12" (COM10 and above get the `\\.\` prefix). Linux: a UTF-8
 * device path such as "/dev/ttyUSB0". Exchanges nothing with the instrument.
 * Returns null when the port cannot be opened. */
VAREK_API VarekHandle varek_init(const char* port_name, int32_t baud);

/** Closes the port and frees the handle. A null handle is ignored. */
VAREK_API void varek_close(VarekHandle handle);

/** MODE 0, 1 or 2 (instrument trigger codes 1, 2, 3; other values as 0). */
VAREK_API int32_t varek_set_trigger(VarekHandle handle, int32_t mode);

/** Internal trigger frequency; VAREK_FAILED for a value that is not a number,
 * above 250e6 or below about 0.0582, where the instrument has no setting. */
VAREK_API int32_t varek_set_trigger_freq(VarekHandle handle, double frequency);

/** CHANNEL 1..8; ON 0 is off, anything else on. */
VAREK_API int32_t varek_set_output_channel(VarekHandle handle, int32_t channel, int32_t on);

/** Sets CHANNEL's (1..8) delay, 0..184467440737095516 in the instrument's units. */
VAREK_API int32_t varek_set_delay(VarekHandle handle, int32_t channel, int64_t delay);
/** Sets CHANNEL's (1..8) pulse width, 0..184467440737095516 in the instrument's units. */
VAREK_API int32_t varek_set_pulse_width(VarekHandle handle, int32_t channel, int64_t pulse_width);

/** ON 0 is off, anything else on. */
VAREK_API int32_t varek_set_global_output(VarekHandle handle, int32_t on);

/** Fires one software trigger. */
VAREK_API int32_t varek_software_trigger(VarekHandle handle);

/** Writes *TEMPERATURE on success only; a null TEMPERATURE gives VAREK_FAILED. */
VAREK_API int32_t varek_read_temperature(VarekHandle handle, float* temperature);

/** Reads CHANNEL's (1..8) timing configuration. On success writes each output
 * that is not null; on failure writes none. */
VAREK_API int32_t varek_read_timing_config(VarekHandle handle, int32_t channel, int64_t* delay,
                                           int64_t* pulse_width, int32_t* reg131,
                                           double* internal_trigger_freq);

#ifdef __cplusplus
}
#endif

#endif
