/** @file
 * varek extensions beside the C interface of varek.h, under their own prefix.
 * Exported from the same library. */
#ifndef VAREK_VAREK_EXT_H
#define VAREK_VAREK_EXT_H

#include <stdint.h>

#include "varek/export.h"
#include "varek/varek.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Why the last operation on HANDLE failed, in words naming the port, what was
 * seen and what to check: "nothing arrived from COM12 within 1000 ms: is the
 * instrument on, and on this port?". Writes the NUL-terminated message into
 * BUFFER, cut to fit SIZE bytes (nothing is written when BUFFER is null or
 * SIZE is 0 or less). Returns the whole message's length without its NUL
 * (a host may call again with a larger buffer), 0 when the last operation
 * succeeded (BUFFER then holds ""), -1 for a null handle. */
VAREK_API int32_t varekx_last_error(VarekHandle handle, char* buffer, int32_t size);

/** Every channel's timing and the instrument-wide values, from one status read.
 * Channel c is at index c - 1; delays, widths and the two tables as
 * varek_read_timing_config gives them. */
typedef struct VarekxStatus {
    int64_t delay[8];             /**< each channel's delay, in the instrument's units */
    int64_t pulse_width[8];       /**< each channel's pulse width, in the instrument's units */
    int64_t value_a[8];           /**< each channel's first raw 64-bit value, as reported */
    int64_t value_b[8];           /**< each channel's second raw 64-bit value, as reported */
    double internal_trigger_freq; /**< Hz, from the period word read back */
    int32_t reg128;               /**< status register 128, as reported */
    int32_t reg130;               /**< status register 130, as reported */
    int32_t reg131;               /**< status register 131, as reported */
    int32_t reg136;               /**< status register 136, as reported */
    int32_t reg137;               /**< status register 137, as reported */
    int32_t reg138;               /**< status register 138, as reported */
    float reg276;                 /**< status register 276, as reported */
} VarekxStatus;

/** Fills *STATUS from one exchange; written only on VAREK_OK. A null STATUS
 * gives VAREK_FAILED; a null handle VAREK_NULL_HANDLE. */
VAREK_API int32_t varekx_read_status(VarekHandle handle, VarekxStatus* status);

/** The library's limits, for hosts that show or check them: the number of
 * channels, the largest delay or pulse width, and the internal trigger
 * frequency's range (above MIN, up to and including MAX). Null outputs are
 * skipped. */
VAREK_API void varekx_limits(int32_t* channel_count, int64_t* max_timing_value, double* min_trigger_freq,
                             double* max_trigger_freq);

/** The library's limits and defaults, for hosts that show or check them (the
 * successor of varekx_limits, with room to grow at the end). */
typedef struct VarekxLimits {
    int32_t channel_count;      /**< channels 1..channel_count */
    int32_t trigger_mode_count; /**< trigger modes 0..trigger_mode_count - 1 */
    int64_t max_timing_value;   /**< delays and pulse widths 0..max_timing_value */
    double min_trigger_freq;    /**< internal trigger frequencies above this (exclusive) */
    double max_trigger_freq;    /**< ... up to and including this */
    int32_t default_baud;       /**< what varek_init opens at for a baud of 0 */
} VarekxLimits;

/** Fills *LIMITS; a null LIMITS is ignored. */
VAREK_API void varekx_get_limits(VarekxLimits* limits);

/* The arguments varekx_check_argument knows. */
#define VAREKX_ARGUMENT_CHANNEL 0      /**< WHOLE: a channel number */
#define VAREKX_ARGUMENT_DELAY 1        /**< WHOLE: a delay */
#define VAREKX_ARGUMENT_PULSE_WIDTH 2  /**< WHOLE: a pulse width */
#define VAREKX_ARGUMENT_FREQUENCY 3    /**< REAL: an internal trigger frequency */
#define VAREKX_ARGUMENT_TRIGGER_MODE 4 /**< WHOLE: a trigger mode */

/** Checks one value as the library checks it before sending, without sending:
 * returns 0 when it may be sent (WHY then holds ""), else the length of the
 * reason, written into WHY as varekx_last_error writes ("channel 9 is outside
 * 1..8"); -1 for an ARGUMENT it does not know. */
VAREK_API int32_t varekx_check_argument(int32_t argument, int64_t whole, double real, char* why,
                                        int32_t why_size);

/* How the last operation on a handle ended, as varekx_last_outcome gives it.
 * Later kinds are added at the end; none is ever renumbered. */
