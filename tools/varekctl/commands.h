// varekctl's commands. Each checks its arguments when it is prepared and
// returns the action that talks to the instrument, so that a whole script
// can be checked before its first command is sent.
#ifndef VAREKCTL_COMMANDS_H
#define VAREKCTL_COMMANDS_H

#include <functional>
#include <string>
#include <vector>

#include "session.h"

namespace varekctl {

using Action = std::function<void(Session&)>;

struct Command {
    const char* name;
    const char* arguments;  // as shown in help: "CH VALUE"
    const char* help;
    bool talks_to_instrument;
    // Throws UsageError on a bad argument.
    std::function<Action(const std::vector<std::string>& args)> prepare;
};

const std::vector<Command>& AllCommands();
// Null when there is no such command.
const Command* FindCommand(const std::string& name);

// Looks up `words[0]` and prepares it with the rest; throws UsageError.
Action PrepareCommandLine(const std::vector<std::string>& words);

}  // namespace varekctl

#endif
