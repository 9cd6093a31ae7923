// The control operations: one path through check, build, exchange and
// acknowledge, fed by the request builders.
#include "device/control_requests.h"
#include "varek/varek_ddg.h"

namespace {

// The instrument says yes with 0x01 in the low byte of the reply's parameter;
// the reply's command, the high byte and the payload carry nothing we judge.
constexpr std::uint8_t kAcknowledged = 0x01;

}  // namespace

bool VarekDDG::Rejected(const char* what) {
    last_exchange.Begin(OPERATION_TIMEOUT_MS);
    last_exchange.outcome = VarekOutcome::ArgumentRejected;
    last_exchange.rejection = what;
    return false;
}

template <typename Request>
bool VarekDDG::Control(const Request& request) {
    if (!request) return Rejected(request.rejection().c_str());
    VarekFrame reply;
    if (!SendFrameU32(request->cmd, request->param, request->words, &reply, OPERATION_TIMEOUT_MS))
        return false;
    if ((reply.param & 0xFF) != kAcknowledged) {
        last_exchange.outcome = VarekOutcome::Refused;
        last_exchange.reply_param = reply.param;
        return false;
    }
    return true;
}

bool VarekDDG::SetTrigger(VarekTriggerMode mode) { return Control(varek::TriggerRequest(mode)); }

bool VarekDDG::SetInternalTriggerFreq(double frequency) {
    return Control(varek::FrequencyRequest(frequency));
}

bool VarekDDG::SetOutputChannel(std::int32_t channel, bool on) {
    return Control(varek::OutputChannelRequest(channel, on));
}

bool VarekDDG::SetDelay(std::int32_t channel, std::int64_t value) {
    return Control(varek::TimingRequest(CMD_SET_DELAY, channel, value));
}

bool VarekDDG::SetPulseWidth(std::int32_t channel, std::int64_t value) {
    return Control(varek::TimingRequest(CMD_SET_PULSE_WIDTH, channel, value));
}

bool VarekDDG::SetGlobalOutput(bool on) { return Control(varek::GlobalOutputRequest(on)); }

bool VarekDDG::SoftwareTrigger() { return Control(varek::SoftwareTriggerRequest()); }
