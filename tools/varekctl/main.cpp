// varekctl: drive the instrument from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "platform.h"
#include "tool_error.h"

namespace {

using namespace varekctl;

void PrintHelp() {
    std::printf(
        "usage: varekctl [--port PORT] [--baud N] [--json] COMMAND [ARGS]\n"
        "\n"
        "Drives the delay generator on PORT (COM12, /dev/ttyUSB0, ...) at N baud (115200).\n"
        "Without --port it starts a simulated instrument (Linux) and says so.\n"
        "--json prints the results of temp and status as JSON.\n"
        "\n"
        "commands:\n");
    for (const Command& command : AllCommands()) {
        const std::string usage = std::string(command.name) + " " + command.arguments;
        std::printf("  %-28s %s\n", usage.c_str(), command.help);
    }
    std::printf(
        "\n"
        "varekctl COMMAND --help shows one command.\n"
        "Exit codes: 0 success, 1 the port or the instrument failed, 2 a usage error (nothing sent).\n");
}

void PrintCommandHelp(const Command& command) {
    std::printf("usage: varekctl [--port PORT] [--baud N] [--json] %s %s\n\n%s\n", command.name,
                command.arguments, command.help);
}

struct CommandLine {
    std::string port;
    std::int32_t baud = 115200;
    bool json = false;
    bool help = false;
    std::vector<std::string> words;  // the command and its arguments
};

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    int arg = 1;
    for (; arg < argc && line.words.empty(); ++arg) {
        const std::string word = argv[arg];
        const bool has_value = arg + 1 < argc;
        if (word == "--help" || word == "-h" || word == "help") {
            line.help = true;
        } else if (word == "--json") {
            line.json = true;
        } else if (word == "--port" || word == "--baud") {
            if (!has_value) throw UsageError(word + " needs a value");
            const std::string value = argv[++arg];
            if (word == "--port") {
                line.port = value;
            } else {
                line.baud = ParseBaud(value);
            }
        } else if (word.rfind("--", 0) == 0) {
            throw UsageError("unknown option " + word + " (varekctl --help lists them)");
        } else {
            line.words.push_back(word);
        }
    }
    for (; arg < argc; ++arg) {
        const std::string word = argv[arg];
        if (word == "--help" || word == "-h") {
            line.help = true;
        } else if (word == "--json") {
            line.json = true;
        } else {
            line.words.push_back(word);
        }
    }
    return line;
}

int Run(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
    if (line.words.empty()) {
        if (line.help) {
            PrintHelp();
            return kExitOk;
        }
        throw UsageError("no command given (varekctl --help lists them)");
    }
    const Command* command = FindCommand(line.words[0]);
    if (line.help && command != nullptr) {
        PrintCommandHelp(*command);
        return kExitOk;
    }
    const Action action = PrepareCommandLine(line.words);

    std::string port = line.port;
    std::unique_ptr<EmbeddedInstrument> simulated;  // outlives the session that talks to it
    if (port.empty() && (command == nullptr || command->talks_to_instrument)) {
        simulated = StartEmbeddedInstrument();
        if (!simulated) throw UsageError("no --port given: name the instrument's port, e.g. --port COM12");
        port = simulated->port();
        std::fprintf(stderr, "varekctl: no --port given: using a simulated instrument on %s\n", port.c_str());
    }
    Session session(port, line.baud, line.json);
    action(session);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "varekctl: %s\n", error.what());
        return kExitUsage;
    } catch (const DeviceError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "varekctl: %s\n", error.what());
        return kExitFailed;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "varekctl: unexpected failure: %s\n", error.what());
        return kExitFailed;
    }
}
