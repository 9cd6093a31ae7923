// Opening a port by the name a user gives: resolve, then open, with why it
// failed as a kind, the system's error and words.
#include "varek/ports.h"

VarekOpenFailure VarekResolutionFailure(VarekPortResolution resolution) {
    switch (resolution) {
    case VarekPortResolution::Resolved: return VarekOpenFailure::None;
    case VarekPortResolution::Malformed: return VarekOpenFailure::NameMalformed;
    case VarekPortResolution::Ambiguous: return VarekOpenFailure::UsbNameAmbiguous;
    case VarekPortResolution::NoMatch:
    case VarekPortResolution::Empty: return VarekOpenFailure::NoSuchPort;
    }
    return VarekOpenFailure::Other;
}

VarekPortOpening VarekOpenPort(VarekDDG& device, const char* name, std::int32_t baud) {
    const VarekResolvedPort port = VarekResolvePort(name);
    VarekPortOpening opening;
    opening.name = port.name;
    opening.network = port.network;
    if (!port.ok()) {
        opening.error = {VarekResolutionFailure(port.resolution), 0};
        opening.why = port.why;
        return opening;
    }
    if (!device.Open(port.system_name.c_str(), baud > 0 ? baud : VarekDDG::DEFAULT_BAUD)) {
        opening.error = device.LastExchange().open_error;
        // A failure the system gave no kind of still failed.
        if (opening.error.failure == VarekOpenFailure::None) opening.error.failure = VarekOpenFailure::Other;
        opening.why = VarekDescribeOutcome(device.LastExchange());
    }
    return opening;
}