#define VAREKX_OUTCOME_SUCCEEDED 0               /**< the operation did what it was asked */
#define VAREKX_OUTCOME_UNFINISHED 1              /**< stopped without a result (out of memory) */
#define VAREKX_OUTCOME_OPEN_FAILED 2             /**< the port did not open */
#define VAREKX_OUTCOME_NOT_OPEN 3                /**< the connection is not open */
#define VAREKX_OUTCOME_ARGUMENT_REJECTED 4       /**< refused before anything was sent */
#define VAREKX_OUTCOME_WRITE_INCOMPLETE 5        /**< the request did not go out whole */
#define VAREKX_OUTCOME_READ_FAILED 6             /**< the port failed while the reply was awaited */
#define VAREKX_OUTCOME_NOTHING_ARRIVED 7         /**< not one byte before the time-out */
#define VAREKX_OUTCOME_NO_FRAME_HEAD 8           /**< bytes, but no frame head among them */
#define VAREKX_OUTCOME_FRAME_INCOMPLETE 9        /**< a frame that stopped short */
#define VAREKX_OUTCOME_LENGTH_FIELD_TOO_SMALL 10 /**< a length field below the smallest frame's */
#define VAREKX_OUTCOME_BAD_TAIL 11               /**< a whole frame with a wrong tail byte */
#define VAREKX_OUTCOME_BAD_CHECKSUM 12           /**< a whole frame with a wrong checksum */
#define VAREKX_OUTCOME_PAYLOAD_TOO_SHORT 13      /**< a query's reply that carries too little */
#define VAREKX_OUTCOME_REFUSED 14                /**< the instrument said no */
#define VAREKX_OUTCOME_LINE_KEEPS_SENDING 15     /**< nothing sent: the line did not fall quiet */

/** The last operation's outcome on HANDLE, one of VAREKX_OUTCOME_*; -1 for a
 * null handle. */
VAREK_API int32_t varekx_last_outcome(VarekHandle handle);

/** What varek_init does (the same names, usb:VID:PID[:SERIAL] among them, and
 * 0 or less for 115200), and when it returns null, why: no such port, busy,
 * no permission, line settings refused, a usb: name that matches no port or
 * several. WHY gets the NUL-terminated reason cut to fit WHY_SIZE bytes, as
 * varekx_last_error writes it, and "" when the open succeeded. */
VAREK_API VarekHandle varekx_open(const char* port_name, int32_t baud, char* why, int32_t why_size);

/* Why a port did not open, as varekx_open_v2 gives it. Later kinds are
 * added at the end; none is ever renumbered. */
#define VAREKX_OPEN_NONE 0                   /**< it opened */
#define VAREKX_OPEN_NO_SUCH_PORT 1           /**< no such port, or a usb: name no port has */
#define VAREKX_OPEN_PERMISSION_DENIED 2      /**< the user may not open it */
#define VAREKX_OPEN_BUSY 3                   /**< another program holds it */
#define VAREKX_OPEN_NOT_A_SERIAL_DEVICE 4    /**< it opened, but takes no line settings */
#define VAREKX_OPEN_SETTINGS_REFUSED 5       /**< it refused the baud rate or framing */
#define VAREKX_OPEN_OTHER 6                  /**< another failure of the system's */
#define VAREKX_OPEN_CONNECT_REFUSED 7        /**< a network port: nothing listens, or it turned us away */
#define VAREKX_OPEN_CONNECT_TIMED_OUT 8      /**< a network port: nothing answered the connect in time */
#define VAREKX_OPEN_HOST_NOT_FOUND 9         /**< a network port: the host name does not resolve */
#define VAREKX_OPEN_NO_COM_PORT_AGREEMENT 10 /**< an rfc2217:// server did not take the COM port option */
#define VAREKX_OPEN_NAME_MALFORMED 11        /**< a name of a known kind written wrong (usb:12:34) */
#define VAREKX_OPEN_USB_NAME_AMBIGUOUS 12    /**< a usb: name that several ports have */

/** varekx_open, saying also why as data: FAILURE gets one of VAREKX_OPEN_*
 * (VAREKX_OPEN_NONE when it opened) and OS_ERROR the system's own error
 * number (errno on Linux, GetLastError() on Windows; 0 when the system gave
 * none, as for a usb: name that picked no port). Either pointer may be null. */
VAREK_API VarekHandle varekx_open_v2(const char* port_name, int32_t baud, char* why, int32_t why_size,
                                     int32_t* failure, int32_t* os_error);

/** The name of an outcome (VAREKX_OUTCOME_*) as programs use it: the C
 * name's words in lower case, "nothing_arrived". Static text, for any thread;
 * null for a number that is none. */
