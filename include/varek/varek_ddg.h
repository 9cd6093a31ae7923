/// @file
/// The class interface: VarekDDG, one connection with one instrument, and
/// the frame and timing records it reads and writes.
#ifndef VAREK_VAREK_DDG_H
#define VAREK_VAREK_DDG_H

#include <cstdint>
#include <vector>

#include "varek/exchange_report.h"
#include "varek/export.h"
#include "varek/serial_port.h"

/// One decoded frame. Only a set `valid` means the other fields hold an
/// accepted frame.
struct VarekFrame {
    bool valid = false;              ///< true when the bytes were an accepted frame
    std::uint8_t cmd = 0;            ///< the command code
    std::uint16_t param = 0;         ///< the 16-bit parameter (for replies, the status word)
    std::vector<std::uint8_t> data;  ///< the payload, as many bytes as the length field said
};

/// The instrument's trigger modes. The library gives them no meaning beyond
/// the trigger code it sends: Mode0 as 1, Mode1 as 2, Mode2 as 3, any other
/// value as 1.
enum class VarekTriggerMode : std::int32_t { Mode0 = 0, Mode1 = 1, Mode2 = 2 };

/// One channel's timing configuration with the instrument-wide values, as read
/// from the instrument's status block. Delays and widths are in the
/// instrument's units, as SetDelay and SetPulseWidth take them.
struct VarekTimingConfig {
    std::int32_t channel;          ///< 1..8, as asked for
    std::int64_t delay;            ///< the channel's delay
    std::int64_t pulse_width;      ///< the channel's pulse width
    std::int32_t reg131;           ///< status register 131, as the instrument reports it
    double internal_trigger_freq;  ///< Hz: FREQUENCY_CLOCK_HZ over the period word read back
    std::int32_t reg130;           ///< status register 130, as reported
    std::int32_t reg128;           ///< status register 128, as reported
    std::int32_t reg138;           ///< status register 138, as reported
    std::int32_t reg136;           ///< status register 136, as reported
    std::int32_t reg137;           ///< status register 137, as reported
    std::int64_t chan_value_a;     ///< the channel's first raw 64-bit value, as reported
    std::int64_t chan_value_b;     ///< the channel's second raw 64-bit value, as reported
    float reg276;                  ///< status register 276, as reported
};

/// One connection with one instrument over one serial port. Every operation
/// is a single request/response exchange; calls on one object must not overlap.
class VAREK_API VarekDDG {
public:
    /// Channels are numbered 1..CHANNEL_COUNT.
    static constexpr std::int32_t CHANNEL_COUNT = 8;
    /// Trigger modes 0..TRIGGER_MODE_COUNT - 1, as VarekTriggerMode names them.
    static constexpr std::int32_t TRIGGER_MODE_COUNT = 3;
    /// The baud rate the C interface opens at when the host gives none.
    static constexpr std::int32_t DEFAULT_BAUD = 115200;

    static constexpr std::uint8_t FRAME_HEAD0 = 0xEB;  ///< a frame's first byte
    static constexpr std::uint8_t FRAME_HEAD1 = 0x90;  ///< a frame's second byte
    static constexpr std::uint8_t FRAME_TAIL = 0xCC;   ///< a frame's last byte

    /// @name Command codes
    /// The request's command byte of each operation; a reply repeats it.
    ///@{
    static constexpr std::uint8_t CMD_SET_TRIGGER = 0x01;                ///< SetTrigger
    static constexpr std::uint8_t CMD_SET_INTERNAL_TRIGGER_FREQ = 0x05;  ///< SetInternalTriggerFreq
    static constexpr std::uint8_t CMD_SET_OUTPUT_CHANNEL = 0x06;         ///< SetOutputChannel
    static constexpr std::uint8_t CMD_SET_GLOBAL_OUTPUT = 0x07;          ///< SetGlobalOutput
    static constexpr std::uint8_t CMD_SET_DELAY = 0x08;                  ///< SetDelay
    static constexpr std::uint8_t CMD_SET_PULSE_WIDTH = 0x09;            ///< SetPulseWidth
    static constexpr std::uint8_t CMD_SOFTWARE_TRIGGER = 0x14;           ///< SoftwareTrigger
    static constexpr std::uint8_t CMD_READ_TEMPERATURE = 0x93;           ///< ReadTemperature
    static constexpr std::uint8_t CMD_READ_TIMING_CONFIG = 0xC1;         ///< the status read
    ///@}

    /// The largest payload a frame can carry: its 16-bit length field counts
    /// six bytes besides the payload.
    static constexpr std::int32_t MAX_PAYLOAD_LENGTH = 0xFFFF - 6;

    /// Every operation below makes exactly one exchange with this time-out.
    static constexpr std::int32_t OPERATION_TIMEOUT_MS = 1000;

    /// The largest delay or pulse width: the instrument receives them x100 in
    /// 64 bits.
    static constexpr std::int64_t MAX_TIMING_VALUE = 184467440737095516;
    /// The instrument counts its trigger period in ticks of this clock: a
    /// frequency f travels as the 32-bit word trunc(clock / f) and a period
    /// word w reads back as clock / w.
    static constexpr double FREQUENCY_CLOCK_HZ = 250000000.0;
    /// Internal trigger frequencies run above MIN (exclusive) up to MAX, where
    /// the word is 1..0xFFFFFFFF.
    static constexpr double MIN_INTERNAL_TRIGGER_FREQ = FREQUENCY_CLOCK_HZ / 4294967296.0;
    /// The highest internal trigger frequency (inclusive): a period word of 1.
    static constexpr double MAX_INTERNAL_TRIGGER_FREQ = FREQUENCY_CLOCK_HZ;

