#ifndef VAREK_VAREK_DDG_H
#define VAREK_VAREK_DDG_H

#include <cstdint>
#include <vector>

#include "varek/exchange_report.h"
#include "varek/export.h"
#include "varek/serial_port.h"

// One decoded frame. Only a set `valid` means the other fields hold an
// accepted frame.
struct VarekFrame {
    bool valid = false;
    std::uint8_t cmd = 0;
    std::uint16_t param = 0;
    std::vector<std::uint8_t> data;
};

// The instrument's trigger modes. The library gives them no meaning beyond
// the trigger code it sends: Mode0 as 1, Mode1 as 2, Mode2 as 3, any other
// value as 1.
enum class VarekTriggerMode : std::int32_t { Mode0 = 0, Mode1 = 1, Mode2 = 2 };

// One channel's timing configuration with the instrument-wide values, as read
// from the instrument's status block. Delays and widths are in the
// instrument's units, as SetDelay and SetPulseWidth take them.
struct VarekTimingConfig {
    std::int32_t channel;
    std::int64_t delay;
    std::int64_t pulse_width;
    std::int32_t reg131;
    double internal_trigger_freq;
    std::int32_t reg130;
    std::int32_t reg128;
    std::int32_t reg138;
    std::int32_t reg136;
    std::int32_t reg137;
    std::int64_t chan_value_a;
    std::int64_t chan_value_b;
    float reg276;
};

// One connection with one instrument over one serial port. Every operation
// is a single request/response exchange; calls on one object must not overlap.
class VAREK_API VarekDDG {
public:
    static constexpr std::int32_t CHANNEL_COUNT = 8;
    // Trigger modes 0..TRIGGER_MODE_COUNT - 1, as VarekTriggerMode names them.
    static constexpr std::int32_t TRIGGER_MODE_COUNT = 3;
    // The baud rate the C interface opens at when the host gives none.
    static constexpr std::int32_t DEFAULT_BAUD = 115200;

    static constexpr std::uint8_t FRAME_HEAD0 = 0xEB;
    static constexpr std::uint8_t FRAME_HEAD1 = 0x90;
    static constexpr std::uint8_t FRAME_TAIL = 0xCC;

    // Command codes.
    static constexpr std::uint8_t CMD_SET_TRIGGER = 0x01;
    static constexpr std::uint8_t CMD_SET_INTERNAL_TRIGGER_FREQ = 0x05;
    static constexpr std::uint8_t CMD_SET_OUTPUT_CHANNEL = 0x06;
    static constexpr std::uint8_t CMD_SET_GLOBAL_OUTPUT = 0x07;
    static constexpr std::uint8_t CMD_SET_DELAY = 0x08;
    static constexpr std::uint8_t CMD_SET_PULSE_WIDTH = 0x09;
    static constexpr std::uint8_t CMD_SOFTWARE_TRIGGER = 0x14;
    static constexpr std::uint8_t CMD_READ_TEMPERATURE = 0x93;
    static constexpr std::uint8_t CMD_READ_TIMING_CONFIG = 0xC1;

    // The largest payload a frame can carry: its 16-bit length field counts
    // six bytes besides the payload.
    static constexpr std::int32_t MAX_PAYLOAD_LENGTH = 0xFFFF - 6;

    // Every operation below makes exactly one exchange with this time-out.
    static constexpr std::int32_t OPERATION_TIMEOUT_MS = 1000;

    // The largest delay or pulse width: the instrument receives them x100 in
    // 64 bits.
    static constexpr std::int64_t MAX_TIMING_VALUE = 184467440737095516;
    // The instrument counts its trigger period in ticks of this clock: a
    // frequency f travels as the 32-bit word trunc(clock / f) and a period
    // word w reads back as clock / w.
    static constexpr double FREQUENCY_CLOCK_HZ = 250000000.0;
    // Internal trigger frequencies run above MIN (exclusive) up to MAX, where
    // the word is 1..0xFFFFFFFF.
    static constexpr double MIN_INTERNAL_TRIGGER_FREQ = FREQUENCY_CLOCK_HZ / 4294967296.0;
    static constexpr double MAX_INTERNAL_TRIGGER_FREQ = FREQUENCY_CLOCK_HZ;

    // Frame codec: pure functions of bytes, usable without an open port.
    static std::uint16_t Checksum(const std::uint8_t* bytes, std::int32_t len);
    static void BuildFrame(std::uint8_t cmd, std::uint16_t param, const std::uint8_t* payload,
                           std::int32_t len, std::vector<std::uint8_t>& out);
    static void BuildFrameU32(std::uint8_t cmd, std::uint16_t param, const std::vector<std::uint32_t>& words,
                              std::vector<std::uint8_t>& out);
    static bool ParseFrame(const std::uint8_t* buf, std::int32_t len, VarekFrame& frame);
    static void DumpFrame(const std::vector<std::uint8_t>& bytes, const char* label);

    VarekDDG() = default;
    ~VarekDDG();
    VarekDDG(const VarekDDG&) = delete;
    VarekDDG& operator=(const VarekDDG&) = delete;

    // Opens at 8 data bits, one stop bit, no parity. Exchanges nothing.
    bool Open(const PortNameChar* port_name, std::int32_t baud);
    void Close();
    bool IsOpen() const;
    SerialPort& Port();

    // Writes one request frame and, when `reply` is not null, waits up to
    // `timeout_ms` for the reply frame and decodes it into `*reply`.
    bool SendFrame(std::uint8_t cmd, std::uint16_t param, const std::uint8_t* payload, std::int32_t len,
                   VarekFrame* reply, std::int32_t timeout_ms);
    bool SendFrameU32(std::uint8_t cmd, std::uint16_t param, const std::vector<std::uint32_t>& words,
                      VarekFrame* reply, std::int32_t timeout_ms);

    // Control operations: true when the instrument acknowledged the request.
    // An argument the instrument cannot be sent as given (a channel outside
    // 1..8, a negative or too large delay or width, a frequency that has no
    // 32-bit frequency word) fails before anything is sent.
    bool SetTrigger(VarekTriggerMode mode);
    bool SetInternalTriggerFreq(double frequency);
    bool SetOutputChannel(std::int32_t channel, bool on);
    bool SetDelay(std::int32_t channel, std::int64_t value);
    bool SetPulseWidth(std::int32_t channel, std::int64_t value);
    bool SetGlobalOutput(bool on);
    bool SoftwareTrigger();

    // Queries: the output is written only when the call returns true.
    bool ReadTemperature(float* out);
    bool ReadTimingConfig(std::int32_t channel, VarekTimingConfig* out);
    // Every channel's timing from one status read: `out` holds CHANNEL_COUNT
    // records, channel 1 first, written only when the call returns true.
    bool ReadAllTimingConfigs(VarekTimingConfig* out);

    // How the last call of Open, SendFrame, SendFrameU32 or an operation
    // ended, why it failed, and every byte it wrote and read.
    const VarekExchangeReport& LastExchange() const;

private:
    bool RecvFrame(VarekFrame& reply, std::int32_t timeout_ms);
    // Judges a control operation's request: rejected arguments, the
    // exchange, and the acknowledgement.
    template <typename Request>
    bool Control(const Request& request);
    // Sends query `cmd`; true when its reply carries at least `needed` bytes.
    bool Query(std::uint8_t cmd, std::size_t needed, VarekFrame& reply);
    bool Rejected(const char* what);

    SerialPort port;
    VarekExchangeReport last_exchange;
};

#endif
