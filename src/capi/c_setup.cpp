// The varekx_ functions for setups and times. No exception crosses into the host.
#include <string>

#include "capi/handle.h"
#include "capi/host_text.h"
#include "varek/setup.h"
#include "varek/units.h"
#include "varek/varek_ext.h"

namespace {

const char kNoMemory[] = "out of memory";

std::string TextOf(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

extern "C" {

std::int32_t varekx_check_setup(const char* document, char* why, std::int32_t why_size) {
    try {
        VarekSetup setup;
        return varek::WriteHostText(VarekParseSetup(TextOf(document), &setup), why, why_size);
    } catch (...) {
        return varek::WriteHostText(kNoMemory, why, why_size);
    }
}

std::int32_t varekx_read_setup(VarekHandle handle, const char* unit, char* buffer, std::int32_t size) {
    if (handle == nullptr) return VAREK_NULL_HANDLE;
    try {
        VarekSetup setup;
        if (!VarekReadSetup(*varek::ToConnection(handle), &setup)) return VAREK_FAILED;
        if (!TextOf(unit).empty()) setup.unit = unit;
        return varek::WriteHostText(VarekSetupText(setup), buffer, size);
    } catch (...) {
        return VAREK_FAILED;
    }
}

std::int32_t varekx_apply_setup(VarekHandle handle, const char* document, std::int32_t verify, char* report,
                                std::int32_t report_size, char* taken, std::int32_t taken_size,
                                char* uncertain, std::int32_t uncertain_size) {
    if (handle == nullptr) return VAREK_NULL_HANDLE;
    try {
        VarekDDG& device = *varek::ToConnection(handle);
        VarekAppliedSetup applied;
        // Whatever the result, the host learns what the instrument now holds
        // as far as this apply knows: nothing for a refused document.
        auto tell_applied = [&](std::int32_t result) {
            varek::WriteHostText(VarekSetupText(applied.taken), taken, taken_size);
            varek::WriteHostText(VarekSetupText(applied.uncertain), uncertain, uncertain_size);
            return result;
        };
        VarekSetup setup;
        const std::string refusal = VarekParseSetup(TextOf(document), &setup);
        if (!refusal.empty()) {
            varek::WriteHostText(refusal, report, report_size);
            return tell_applied(VAREK_FAILED);
        }
        VarekSetup found;
        if (!VarekApplySetup(device, setup, std::nullopt, &applied) ||
            (verify != 0 && !VarekReadSetup(device, &found))) {
            varek::WriteHostText(VarekDescribeOutcome(device.LastExchange()), report, report_size);
            return tell_applied(VAREK_FAILED);
        }
        std::string differences;
        for (const VarekSetupDifference& d : VarekCompareSetups(setup, found))
            differences += d.path + "\t" + d.wanted + "\t" + d.found + "\n";
        varek::WriteHostText(differences, report, report_size);
        return tell_applied(differences.empty() ? VAREK_OK : VAREKX_SETUP_DIFFERS);
    } catch (...) {
        varek::WriteHostText(kNoMemory, report, report_size);
        return VAREK_FAILED;
    }
}

std::int32_t varekx_compare_setups(const char* wanted, const char* found, char* report,
                                   std::int32_t report_size) {
    try {
        VarekSetup wanted_setup;
        VarekSetup found_setup;
        std::string refusal = VarekParseSetup(TextOf(wanted), &wanted_setup);
        if (refusal.empty()) refusal = VarekParseSetup(TextOf(found), &found_setup);
        if (!refusal.empty()) {
            varek::WriteHostText(refusal, report, report_size);
            return -1;
        }
        const std::vector<VarekSetupDifference> differences = VarekCompareSetups(wanted_setup, found_setup);
        std::string lines;
        for (const VarekSetupDifference& d : differences)
            lines += d.path + "\t" + d.wanted + "\t" + d.found + "\n";
        varek::WriteHostText(lines, report, report_size);
        return static_cast<std::int32_t>(differences.size());
    } catch (...) {
        varek::WriteHostText(kNoMemory, report, report_size);
        return -1;
    }
}

std::int32_t varekx_port_lost(VarekHandle handle) {
    if (handle == nullptr) return -1;
    return VarekPortLost(varek::ToConnection(handle)->LastExchange()) ? 1 : 0;
}

std::int32_t varekx_parse_time(const char* text, const char* unit, std::int64_t* units, char* why,
                               std::int32_t why_size) {
    try {
        std::int64_t parsed = 0;
        std::string rejection = VarekParseTime(TextOf(text), TextOf(unit), &parsed);
        if (rejection.empty() && units == nullptr) rejection = "no place for the result (a null pointer)";
        if (rejection.empty()) *units = parsed;
        return varek::WriteHostText(rejection, why, why_size);
    } catch (...) {
        return varek::WriteHostText(kNoMemory, why, why_size);
    }
}

std::int32_t varekx_format_time(std::int64_t units, const char* unit, char* buffer, std::int32_t size) {
    try {
        return varek::WriteHostText(VarekFormatTime(units, TextOf(unit)), buffer, size);
    } catch (...) {
        return varek::WriteHostText("", buffer, size);
    }
}

}  // extern "C"
