#ifndef VAREK_VAREK_DDG_H
#define VAREK_VAREK_DDG_H

#include <cstdint>
#include <vector>

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

// One connection with one instrument over one serial port. Every operation
// is a single request/response exchange; calls on one object must not overlap.
class VAREK_API VarekDDG {
public:
    static constexpr std::int32_t CHANNEL_COUNT = 8;

    static constexpr std::uint8_t FRAME_HEAD0 = 0xEB;
    static constexpr std::uint8_t FRAME_HEAD1 = 0x90;
    static constexpr std::uint8_t FRAME_TAIL = 0xCC;

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

private:
    bool RecvFrame(VarekFrame& reply, std::int32_t timeout_ms);

    SerialPort port;
};

#endif
