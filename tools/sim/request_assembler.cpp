#include "request_assembler.h"

#include <algorithm>

#include "device/control_requests.h"
#include "protocol/frame_layout.h"

namespace varek::sim {

using frame_layout::kBytesBeforeCounted;
using frame_layout::kLengthFieldBias;
using varek::kLongestRequestLengthField;

std::vector<VarekFrame> RequestAssembler::Feed(const std::uint8_t* bytes, std::size_t count,
                                               Clock::time_point now) {
    dropped_ = now - last_bytes_ >= kRequestPause ? pending_.size() : 0;
    if (dropped_ > 0) pending_.clear();
    last_bytes_ = now;
    pending_.insert(pending_.end(), bytes, bytes + count);
    std::vector<VarekFrame> requests;
    std::size_t start = 0;
    std::size_t in_frames = 0;
    for (;;) {
        // Skip to the next head; a lone trailing EB may begin one.
        while (start + 1 < pending_.size() &&
               !(pending_[start] == VarekDDG::FRAME_HEAD0 && pending_[start + 1] == VarekDDG::FRAME_HEAD1)) {
            ++start;
        }
        if (start + kBytesBeforeCounted > pending_.size()) break;
        const auto length_field = static_cast<std::size_t>(pending_[start + 2] | (pending_[start + 3] << 8));
        // A length no request has is skipped at once: nothing is held, and
        // nothing summed, for a body that cannot be a request.
        if (length_field < static_cast<std::size_t>(kLengthFieldBias) ||
            length_field > static_cast<std::size_t>(kLongestRequestLengthField)) {
            ++start;
            continue;
        }
        const std::size_t frame_size = length_field + kBytesBeforeCounted;
        if (start + frame_size > pending_.size()) break;
        VarekFrame frame;
        if (VarekDDG::ParseFrame(pending_.data() + start, static_cast<std::int32_t>(frame_size), frame)) {
            requests.push_back(std::move(frame));
            start += frame_size;
            in_frames += frame_size;
        } else {
            ++start;  // not a frame after all: hunt on from the next byte
        }
    }
    if (start + 1 == pending_.size() && pending_[start] != VarekDDG::FRAME_HEAD0) ++start;
    skipped_ = std::min(start, pending_.size()) - in_frames;
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<std::ptrdiff_t>(std::min(start, pending_.size())));
    return requests;
}

}  // namespace varek::sim
