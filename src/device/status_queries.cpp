// The two queries. Unlike the control operations they judge a reply by its
// payload length alone.
#include "device/control_requests.h"
#include "device/little_endian.h"
#include "device/status_block.h"
#include "varek/varek_ddg.h"

namespace {

constexpr std::size_t kTemperatureSize = 4;

}  // namespace

bool VarekDDG::Query(std::uint8_t cmd, std::size_t needed, VarekFrame& reply) {
    if (!SendFrame(cmd, 0, nullptr, 0, &reply, OPERATION_TIMEOUT_MS)) return false;
    if (reply.data.size() < needed) {
        last_exchange.outcome = VarekOutcome::PayloadTooShort;
        last_exchange.payload_size = static_cast<std::int32_t>(reply.data.size());
        last_exchange.payload_needed = static_cast<std::int32_t>(needed);
        return false;
    }
    return true;
}

bool VarekDDG::ReadTemperature(float* out) {
    if (out == nullptr) return Rejected("no place for the temperature (a null pointer)");
    VarekFrame reply;
    if (!Query(CMD_READ_TEMPERATURE, kTemperatureSize, reply)) return false;
    *out = varek::ReadFloatBits(reply.data, 0);
    return true;
}

bool VarekDDG::ReadAllTimingConfigs(VarekTimingConfig* out) {
    if (out == nullptr) return Rejected("no place for the timing configurations (a null pointer)");
    VarekFrame reply;
    if (!Query(CMD_READ_TIMING_CONFIG, varek::status_block::kMinimumSize, reply)) return false;
    for (std::int32_t channel = 1; channel <= CHANNEL_COUNT; ++channel) {
        varek::status_block::Decode(reply.data, channel, out[channel - 1]);
    }
    return true;
}

bool VarekDDG::ReadTimingConfig(std::int32_t channel, VarekTimingConfig* out) {
    if (out == nullptr) return Rejected("no place for the timing configuration (a null pointer)");
    if (const auto rejection = varek::ChannelRejection(channel)) return Rejected(rejection->c_str());
    VarekFrame reply;
    return Query(CMD_READ_TIMING_CONFIG, varek::status_block::kMinimumSize, reply) &&
           varek::status_block::Decode(reply.data, channel, *out);
}
