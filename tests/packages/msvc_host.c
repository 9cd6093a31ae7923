/* A host built as Microsoft's toolchain builds one: clang in MSVC mode,
 * linked by lld-link against the release's varek.lib, no C runtime at all.
 * It calls every C function on the simulated instrument named by
 * VAREK_SIM_C_PORT and prints "N passed, M failed". */
#include <stdint.h>

#include "varek/varek.h"
#include "varek/varek_ext.h"

/* kernel32, declared here: the program has no Windows SDK either. */
typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(uint32_t which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* bytes, uint32_t count,
                                              uint32_t* written, void* overlapped);
__declspec(dllimport) uint32_t
    __stdcall GetEnvironmentVariableA(const char* name, char* value, uint32_t size);
__declspec(dllimport) void __stdcall ExitProcess(uint32_t code);

int _fltused; /* the compiler's marker that floating point is used; a C runtime would define it */

static const uint32_t kStdOutput = (uint32_t)-11;
static int passed;
static int failed;

static uint32_t length_of(const char* text) {
    uint32_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

static void print(const char* text) {
    uint32_t written = 0;
    WriteFile(GetStdHandle(kStdOutput), text, length_of(text), &written, 0);
}

static void print_number(int value) {
    char digits[12];
    int at = 11;
    digits[at] = '\0';
    do {
        digits[--at] = (char)('0' + value % 10);
        value /= 10;
    } while (value > 0);
    print(digits + at);
}

static void check(int ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        print("FAILED: ");
        print(what);
        print("\n");
    }
}

static int starts_with(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text != *prefix) return 0;
    }
    return 1;
}

void mainCRTStartup(void) {
    char port[64];
    if (GetEnvironmentVariableA("VAREK_SIM_C_PORT", port, sizeof port) == 0) {
        print("VAREK_SIM_C_PORT is not set\n");
        ExitProcess(2);
    }
    VarekHandle handle = varek_init(port, 0);
    check(handle != 0, "varek_init");
    if (handle == 0) ExitProcess(1);
    check(varek_set_trigger(handle, 2) == VAREK_OK, "varek_set_trigger");
    check(varek_set_trigger_freq(handle, 1000.0) == VAREK_OK, "varek_set_trigger_freq");
    check(varek_set_output_channel(handle, 4, 1) == VAREK_OK, "varek_set_output_channel");
    check(varek_set_delay(handle, 4, 5000000000LL) == VAREK_OK, "varek_set_delay above 2^32");
    check(varek_set_pulse_width(handle, 4, 250) == VAREK_OK, "varek_set_pulse_width");
    check(varek_set_global_output(handle, 1) == VAREK_OK, "varek_set_global_output");
    check(varek_software_trigger(handle) == VAREK_OK, "varek_software_trigger");
    float temperature = 0.0f;
    check(varek_read_temperature(handle, &temperature) == VAREK_OK && temperature == 25.0f,
          "varek_read_temperature");
    int64_t delay = 0, width = 0;
    int32_t global = 0;
    double frequency = 0.0;
    check(varek_read_timing_config(handle, 4, &delay, &width, &global, &frequency) == VAREK_OK,
          "varek_read_timing_config");
    check(delay == 5000000000LL && width == 250 && global == 1 && frequency == 1000.0, "values read back");
    char reason[128];
    check(varekx_last_error(handle, reason, sizeof reason) == 0 && reason[0] == '\0',
          "no error after success");
    check(varek_set_delay(handle, 9, 1) == VAREK_FAILED, "channel 9 refused");
    check(varekx_last_error(handle, reason, sizeof reason) > 0 &&
              starts_with(reason, "nothing sent: channel 9"),
          "varekx_last_error names it");
    check(varek_software_trigger(0) == VAREK_NULL_HANDLE, "null handle");
    varek_close(handle);

    print_number(passed);
    print(" passed, ");
    print_number(failed);
    print(" failed\n");
    ExitProcess(failed == 0 ? 0 : 1);
}
