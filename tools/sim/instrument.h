// What the simulated instrument answers to each request.
#ifndef VAREK_SIM_INSTRUMENT_H
#define VAREK_SIM_INSTRUMENT_H

#include <cstdint>
#include <vector>

#include "varek/varek_ddg.h"

namespace varek::sim {

class Instrument {
public:
    // The reply frame to one decoded request.
    std::vector<std::uint8_t> Answer(const VarekFrame& request);
};

}  // namespace varek::sim

#endif
