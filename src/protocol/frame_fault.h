// The codec's acceptance rules, each with a name, so that the receive path
// can say which one a reply broke.
#ifndef VAREK_PROTOCOL_FRAME_FAULT_H
#define VAREK_PROTOCOL_FRAME_FAULT_H

#include <cstdint>

#include "varek/varek_ddg.h"

namespace varek {

enum class FrameFault { None, TooShort, Head, LengthField, Truncated, Tail, Checksum };

// VarekDDG::ParseFrame, returning the first rule the frame broke.
FrameFault ParseFrameChecked(const std::uint8_t* buf, std::int32_t len, VarekFrame& frame);

}  // namespace varek

#endif
