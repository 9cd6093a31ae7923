// Finds whole request frames in the bytes the host writes, however they are
// cut. The simulator's own reading of the line, kept apart from the library's
// receive path so that it cannot share that path's mistakes.
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
