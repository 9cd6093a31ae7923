// The two queries. Unlike the control operations they judge a reply by its
// payload length alone.
#include "device/control_requests.h"
#include "device/little_endian.h"
#include "device/status_block.h"
#include "varek/varek_ddg.h"

namespace {

constexpr std::size_t kTemperatureSize = 4;

bool Query(VarekDDG& device, std::uint8_t cmd, VarekFrame& reply) {
    return device.SendFrame(cmd, 0, nullptr, 0, &reply, VarekDDG::OPERATION_TIMEOUT_MS) && reply.valid;
}

}  // namespace

bool VarekDDG::ReadTemperature(float* out) {
    if (out == nullptr) return false;
    VarekFrame reply;
    if (!Query(*this, CMD_READ_TEMPERATURE, reply) || reply.data.size() < kTemperatureSize) return false;
    *out = varek::ReadFloatBits(reply.data, 0);
    return true;
}

bool VarekDDG::ReadTimingConfig(std::int32_t channel, VarekTimingConfig* out) {
    if (out == nullptr || !varek::ChannelInRange(channel)) return false;
    VarekFrame reply;
    return Query(*this, CMD_READ_TIMING_CONFIG, reply) &&
           varek::status_block::Decode(reply.data, channel, *out);
}