VAREK_API const char* varekx_outcome_name(int32_t outcome);
/** The name of an open failure (VAREKX_OPEN_*) as programs use it, "busy",
 * as varekx_outcome_name gives an outcome's. */
VAREK_API const char* varekx_open_failure_name(int32_t failure);

/** This machine's serial ports as text: one line a port, ending in a newline,
 * its fields separated by tabs in this order: name, description, USB vendor
 * id, USB product id, serial number, manufacturer, product, location, the
 * /dev/serial/by-id link, and the usb: name that opens it by identity ("" for
 * any of them the system does not know). UTF-8; a tab or line break inside a
 * value becomes a blank. Written into BUFFER as varekx_last_error writes;
 * returns the whole text's length. */
VAREK_API int32_t varekx_list_ports(char* buffer, int32_t size);

/* Setups: the setup document (UTF-8 JSON, {"varek_setup": 1, ...}) that
 * varekctl save writes and load reads. Text goes into buffers as
 * varekx_last_error writes it, and the length of the whole text is returned. */

/** Checks DOCUMENT whole, sending nothing: 0 when every field is known, of its
 * type and one the library would send (WHY then holds ""), else the length of
 * the reason, which names the field's path ("channels.3.delay: ..."). */
VAREK_API int32_t varekx_check_setup(const char* document, char* why, int32_t why_size);

/** What the instrument reports, from one status read, as a setup document,
 * the fields it cannot report null and UNIT (null or "" for none) as its
 * "unit": returns the document's length; VAREK_FAILED when the read failed
 * (varekx_last_error says why); VAREK_NULL_HANDLE for a null handle. */
VAREK_API int32_t varekx_read_setup(VarekHandle handle, const char* unit, char* buffer, int32_t size);

/* varekx_apply_setup's result beside VAREK_OK, VAREK_FAILED, VAREK_NULL_HANDLE. */
#define VAREKX_SETUP_DIFFERS 1 /**< applied, but the instrument reads back otherwise */

/** Checks DOCUMENT, then sends every field it gives (the global output goes
 * off first when timing changes and back on last), and with VERIFY nonzero
 * reads the status once and compares. Returns VAREK_OK with REPORT "";
 * VAREK_FAILED with the reason in REPORT (a document refused by the check,
 * nothing sent; or the operation that failed, as varekx_last_error says it);
 * or VAREKX_SETUP_DIFFERS with one line a difference in REPORT:
 * "PATH<tab>SENT<tab>READ<newline>". Whatever it returns (but
 * VAREK_NULL_HANDLE), TAKEN receives the setup document of the fields the
 * instrument took, the global output as the apply left it (off when it
 * stopped after switching it off), and UNCERTAIN that of the field whose
 * request failed after it went out, which the instrument may or may not have
 * carried out; either buffer may be null. A host that keeps what it set keeps
 * the first and forgets the second. */
VAREK_API int32_t varekx_apply_setup(VarekHandle handle, const char* document, int32_t verify, char* report,
                                     int32_t report_size, char* taken, int32_t taken_size, char* uncertain,
                                     int32_t uncertain_size);

/** Compares two setup documents as the library compares them: the values as
 * the instrument holds them (a frequency by its frequency word), a field
 * absent or null in either not compared. REPORT gets one line a difference,
 * "PATH<TAB>WANTED<TAB>FOUND", written as varekx_last_error writes. Returns
 * the number of differences, or -1 when either is no setup document (REPORT
 * then says why, naming the field). */
VAREK_API int32_t varekx_compare_setups(const char* wanted, const char* found, char* report,
                                        int32_t report_size);

/** 1 when the last operation on HANDLE failed because the port itself went
 * away (an adapter unplugged, a terminal server's connection closed), so
 * that only opening it again can help; 0 otherwise; -1 for a null handle. */
VAREK_API int32_t varekx_port_lost(VarekHandle handle);

/** Reads TEXT as a whole number of instrument units into *UNITS: a plain whole
 * number ("12345"), or a time with a prefix of seconds ("12.5us") converted by
 * UNIT, what one unit is ("1ns", "10ps"; null or "" when none is declared).
 * Returns 0, else the length of the reason written into WHY (*UNITS untouched). */
VAREK_API int32_t varekx_parse_time(const char* text, const char* unit, int64_t* units, char* why,
                                    int32_t why_size);

/** UNITS as a time with an SI prefix, exact ("12.345 us"), by UNIT; the plain
 * number when UNIT is null or "". Returns the text's length. */
VAREK_API int32_t varekx_format_time(int64_t units, const char* unit, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
