// varekctl find: which ports have the instrument on them.
#ifndef VAREKCTL_FIND_H
#define VAREKCTL_FIND_H

#include <string>
#include <vector>

#include "commands.h"

namespace varekctl {

// Probes the named ports, or every listed port, all at once, with the
// temperature query alone: nothing that changes the instrument.
Action PrepareFind(const std::vector<std::string>& args, const CommandContext& context);

}  // namespace varekctl

#endif
