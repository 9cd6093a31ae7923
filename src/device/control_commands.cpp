// The control operations: one path through check, build, exchange and
// acknowledge, fed by the request builders.
#include "device/control_requests.h"
#include "varek/varek_ddg.h"

namespace {

// The instrument says yes with 0x01 in the low byte of the reply's parameter;
// the reply's command, the high byte and the payload carry nothing we judge.
constexpr std::uint8_t kAcknowledged = 0x01;

bool Acknowledged(VarekDDG& device, const std::optional<varek::ControlRequest>& request) {
    if (!request) return false;
    VarekFrame reply;
    return device.SendFrameU32(request->cmd, request->param, request->words, &reply,
                               VarekDDG::OPERATION_TIMEOUT_MS) &&
           reply.valid && (reply.param & 0xFF) == kAcknowledged;
}

}  // namespace

bool VarekDDG::SetTrigger(VarekTriggerMode mode) { return Acknowledged(*this, varek::TriggerRequest(mode)); }

bool VarekDDG::SetInternalTriggerFreq(double frequency) {
    return Acknowledged(*this, varek::FrequencyRequest(frequency));
}

bool VarekDDG::SetOutputChannel(std::int32_t channel, bool on) {
    return Acknowledged(*this, varek::OutputChannelRequest(channel, on));
}

bool VarekDDG::SetDelay(std::int32_t channel, std::int64_t value) {
    return Acknowledged(*this, varek::TimingRequest(CMD_SET_DELAY, channel, value));
}

bool VarekDDG::SetPulseWidth(std::int32_t channel, std::int64_t value) {
    return Acknowledged(*this, varek::TimingRequest(CMD_SET_PULSE_WIDTH, channel, value));
}

bool VarekDDG::SetGlobalOutput(bool on) { return Acknowledged(*this, varek::GlobalOutputRequest(on)); }

bool VarekDDG::SoftwareTrigger() { return Acknowledged(*this, varek::SoftwareTriggerRequest()); }
