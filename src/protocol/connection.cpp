// One connection: the port it owns and the request/response exchange.
#include "protocol/frame_layout.h"
#include "protocol/frame_receiver.h"
#include "protocol/line_platform.h"
#include "varek/varek_ddg.h"

VarekDDG::~VarekDDG() { Close(); }

bool VarekDDG::Open(const PortNameChar* port_name, std::int32_t baud) {
    return port.Open(port_name, baud, 8, StopBits::One, Parity::None);
}

void VarekDDG::Close() { port.Close(); }

bool VarekDDG::IsOpen() const { return port.IsOpen(); }

SerialPort& VarekDDG::Port() { return port; }

bool VarekDDG::SendFrame(std::uint8_t cmd, std::uint16_t param, const std::uint8_t* payload, std::int32_t len,
                         VarekFrame* reply, std::int32_t timeout_ms) {
    if (!port.IsOpen()) return false;
    std::vector<std::uint8_t> request;
    BuildFrame(cmd, param, payload, len, request);
    if (request.empty()) return false;

    // Whatever arrived since the last exchange (a late or surplus reply) must
    // not be taken for the answer to this request.
    varek::PurgeInput(port);
    const auto request_size = static_cast<std::int32_t>(request.size());
    if (port.Write(request.data(), request_size, timeout_ms) != request_size) return false;
    if (reply == nullptr) return true;
    return RecvFrame(*reply, timeout_ms);
}

bool VarekDDG::SendFrameU32(std::uint8_t cmd, std::uint16_t param, const std::vector<std::uint32_t>& words,
                            VarekFrame* reply, std::int32_t timeout_ms) {
    const std::vector<std::uint8_t> payload = varek::frame_layout::WordsToBytes(words);
    return SendFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), reply,
                     timeout_ms);
}

bool VarekDDG::RecvFrame(VarekFrame& reply, std::int32_t timeout_ms) {
    return varek::ReceiveFrame([this](std::uint8_t* buffer, std::int32_t count,
                                      std::int32_t wait_ms) { return port.Read(buffer, count, wait_ms); },
                               varek::TickCountMs, reply, timeout_ms);
}
