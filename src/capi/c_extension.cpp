// The varekx_ extensions. Like the varek_ functions they let no exception
// cross into the host.
#include <string>

#include "capi/handle.h"
#include "capi/host_text.h"
#include "varek/rules.h"
#include "varek/varek_ext.h"

namespace {

static_assert(VarekDDG::CHANNEL_COUNT == sizeof(VarekxStatus{}.delay) / sizeof(std::int64_t),
              "one entry a channel in the C record");

// The C names of the outcomes are VarekOutcome's numbers.
static_assert(VAREKX_OUTCOME_SUCCEEDED == static_cast<int>(VarekOutcome::Succeeded) &&
                  VAREKX_OUTCOME_UNFINISHED == static_cast<int>(VarekOutcome::Unfinished) &&
                  VAREKX_OUTCOME_OPEN_FAILED == static_cast<int>(VarekOutcome::OpenFailed) &&
                  VAREKX_OUTCOME_NOT_OPEN == static_cast<int>(VarekOutcome::NotOpen) &&
                  VAREKX_OUTCOME_ARGUMENT_REJECTED == static_cast<int>(VarekOutcome::ArgumentRejected) &&
                  VAREKX_OUTCOME_WRITE_INCOMPLETE == static_cast<int>(VarekOutcome::WriteIncomplete) &&
                  VAREKX_OUTCOME_READ_FAILED == static_cast<int>(VarekOutcome::ReadFailed) &&
                  VAREKX_OUTCOME_NOTHING_ARRIVED == static_cast<int>(VarekOutcome::NothingArrived) &&
                  VAREKX_OUTCOME_NO_FRAME_HEAD == static_cast<int>(VarekOutcome::NoFrameHead) &&
                  VAREKX_OUTCOME_FRAME_INCOMPLETE == static_cast<int>(VarekOutcome::FrameIncomplete) &&
                  VAREKX_OUTCOME_LENGTH_FIELD_TOO_SMALL ==
                      static_cast<int>(VarekOutcome::LengthFieldTooSmall) &&
                  VAREKX_OUTCOME_BAD_TAIL == static_cast<int>(VarekOutcome::BadTail) &&
                  VAREKX_OUTCOME_BAD_CHECKSUM == static_cast<int>(VarekOutcome::BadChecksum) &&
                  VAREKX_OUTCOME_PAYLOAD_TOO_SHORT == static_cast<int>(VarekOutcome::PayloadTooShort) &&
                  VAREKX_OUTCOME_REFUSED == static_cast<int>(VarekOutcome::Refused) &&
                  VAREKX_OUTCOME_LINE_KEEPS_SENDING == static_cast<int>(VarekOutcome::LineKeepsSending),
              "the outcomes' C numbers follow VarekOutcome");

const char kNoMemory[] = "out of memory while describing the failure";

}  // namespace

extern "C" {

std::int32_t varekx_last_error(VarekHandle handle, char* buffer, std::int32_t size) {
    if (handle == nullptr) return -1;
    try {
        return varek::WriteHostText(VarekDescribeOutcome(varek::ToConnection(handle)->LastExchange()), buffer,
                                    size);
    } catch (...) {
        return varek::WriteHostText(kNoMemory, buffer, size);
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

void varekx_get_limits(VarekxLimits* limits) {
    if (limits == nullptr) return;
    limits->channel_count = VarekDDG::CHANNEL_COUNT;
    limits->trigger_mode_count = VarekDDG::TRIGGER_MODE_COUNT;
    limits->max_timing_value = VarekDDG::MAX_TIMING_VALUE;
    limits->min_trigger_freq = VarekDDG::MIN_INTERNAL_TRIGGER_FREQ;
    limits->max_trigger_freq = VarekDDG::MAX_INTERNAL_TRIGGER_FREQ;
    limits->default_baud = VarekDDG::DEFAULT_BAUD;
}

std::int32_t varekx_check_argument(std::int32_t argument, std::int64_t whole, double real, char* why,
                                   std::int32_t why_size) {
    try {
        std::string rejection;
        switch (argument) {
        case VAREKX_ARGUMENT_CHANNEL: rejection = VarekChannelRejection(whole); break;
        case VAREKX_ARGUMENT_DELAY: rejection = VarekDelayRejection(whole); break;
        case VAREKX_ARGUMENT_PULSE_WIDTH: rejection = VarekPulseWidthRejection(whole); break;
        case VAREKX_ARGUMENT_FREQUENCY: rejection = VarekFrequencyRejection(real); break;
        case VAREKX_ARGUMENT_TRIGGER_MODE: rejection = VarekTriggerModeRejection(whole); break;
        default: varek::WriteHostText("", why, why_size); return -1;
        }
        return varek::WriteHostText(rejection, why, why_size);
    } catch (...) {
        return varek::WriteHostText(kNoMemory, why, why_size);
    }
}

std::int32_t varekx_last_outcome(VarekHandle handle) {
    if (handle == nullptr) return -1;
    return static_cast<std::int32_t>(varek::ToConnection(handle)->LastExchange().outcome);
}

}  // extern "C"
