#include "request_assembler.h"

#include <algorithm>

namespace varek::sim {

std::vector<VarekFrame> RequestAssembler::Feed(const std::uint8_t* bytes, std::size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
    std::vector<VarekFrame> requests;
    std::size_t start = 0;
    for (;;) {
        // Skip to the next head; a lone trailing EB may begin one.
        while (start + 1 < pending_.size() &&
               !(pending_[start] == VarekDDG::FRAME_HEAD0 && pending_[start + 1] == VarekDDG::FRAME_HEAD1)) {
            ++start;
        }
        if (start + 4 > pending_.size()) break;
        const std::size_t length_field = pending_[start + 2] | (pending_[start + 3] << 8);
        if (length_field < 6) {
            ++start;
            continue;
        }
        if (start + length_field + 4 > pending_.size()) break;
        VarekFrame frame;
        if (VarekDDG::ParseFrame(pending_.data() + start, static_cast<std::int32_t>(length_field + 4),
                                 frame)) {
            requests.push_back(std::move(frame));
            start += length_field + 4;
        } else {
            ++start;  // not a frame after all: hunt on from the next byte
        }
    }
    if (start + 1 == pending_.size() && pending_[start] != VarekDDG::FRAME_HEAD0) ++start;
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<std::ptrdiff_t>(std::min(start, pending_.size())));
    return requests;
}

}  // namespace varek::sim
