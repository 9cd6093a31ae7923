#include "instrument.h"

#include <cstring>
#include <sstream>

#include "device/status_block.h"

namespace varek::sim {

namespace {

constexpr std::uint16_t kAccepted = 0x0001;
constexpr std::uint16_t kRefused = 0x0000;
constexpr std::uint16_t kFirmwareVersion = 0x0102;

std::vector<std::uint8_t> Frame(std::uint8_t cmd, std::uint16_t param,
                                const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame;
    VarekDDG::BuildFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), frame);
    return frame;
}

void Put(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t Get(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
    return value;
}

std::uint32_t FloatBits(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool IsChannel(unsigned channel) { return channel >= 1 && channel <= VarekDDG::CHANNEL_COUNT; }

}  // namespace

std::vector<std::uint8_t> Instrument::Answer(const VarekFrame& request, bool refuse, bool ignore) {
    switch (request.cmd) {
    case VarekDDG::CMD_READ_TEMPERATURE:
        if (refuse) return Frame(request.cmd, kRefused, {});
        {
            std::vector<std::uint8_t> reading(4);
            Put(reading, 0, FloatBits(state_.temperature), 4);
            return Frame(request.cmd, kAccepted, reading);
        }
    case VarekDDG::CMD_READ_TIMING_CONFIG:
        return refuse ? Frame(request.cmd, kRefused, {}) : Frame(request.cmd, kAccepted, StatusBlock());
    default: {
        const bool accepted = !refuse && (ignore || Apply(request));
        return Frame(request.cmd, accepted ? kAccepted : kRefused, {});
    }
    }
}

bool Instrument::Apply(const VarekFrame& request) {
    const std::vector<std::uint8_t>& payload = request.data;
    switch (request.cmd) {
    case VarekDDG::CMD_SET_TRIGGER:
        if (request.param < 1 || request.param > 3 || !payload.empty()) return false;
        state_.trigger_code = request.param;
        return true;
    case VarekDDG::CMD_SET_INTERNAL_TRIGGER_FREQ: {
        if (payload.size() != 4 || Get(payload, 0, 4) == 0) return false;
        state_.frequency_word = static_cast<std::uint32_t>(Get(payload, 0, 4));
        return true;
    }
    case VarekDDG::CMD_SET_OUTPUT_CHANNEL: {
        const unsigned channel = request.param >> 8;
        const unsigned flag = request.param & 0xFF;
        if (!IsChannel(channel) || flag > 1 || !payload.empty()) return false;
        state_.channels[channel - 1].enabled = flag == 1;
        return true;
    }
    case VarekDDG::CMD_SET_GLOBAL_OUTPUT:
        if (request.param > 1 || !payload.empty()) return false;
        state_.global_output = request.param == 1;
        return true;
    case VarekDDG::CMD_SET_DELAY:
    case VarekDDG::CMD_SET_PULSE_WIDTH: {
        if (!IsChannel(request.param) || payload.size() != 8) return false;
        ChannelState& channel = state_.channels[request.param - 1u];
        (request.cmd == VarekDDG::CMD_SET_DELAY ? channel.delay : channel.pulse_width) = Get(payload, 0, 8);
        return true;
    }
    case VarekDDG::CMD_SOFTWARE_TRIGGER:
        if (!payload.empty()) return false;
        ++state_.software_triggers;
        return true;
    default: return false;
    }
}

std::vector<std::uint8_t> Instrument::StatusBlock() const {
    namespace layout = status_block;
    std::vector<std::uint8_t> block(layout::kMinimumSize, 0);
    std::uint8_t enabled_mask = 0;
    for (std::size_t c = 0; c < state_.channels.size(); ++c) {
        const ChannelState& channel = state_.channels[c];
        const std::size_t entry = c * layout::kTableEntrySize;
        Put(block, layout::kDelayTable + entry, channel.delay, layout::kTableEntrySize);
        Put(block, layout::kPulseWidthTable + entry, channel.pulse_width, layout::kTableEntrySize);
        Put(block, layout::kTableA + entry, channel.delay + channel.pulse_width, layout::kTableEntrySize);
        if (channel.enabled) enabled_mask = static_cast<std::uint8_t>(enabled_mask | (1u << c));
    }
    Put(block, layout::kReg128, VarekDDG::CHANNEL_COUNT, 2);
    Put(block, layout::kReg130, state_.trigger_code, 1);
    Put(block, layout::kReg131, state_.global_output ? 1 : 0, 1);
    Put(block, layout::kPeriodWord, state_.frequency_word, 4);
    Put(block, layout::kReg136, state_.software_triggers & 0xFF, 1);
    Put(block, layout::kReg137, enabled_mask, 1);
    Put(block, layout::kReg138, kFirmwareVersion, 2);
    Put(block, layout::kReg276, FloatBits(state_.temperature), 4);
    return block;
}

std::string Instrument::Describe() const {
    std::ostringstream text;
    text << "trigger=" << state_.trigger_code << " word=" << state_.frequency_word
         << " global=" << (state_.global_output ? 1 : 0) << " fired=" << state_.software_triggers
         << " temperature=" << state_.temperature;
    for (std::size_t c = 0; c < state_.channels.size(); ++c) {
        const ChannelState& channel = state_.channels[c];
        text << " delay" << c + 1 << '=' << channel.delay << " width" << c + 1 << '=' << channel.pulse_width
             << " on" << c + 1 << '=' << (channel.enabled ? 1 : 0);
    }
    return text.str();
}

}  // namespace varek::sim
