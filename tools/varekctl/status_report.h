// How varekctl shows what it read: a table for people, JSON for programs.
#ifndef VAREKCTL_STATUS_REPORT_H
#define VAREKCTL_STATUS_REPORT_H

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "varek/ports.h"
#include "varek/varek_ddg.h"

namespace varekctl {

// A number as JSON has it: null for NaN and the infinities.
nlohmann::ordered_json JsonNumber(double value);
// Prints `value` as one line of JSON.
void PrintJson(const nlohmann::ordered_json& value);

void PrintTemperature(float temperature, bool json);
void PrintPorts(const std::vector<VarekPortInfo>& ports, bool json);
// `configs` holds one record per channel read, all from the same instrument.
// Delays and widths with SI prefixes when `unit` is declared; the values whose
// meaning the instrument does not state last, under "raw status".
void PrintStatus(const std::string& port, const std::vector<VarekTimingConfig>& configs, bool json,
                 const std::string& unit);

}  // namespace varekctl

#endif
