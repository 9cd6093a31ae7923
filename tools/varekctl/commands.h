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

// What the command line says beyond the command's own arguments.
struct CommandContext {
    std::string unit;  // what one unit of the instrument is, "" when not declared
};

struct Command {
    const char* name;
    const char* arguments;  // as shown in help: "CH VALUE"
    const char* help;
    bool talks_to_instrument;
    // Throws UsageError on a bad argument.
    std::function<Action(const std::vector<std::string>& args, const CommandContext& context)> prepare;
};

const std::vector<Command>& AllCommands();
// Null when there is no such command.
const Command* FindCommand(const std::string& name);

// Looks up `words[0]` and prepares it with the rest; throws UsageError.
Action PrepareCommandLine(const std::vector<std::string>& words, const CommandContext& context);

}  // namespace varekctl

#endif
