// The seven control operations as data: each argument list becomes one
// request (command, parameter, payload words), or nothing when the arguments
// cannot be sent as given.
#ifndef VAREK_DEVICE_CONTROL_REQUESTS_H
#define VAREK_DEVICE_CONTROL_REQUESTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/frame_layout.h"
#include "varek/varek_ddg.h"

namespace varek {

struct ControlRequest {
    std::uint8_t cmd;
    std::uint16_t param;
    std::vector<std::uint32_t> words;
};

// The longest request of the command set carries two payload words (a delay
// or a width: its 64-bit wire value); the queries carry none. A frame whose
// length field says more is no request the instrument takes.
constexpr std::size_t kLongestRequestWords = 2;
constexpr std::int32_t kLongestRequestLengthField =
    frame_layout::kLengthFieldBias + static_cast<std::int32_t>(4 * kLongestRequestWords);

// A request, or the reason its arguments cannot be sent.
class CheckedRequest {
public:
    CheckedRequest(ControlRequest request) : request_(std::move(request)) {}  // NOLINT: a request is checked
    static CheckedRequest Rejected(std::string why) {
        CheckedRequest rejected;
        rejected.rejection_ = std::move(why);
        return rejected;
    }

    bool has_value() const { return request_.has_value(); }
    explicit operator bool() const { return has_value(); }
    const ControlRequest* operator->() const { return &*request_; }
    const ControlRequest& operator*() const { return *request_; }
    // Names the argument and its limits; empty for a request.
    const std::string& rejection() const { return rejection_; }

private:
    CheckedRequest() = default;
    std::optional<ControlRequest> request_;
    std::string rejection_;
};

// Channels run 1..CHANNEL_COUNT; one unsigned comparison turns away 0,
// negatives and everything above.
inline bool ChannelInRange(std::int32_t channel) {
    return static_cast<std::uint32_t>(channel) - 1u < static_cast<std::uint32_t>(VarekDDG::CHANNEL_COUNT);
}

// Why `channel` cannot be sent, or nothing when it is in range.
std::optional<std::string> ChannelRejection(std::int32_t channel);

CheckedRequest TriggerRequest(VarekTriggerMode mode);
CheckedRequest FrequencyRequest(double frequency);
CheckedRequest OutputChannelRequest(std::int32_t channel, bool on);
CheckedRequest GlobalOutputRequest(bool on);
// `cmd` is CMD_SET_DELAY or CMD_SET_PULSE_WIDTH, which share their layout.
CheckedRequest TimingRequest(std::uint8_t cmd, std::int32_t channel, std::int64_t value);
CheckedRequest SoftwareTriggerRequest();

// The frequency word trunc(FREQUENCY_CLOCK_HZ / f), or nothing when no word from 1
// to 0xFFFFFFFF stands for `frequency` (not positive, NaN, above 250 MHz,
// below about 0.0582).
std::optional<std::uint32_t> FrequencyWord(double frequency);

}  // namespace varek

#endif
