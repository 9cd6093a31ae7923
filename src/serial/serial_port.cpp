// What SerialPort does alike on every platform: the choice, at Open, between
// a serial device and a network line, and the hand-over of each call.
#include <string>

#include "net/network_line.h"
#include "varek/serial_port.h"

namespace {

// The name as ASCII text. Any other character becomes '?', which no
// network name holds.
std::string AsciiName(const PortNameChar* name) {
    std::string text;
    for (; *name != 0; ++name) {
        const auto code = static_cast<std::uint32_t>(*name);
        text += code < 0x80 ? static_cast<char>(code) : '?';
    }
    return text;
}

}  // namespace

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Open(const PortNameChar* port_name, std::int32_t baud, std::int32_t data_bits,
                      StopBits stop_bits, Parity parity) {
    VarekOpenError ignored;
    return Open(port_name, baud, data_bits, stop_bits, parity, ignored);
}

bool SerialPort::Open(const PortNameChar* port_name, std::int32_t baud, std::int32_t data_bits,
                      StopBits stop_bits, Parity parity, VarekOpenError& error) {
    if (IsOpen()) Close();
    error = {};
    if (port_name == nullptr) {
        error = {VarekOpenFailure::NoSuchPort, 0};
        return false;
    }
    const std::string name = AsciiName(port_name);
    if (!varek::net::IsNetworkName(name))
        return OpenDevice(port_name, baud, data_bits, stop_bits, parity, error);
    std::string why;
    const auto address = varek::net::ParseNetworkAddress(name, why);
    if (!address) {
        error = {VarekOpenFailure::NoSuchPort, 0};
        return false;
    }
    network = varek::net::NetworkLine::Open(*address, baud, data_bits, stop_bits, parity, error).release();
    return network != nullptr;
}

void SerialPort::Close() {
    delete network;
    network = nullptr;
    CloseDevice();
}

bool SerialPort::SetTimeouts(const CommTimeouts& new_timeouts) {
    if (network != nullptr) return true;  // each network read and write has its own wait
    return IsOpen() && SetDeviceTimeouts(new_timeouts);
}

std::int32_t SerialPort::Read(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    if (!IsOpen() || buffer == nullptr || count <= 0) return -1;
    if (network != nullptr) return network->Read(buffer, count, timeout_ms);
    return ReadDevice(buffer, count, timeout_ms);
}

std::int32_t SerialPort::ReadAll(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    if (!IsOpen() || buffer == nullptr || count <= 0) return -1;
    if (network != nullptr) return network->ReadAll(buffer, count, timeout_ms);
    return ReadDeviceAll(buffer, count, timeout_ms);
}

std::int32_t SerialPort::Write(const std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    if (!IsOpen() || buffer == nullptr || count <= 0) return -1;
    if (network != nullptr) return network->Write(buffer, count, timeout_ms);
    return WriteDevice(buffer, count, timeout_ms);
}

bool SerialPort::DiscardInput() {
    if (network != nullptr) return network->DiscardInput();
    if (IsOpen()) DiscardDeviceInput();
    return true;
}

std::uint64_t SerialPort::TelnetBytesReceived() const {
    return network != nullptr ? network->telnet_bytes_received() : 0;
}