    /// @name Frame codec
    /// Pure functions of bytes, usable without an open port and from any thread.
    ///@{

    /// The 16-bit sum of `len` bytes, as a frame's checksum field carries it.
    static std::uint16_t Checksum(const std::uint8_t* bytes, std::int32_t len);
    /// Replaces `out` with the frame of command `cmd`, parameter `param` and
    /// `len` payload bytes (0..MAX_PAYLOAD_LENGTH; `payload` may be null when
    /// `len` is 0): head, length, command, parameter, payload, checksum, tail.
    /// A `len` outside that range leaves `out` empty.
    static void BuildFrame(std::uint8_t cmd, std::uint16_t param, const std::uint8_t* payload,
                           std::int32_t len, std::vector<std::uint8_t>& out);
    /// As BuildFrame, the payload being `words`, each as four bytes, least significant first.
    static void BuildFrameU32(std::uint8_t cmd, std::uint16_t param, const std::vector<std::uint32_t>& words,
                              std::vector<std::uint8_t>& out);
    /// Decodes the frame at the start of the `len` bytes at `buf` (bytes after
    /// its tail are not looked at). True, with `frame` filled and `frame.valid`
    /// set, when head, length, tail and checksum agree; false, with `frame`
    /// cleared, otherwise.
    static bool ParseFrame(const std::uint8_t* buf, std::int32_t len, VarekFrame& frame);
    /// Prints `bytes` as hexadecimal to standard output, after `label` (when
    /// not null) and with their count; nothing for no bytes. For debugging by hand.
    static void DumpFrame(const std::vector<std::uint8_t>& bytes, const char* label);
    ///@}

    /// A connection with no port open.
    VarekDDG() = default;
    /// Closes the port, if open.
    ~VarekDDG();
    VarekDDG(const VarekDDG&) = delete;
    VarekDDG& operator=(const VarekDDG&) = delete;

    /// Opens `port_name` (as SerialPort::Open takes it) at `baud`, 8 data
    /// bits, one stop bit, no parity, for exclusive use. Exchanges nothing.
    /// False when it cannot be opened; LastExchange() then says why.
    bool Open(const PortNameChar* port_name, std::int32_t baud);
    /// Closes the port; a closed connection stays closed.
    void Close();
    /// True while the port is open.
    bool IsOpen() const;
    /// The port itself, for its settings and its last open error.
    SerialPort& Port();

    /// Writes one request frame and, when `reply` is not null, waits up to
    /// `timeout_ms` for the reply frame and decodes it into `*reply`.
    bool SendFrame(std::uint8_t cmd, std::uint16_t param, const std::uint8_t* payload, std::int32_t len,
                   VarekFrame* reply, std::int32_t timeout_ms);
    /// As SendFrame, the payload being `words`, each as four bytes, least significant first.
    bool SendFrameU32(std::uint8_t cmd, std::uint16_t param, const std::vector<std::uint32_t>& words,
                      VarekFrame* reply, std::int32_t timeout_ms);

    /// @name Control operations
    /// Each is one exchange of at most OPERATION_TIMEOUT_MS, true when the
    /// instrument acknowledged the request; on false LastExchange() holds the
    /// outcome and its reason. An argument the instrument cannot be sent as
    /// given (a channel outside 1..8, a negative or too large delay or width,
    /// a frequency that has no 32-bit frequency word) fails before anything
    /// is sent, as VarekOutcome::ArgumentRejected.
    ///@{

    /// Sets the trigger mode (sent as trigger code 1, 2 or 3).
    bool SetTrigger(VarekTriggerMode mode);
    /// Sets the internal trigger frequency in Hz, above MIN_INTERNAL_TRIGGER_FREQ up to
    /// MAX_INTERNAL_TRIGGER_FREQ.
    bool SetInternalTriggerFreq(double frequency);
    /// Turns channel `channel` (1..8) on or off.
    bool SetOutputChannel(std::int32_t channel, bool on);
    /// Sets channel `channel`'s delay, 0..MAX_TIMING_VALUE in the instrument's units.
    bool SetDelay(std::int32_t channel, std::int64_t value);
    /// Sets channel `channel`'s pulse width, 0..MAX_TIMING_VALUE in the instrument's units.
    bool SetPulseWidth(std::int32_t channel, std::int64_t value);
    /// Turns the global output on or off.
    bool SetGlobalOutput(bool on);
    /// Fires one software trigger.
    bool SoftwareTrigger();
    ///@}

    /// @name Queries
    /// One exchange each; the output is written only when the call returns
    /// true, and LastExchange() says why when it returns false.
    ///@{

    /// The instrument's temperature in degrees Celsius.
    bool ReadTemperature(float* out);
    /// Channel `channel`'s (1..8) timing configuration, from one status read.
    bool ReadTimingConfig(std::int32_t channel, VarekTimingConfig* out);
    /// Every channel's timing from one status read: `out` holds CHANNEL_COUNT
    /// records, channel 1 first, written only when the call returns true.
    bool ReadAllTimingConfigs(VarekTimingConfig* out);
    ///@}

    /// How the last call of Open, SendFrame, SendFrameU32 or an operation
    /// ended, why it failed, and every byte it wrote and read.
    const VarekExchangeReport& LastExchange() const;

private:
    bool RecvFrame(VarekFrame& reply, std::int32_t timeout_ms);
    /// Judges a control operation's request: rejected arguments, the
    /// exchange, and the acknowledgement.
    template <typename Request>
    bool Control(const Request& request);
    /// Sends query `cmd`; true when its reply carries at least `needed` bytes.
    bool Query(std::uint8_t cmd, std::size_t needed, VarekFrame& reply);
    bool Rejected(const char* what);

    SerialPort port;
    VarekExchangeReport last_exchange;
};

#endif
