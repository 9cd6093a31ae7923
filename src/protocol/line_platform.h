// The two platform services the exchange needs beyond the serial port itself.
#ifndef VAREK_PROTOCOL_LINE_PLATFORM_H
#define VAREK_PROTOCOL_LINE_PLATFORM_H

#include <cstdint>

#include "varek/serial_port.h"

namespace varek {

// Discards every byte received and not yet read, and ends a read in progress.
void PurgeInput(SerialPort& port);

// A millisecond clock that only moves forward (apart from its 32-bit wrap).
std::uint32_t TickCountMs();

}  // namespace varek

#endif
