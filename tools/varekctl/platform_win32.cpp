#include "platform.h"

namespace varekctl {

// The simulator is a Linux program for now: name a port on Windows.
std::unique_ptr<EmbeddedInstrument> StartEmbeddedInstrument() { return nullptr; }

}  // namespace varekctl
