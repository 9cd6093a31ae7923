// How varekctl shows what it read: a table for people, JSON for programs.
#ifndef VAREKCTL_STATUS_REPORT_H
#define VAREKCTL_STATUS_REPORT_H

#include <string>
#include <vector>

#include "port_list.h"
#include "varek/varek_ddg.h"

namespace varekctl {

std::string JsonString(const std::string& text);
// A number as JSON has it: null for NaN and the infinities.
std::string JsonNumber(double value);

void PrintTemperature(float temperature, bool json);
void PrintPorts(const std::vector<SerialPortInfo>& ports, bool json);
// `configs` holds one record per channel read, all from the same instrument.
void PrintStatus(const std::string& port, const std::vector<VarekTimingConfig>& configs, bool json);

}  // namespace varekctl

#endif
