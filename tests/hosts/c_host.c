/* A host written in C that knows the library only by its exported names:
 * it loads it at run time, drives every operation on the simulated
 * instrument named by VAREK_SIM_C_PORT, and checks results and outputs.
 *   c_host LIBRARY_PATH */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "library_loader.h"
#include "varek/varek.h"
#include "varek/varek_ext.h"

typedef VarekHandle (*InitFn)(const char*, int32_t);
typedef void (*CloseFn)(VarekHandle);
typedef int32_t (*HandleFn)(VarekHandle);
typedef int32_t (*IntFn)(VarekHandle, int32_t);
typedef int32_t (*DoubleFn)(VarekHandle, double);
typedef int32_t (*ChannelIntFn)(VarekHandle, int32_t, int32_t);
typedef int32_t (*ChannelValueFn)(VarekHandle, int32_t, int64_t);
typedef int32_t (*TemperatureFn)(VarekHandle, float*);
typedef int32_t (*TimingFn)(VarekHandle, int32_t, int64_t*, int64_t*, int32_t*, double*);
typedef int32_t (*LastErrorFn)(VarekHandle, char*, int32_t);
typedef int32_t (*StatusFn)(VarekHandle, VarekxStatus*);
typedef VarekHandle (*OpenFn)(const char*, int32_t, char*, int32_t);
typedef VarekHandle (*OpenV2Fn)(const char*, int32_t, char*, int32_t, int32_t*, int32_t*);
typedef const char* (*NameFn)(int32_t);
typedef int32_t (*ListFn)(char*, int32_t);
typedef void (*LimitsFn)(VarekxLimits*);
typedef int32_t (*CheckFn)(int32_t, int64_t, double, char*, int32_t);

static int failures = 0;
static int checks = 0;

