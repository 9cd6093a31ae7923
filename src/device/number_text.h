// Numbers as the library writes them in messages and documents.
#ifndef VAREK_DEVICE_NUMBER_TEXT_H
#define VAREK_DEVICE_NUMBER_TEXT_H

#include <string>

namespace varek {

// The fewest digits that read back as `value`: 250000000.1, not
// 250000000.09999999.
std::string ShortestText(double value);

}  // namespace varek

#endif
