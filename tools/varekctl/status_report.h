// How varekctl shows what it read: a table for people, JSON for programs.
#ifndef VAREKCTL_STATUS_REPORT_H
#define VAREKCTL_STATUS_REPORT_H

#include <string>
#include <vector>

#include "varek/varek_ddg.h"

namespace varekctl {

void PrintTemperature(float temperature, bool json);
// `configs` holds one record per channel read, all from the same instrument.
void PrintStatus(const std::string& port, const std::vector<VarekTimingConfig>& configs, bool json);

}  // namespace varekctl

#endif