static void check(int ok, const char* what) {
    ++checks;
    if (!ok) {
        ++failures;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

static void* require(void* library, const char* name) {
    void* symbol = find_symbol(library, name);
    if (symbol == NULL) {
        fprintf(stderr, "the library does not export %s\n", name);
        exit(1);
    }
    return symbol;
}

/* Object pointer to function pointer, through memcpy as ISO C allows. */
#define RESOLVE(type, var, name)               \
    type var;                                  \
    {                                          \
        void* symbol = require(library, name); \
        memcpy(&var, &symbol, sizeof var);     \
    }

int main(int argc, char** argv) {
    const char* port = getenv("VAREK_SIM_C_PORT");
    if (argc != 2 || port == NULL) {
        fprintf(stderr, "usage: VAREK_SIM_C_PORT=PORT c_host LIBRARY\n");
        return 2;
    }
    void* library = load_library(argv[1]);
    if (library == NULL) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    RESOLVE(InitFn, init, "varek_init");
    RESOLVE(CloseFn, close_handle, "varek_close");
    RESOLVE(IntFn, set_trigger, "varek_set_trigger");
    RESOLVE(DoubleFn, set_trigger_freq, "varek_set_trigger_freq");
    RESOLVE(ChannelIntFn, set_output_channel, "varek_set_output_channel");
    RESOLVE(ChannelValueFn, set_delay, "varek_set_delay");
    RESOLVE(ChannelValueFn, set_pulse_width, "varek_set_pulse_width");
    RESOLVE(IntFn, set_global_output, "varek_set_global_output");
    RESOLVE(HandleFn, software_trigger, "varek_software_trigger");
    RESOLVE(TemperatureFn, read_temperature, "varek_read_temperature");
    RESOLVE(TimingFn, read_timing_config, "varek_read_timing_config");
    RESOLVE(LastErrorFn, last_error, "varekx_last_error");
    RESOLVE(StatusFn, read_status, "varekx_read_status");
    RESOLVE(HandleFn, last_outcome, "varekx_last_outcome");
    RESOLVE(OpenFn, open_with_reason, "varekx_open");
    RESOLVE(OpenV2Fn, open_v2, "varekx_open_v2");
    RESOLVE(NameFn, outcome_name, "varekx_outcome_name");
    RESOLVE(NameFn, open_failure_name, "varekx_open_failure_name");
    RESOLVE(ListFn, list_ports, "varekx_list_ports");
    RESOLVE(LimitsFn, get_limits, "varekx_get_limits");
    RESOLVE(CheckFn, check_argument, "varekx_check_argument");
    const char* missing_port = getenv("VAREK_MISSING_C_PORT");

    VarekHandle handle = init(port, 0);
    if (handle == NULL) {
        fprintf(stderr, "varek_init(\"%s\") gave no handle\n", port);
        return 1;
    }
    check(set_trigger(handle, 1) == VAREK_OK, "set_trigger");
    check(set_trigger_freq(handle, 1000.0) == VAREK_OK, "set_trigger_freq");
    check(set_output_channel(handle, 3, 1) == VAREK_OK, "set_output_channel");
    check(set_delay(handle, 3, 12345) == VAREK_OK, "set_delay");
    check(set_pulse_width(handle, 3, 3000000000LL) == VAREK_OK, "set_pulse_width above 2^31");
    check(set_global_output(handle, 1) == VAREK_OK, "set_global_output");
    check(software_trigger(handle) == VAREK_OK, "software_trigger");

    float temperature = 0.0f;
    check(read_temperature(handle, &temperature) == VAREK_OK && temperature == 25.0f,
          "read_temperature 25.0");

    int64_t delay = 0, pulse_width = 0;
    int32_t reg131 = 0;
    double frequency = 0.0;
    check(read_timing_config(handle, 3, &delay, &pulse_width, &reg131, &frequency) == VAREK_OK,
          "read_timing_config");
    check(delay == 12345, "delay read back");
    check(pulse_width == 3000000000LL, "pulse width read back");
    check(reg131 == 1, "global output read back");
    check(frequency == 1000.0, "frequency read back");

    VarekxStatus status;
    memset(&status, 0, sizeof status);
    check(read_status(handle, &status) == VAREK_OK && status.delay[2] == 12345 &&
              status.pulse_width[2] == 3000000000LL && status.reg131 == 1 &&
              status.internal_trigger_freq == 1000.0,
          "varekx_read_status: every channel from one read");
    check(read_status(handle, NULL) == VAREK_FAILED && read_status(NULL, &status) == VAREK_NULL_HANDLE &&
              read_status(handle, &status) == VAREK_OK,
          "varekx_read_status refuses null pointers, and works after");

    char message[128];
    memset(message, 'x', sizeof message);
    check(last_error(handle, message, sizeof message) == 0 && message[0] == '\0', "no error after a success");

    check(set_delay(handle, 9, 1) == VAREK_FAILED, "channel 9 refused");
    const char* expected = "nothing sent: channel 9 is outside 1..8";
    const int32_t length = (int32_t)strlen(expected);
    check(last_error(handle, message, sizeof message) == length && strcmp(message, expected) == 0,
          "the refused channel named");
    memset(message, 'x', sizeof message);
    check(last_error(handle, message, 8) == length && strcmp(message, "nothing") == 0 && message[8] == 'x',
          "a short buffer gets what fits, terminated, and nothing past it");
    check(last_error(handle, NULL, 0) == length, "the length alone");
    check(last_error(NULL, message, sizeof message) == -1, "null handle for the error");
    check(last_outcome(handle) == VAREKX_OUTCOME_ARGUMENT_REJECTED, "the outcome: an argument rejected");
    check(software_trigger(handle) == VAREK_OK && last_error(handle, NULL, 0) == 0, "a success clears it");
    check(last_outcome(handle) == VAREKX_OUTCOME_SUCCEEDED, "the outcome: succeeded");
    check(last_outcome(NULL) == -1, "null handle for the outcome");
    check(software_trigger(NULL) == VAREK_NULL_HANDLE, "null handle");

    /* Opening with a reason: a missing port, a malformed usb: name, one that
     * matches nothing; each says so, and a good open says nothing. */
    char why[512];
    if (missing_port != NULL) {
        check(
            open_with_reason(missing_port, 0, why, sizeof why) == NULL && strstr(why, "no such port") != NULL,
            "varekx_open names a missing port");
    }
    check(open_with_reason("usb:12:34", 0, why, sizeof why) == NULL &&
              strstr(why, "usb:VID:PID or usb:VID:PID:SERIAL") != NULL,
          "varekx_open explains a malformed usb: name");
    check(open_with_reason("usb:FFFF:FFFE", 0, why, sizeof why) == NULL &&
              strstr(why, "no USB serial port matches usb:FFFF:FFFE") != NULL,
          "varekx_open says no USB port matches");
    check(open_with_reason(NULL, 0, why, sizeof why) == NULL && strcmp(why, "no port name given") == 0,
          "varekx_open refuses a null name");

    /* Why as data: the kind and the system's own error number, for a
     * missing, a busy and a refused port. */
    int32_t failure = -1, os_error = -1;
    if (missing_port != NULL) {
        check(open_v2(missing_port, 0, why, sizeof why, &failure, &os_error) == NULL &&
                  failure == VAREKX_OPEN_NO_SUCH_PORT && os_error == 2 && strstr(why, "no such port") != NULL,
              "varekx_open_v2: a missing port is no_such_port, the system's error 2");
    }
    const char* enforced = getenv("VAREK_SHARE_MODE_ENFORCED");
    if (enforced == NULL || strcmp(enforced, "0") != 0) {
        check(open_v2(port, 0, why, sizeof why, &failure, &os_error) == NULL && failure == VAREKX_OPEN_BUSY &&
                  os_error != 0,
              "varekx_open_v2: the port this host holds is busy, with the system's error");
    }
    check(open_v2("socket://127.0.0.1:1", 0, why, sizeof why, &failure, &os_error) == NULL &&
              failure == VAREKX_OPEN_CONNECT_REFUSED && os_error != 0 &&
              strstr(why, "connection refused") != NULL,
          "varekx_open_v2: a refused connect, with the system's error");
    check(open_v2("usb:FFFF:FFFE", 0, why, sizeof why, &failure, &os_error) == NULL &&
              failure == VAREKX_OPEN_NO_SUCH_PORT && os_error == 0,
          "varekx_open_v2: a usb: name no port has is no_such_port, with no system error");
    check(open_v2("usb:12:34", 0, NULL, 0, &failure, NULL) == NULL && failure == VAREKX_OPEN_NAME_MALFORMED,
          "varekx_open_v2: a malformed name, either pointer may be null");
    check(strcmp(open_failure_name(VAREKX_OPEN_BUSY), "busy") == 0 &&
              strcmp(open_failure_name(VAREKX_OPEN_NO_COM_PORT_AGREEMENT), "no_com_port_agreement") == 0 &&
              open_failure_name(-1) == NULL &&
              strcmp(outcome_name(VAREKX_OUTCOME_NOTHING_ARRIVED), "nothing_arrived") == 0 &&
              outcome_name(1000) == NULL,
          "the names of open failures and outcomes");
    close_handle(handle);
    handle = open_v2(port, 0, why, sizeof why, &failure, &os_error);
    check(handle != NULL && why[0] == '\0' && failure == VAREKX_OPEN_NONE && os_error == 0 &&
              software_trigger(handle) == VAREK_OK,
          "varekx_open_v2 opens, and says no failure");
    close_handle(handle);
    handle = open_with_reason(port, 0, why, sizeof why);
    check(handle != NULL && why[0] == '\0' && software_trigger(handle) == VAREK_OK, "varekx_open opens");

    /* The rules and limits, as a host that checks before sending asks them;
     * the values written out on purpose, as an independent check. */
    VarekxLimits limits;
    memset(&limits, 0, sizeof limits);
    get_limits(&limits);
    get_limits(NULL);
    check(limits.channel_count == 8 && limits.trigger_mode_count == 3 && limits.default_baud == 115200 &&
              limits.max_timing_value == 184467440737095516LL && limits.max_trigger_freq == 250000000.0,
          "varekx_get_limits");
    check(check_argument(VAREKX_ARGUMENT_CHANNEL, 8, 0.0, why, sizeof why) == 0 && why[0] == '\0',
          "channel 8 accepted");
    check(check_argument(VAREKX_ARGUMENT_CHANNEL, 9, 0.0, why, sizeof why) > 0 &&
              strcmp(why, "channel 9 is outside 1..8") == 0,
          "channel 9 refused in the library's words");
    check(check_argument(VAREKX_ARGUMENT_DELAY, -1, 0.0, NULL, 0) > 0, "a negative delay refused");
    check(check_argument(VAREKX_ARGUMENT_PULSE_WIDTH, 184467440737095516LL, 0.0, NULL, 0) == 0,
          "the largest pulse width accepted");
    check(check_argument(VAREKX_ARGUMENT_FREQUENCY, 0, 0.0, why, sizeof why) > 0 &&
              strstr(why, "internal trigger frequency 0 must be above") == why,
          "frequency 0 refused");
    check(check_argument(VAREKX_ARGUMENT_TRIGGER_MODE, 3, 0.0, why, sizeof why) > 0 &&
              strcmp(why, "trigger mode 3 is not one of 0, 1, 2") == 0,
          "trigger mode 3 refused");
    check(check_argument(99, 0, 0.0, why, sizeof why) == -1, "an unknown argument kind");

    /* The listing: tab-separated lines of ten fields, whatever ports there are. */
    const int32_t listing = list_ports(NULL, 0);
    char* ports = malloc((size_t)listing + 1);
    check(ports != NULL && list_ports(ports, listing + 1) == listing, "varekx_list_ports");
    int tabs = 0, lines = 0;
    for (int32_t i = 0; ports != NULL && i < listing; ++i) {
        tabs += ports[i] == '\t';
        lines += ports[i] == '\n';
    }
    check(tabs == 9 * lines && (listing == 0 || ports[listing - 1] == '\n'), "ten fields a line");
    free(ports);
    close_handle(handle);
    close_handle(NULL);
    unload_library(library);

    printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
