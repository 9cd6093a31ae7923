// The setup document's reader on any text: it never crashes, and a document
// it accepts is written back as a document it reads to the same setup.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "varek/setup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    VarekSetup setup;
    if (!VarekParseSetup(text, &setup).empty()) return 0;
    VarekSetup again;
    if (!VarekParseSetup(VarekSetupText(setup), &again).empty()) std::abort();
    if (!VarekCompareSetups(setup, again).empty() || VarekGivenFields(setup) != VarekGivenFields(again) ||
        setup.unit != again.unit)
        std::abort();
    return 0;
}
