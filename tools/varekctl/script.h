// varekctl run: a script of commands, one a line. Every line is checked
// before the first is sent; the run stops at the first line that fails,
// naming it.
#ifndef VAREKCTL_SCRIPT_H
#define VAREKCTL_SCRIPT_H

#include <string>
#include <vector>

#include "commands.h"

namespace varekctl {

Action PrepareRun(const std::vector<std::string>& args, const CommandContext& context);

}  // namespace varekctl

#endif
