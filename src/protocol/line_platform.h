// The platform's clock, as the exchange times its reads.
#ifndef VAREK_PROTOCOL_LINE_PLATFORM_H
#define VAREK_PROTOCOL_LINE_PLATFORM_H

#include <cstdint>

namespace varek {

// A millisecond clock that only moves forward (apart from its 32-bit wrap).
std::uint32_t TickCountMs();

}  // namespace varek

#endif
