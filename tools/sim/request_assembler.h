// Finds whole request frames in the bytes the host writes, however they are
// cut, and hands each to the library's codec to check and decode.
//
// The codec checks and decodes one frame that starts at a known place; it
// cannot say where frames are in a stream. That part stays here, on the
// instrument's side: the host's receive path is not used, so that the
// simulator cannot share that path's mistakes, and an instrument listens
// differently anyway: it never times out a request, but forgets one left
// unfinished by a pause (Simulator) and takes several requests in a row.
#ifndef VAREK_SIM_REQUEST_ASSEMBLER_H
#define VAREK_SIM_REQUEST_ASSEMBLER_H

#include <cstdint>
#include <vector>

#include "varek/varek_ddg.h"

namespace varek::sim {

class RequestAssembler {
public:
    // Appends `bytes` and returns every request completed by them, in order.
    std::vector<VarekFrame> Feed(const std::uint8_t* bytes, std::size_t count);
    void Clear() { pending_.clear(); }
    // Bytes held for a request not yet whole.
    std::size_t pending() const { return pending_.size(); }

private:
    std::vector<std::uint8_t> pending_;
};

}  // namespace varek::sim

#endif
