// The varekx_ extensions. Like the varek_ functions they let no exception
// cross into the host.
#include <algorithm>
#include <cstring>
#include <string>

#include "capi/handle.h"
#include "varek/varek_ext.h"

namespace {

static_assert(VarekDDG::CHANNEL_COUNT == sizeof(VarekxStatus{}.delay) / sizeof(std::int64_t),
              "one entry a channel in the C record");

// Copies what fits of `message` into the host's buffer, NUL-terminated and
// never ending inside a UTF-8 sequence; returns the whole length.
std::int32_t WriteMessage(const char* message, std::size_t length, char* buffer, std::int32_t size) {
    if (buffer != nullptr && size > 0) {
        std::size_t cut = std::min(length, static_cast<std::size_t>(size) - 1);
        while (cut > 0 && cut < length && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
        std::memcpy(buffer, message, cut);
        buffer[cut] = '\0';
    }
    return static_cast<std::int32_t>(length);
}

}  // namespace

extern "C" {

std::int32_t varekx_last_error(VarekHandle handle, char* buffer, std::int32_t size) {
    if (handle == nullptr) return -1;
    try {
        const std::string message = VarekDescribeOutcome(varek::ToConnection(handle)->LastExchange());
        return WriteMessage(message.data(), message.size(), buffer, size);
    } catch (...) {
        static const char kNoMemory[] = "out of memory while describing the failure";
        return WriteMessage(kNoMemory, sizeof kNoMemory - 1, buffer, size);
    }
}

std::int32_t varekx_read_status(VarekHandle handle, VarekxStatus* status) {
    if (handle == nullptr) return VAREK_NULL_HANDLE;
    try {
        VarekTimingConfig configs[VarekDDG::CHANNEL_COUNT];
        if (!varek::ToConnection(handle)->ReadAllTimingConfigs(status != nullptr ? configs : nullptr)) {
            return VAREK_FAILED;
        }
        for (std::size_t i = 0; i < VarekDDG::CHANNEL_COUNT; ++i) {
            status->delay[i] = configs[i].delay;
            status->pulse_width[i] = configs[i].pulse_width;
            status->value_a[i] = configs[i].chan_value_a;
            status->value_b[i] = configs[i].chan_value_b;
        }
        const VarekTimingConfig& first = configs[0];
        status->internal_trigger_freq = first.internal_trigger_freq;
        status->reg128 = first.reg128;
        status->reg130 = first.reg130;
        status->reg131 = first.reg131;
        status->reg136 = first.reg136;
        status->reg137 = first.reg137;
        status->reg138 = first.reg138;
        status->reg276 = first.reg276;
        return VAREK_OK;
    } catch (...) {
        return VAREK_FAILED;
    }
}

void varekx_limits(std::int32_t* channel_count, std::int64_t* max_timing_value, double* min_trigger_freq,
                   double* max_trigger_freq) {
    if (channel_count != nullptr) *channel_count = VarekDDG::CHANNEL_COUNT;
    if (max_timing_value != nullptr) *max_timing_value = VarekDDG::MAX_TIMING_VALUE;
    if (min_trigger_freq != nullptr) *min_trigger_freq = VarekDDG::MIN_INTERNAL_TRIGGER_FREQ;
    if (max_trigger_freq != nullptr) *max_trigger_freq = VarekDDG::MAX_INTERNAL_TRIGGER_FREQ;
}

}  // extern "C"
