// The simulated instrument varekctl can bring along (--port sim), where the
// platform has one.
#ifndef VAREKCTL_PLATFORM_H
#define VAREKCTL_PLATFORM_H

#include <memory>
#include <string>

namespace varekctl {

// A simulated instrument served from this process until destroyed.
class EmbeddedInstrument {
public:
    virtual ~EmbeddedInstrument() = default;
    virtual const std::string& port() const = 0;
};

// Null where the platform has no simulated instrument.
std::unique_ptr<EmbeddedInstrument> StartEmbeddedInstrument();

}  // namespace varekctl

#endif
