// ParseFrame on arbitrary bytes: it must never read outside them, and what it
// accepts must rebuild to the same frame. The checksum, summed in wide words,
// must equal a plain byte sum at every length and alignment.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "varek/varek_ddg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    std::uint32_t plain_sum = 0;
    for (std::size_t i = 0; i < size; ++i) plain_sum += data[i];
    if (size <= 65536 &&
        VarekDDG::Checksum(data, static_cast<std::int32_t>(size)) != static_cast<std::uint16_t>(plain_sum)) {
        std::abort();
    }
    VarekFrame frame;
    frame.valid = true;
    frame.cmd = 0x55;
    const bool accepted = VarekDDG::ParseFrame(bytes.data(), static_cast<std::int32_t>(bytes.size()), frame);
    if (accepted != frame.valid) std::abort();
    if (!accepted) {
        if (frame.cmd != 0 || frame.param != 0 || !frame.data.empty()) std::abort();
        return 0;
    }
    std::vector<std::uint8_t> rebuilt;
    VarekDDG::BuildFrame(frame.cmd, frame.param, frame.data.data(),
                         static_cast<std::int32_t>(frame.data.size()), rebuilt);
    if (rebuilt.size() > bytes.size() || !std::equal(rebuilt.begin(), rebuilt.end(), bytes.begin()))
        std::abort();
    return 0;
}
