// The RFC 2217 decoder on arbitrary bytes from the network: wherever the
// stream is split, it must decode the same line bytes and owe the same
// answers; it never makes line bytes out of nothing; and any line bytes,
// escaped, must come back exactly, with no answer owed.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/telnet_stream.h"

using varek::net::TelnetStream;
using Bytes = std::vector<std::uint8_t>;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes whole_line;
    Bytes whole_answers;
    TelnetStream whole;
    whole.Take(data, size, whole_line, whole_answers);
    if (whole_line.size() > size) std::abort();

    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    Bytes split_line;
    Bytes split_answers;
    TelnetStream pieces;
    pieces.Take(data, split, split_line, split_answers);
    pieces.Take(data + split, size - split, split_line, split_answers);
    if (split_line != whole_line || split_answers != whole_answers ||
        pieces.agreement() != whole.agreement()) {
        std::abort();
    }

    Bytes wire;
    TelnetStream::Escape(data, size, wire);
    Bytes line;
    Bytes answers;
    TelnetStream fresh;
    fresh.Take(wire.data(), wire.size(), line, answers);
    if (line != Bytes(data, data + size) || !answers.empty()) std::abort();
    return 0;
}
