// varekctl save, load and diff: the instrument's setup as a document, to
// keep, restore and compare.
#ifndef VAREKCTL_SETUP_COMMANDS_H
#define VAREKCTL_SETUP_COMMANDS_H

#include <string>
#include <vector>

#include "commands.h"

namespace varekctl {

Action PrepareSave(const std::vector<std::string>& args, const CommandContext& context);
Action PrepareLoad(const std::vector<std::string>& args, const CommandContext& context);
Action PrepareDiff(const std::vector<std::string>& args, const CommandContext& context);

}  // namespace varekctl

#endif
