// varekctl: drive the instrument from the command line.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "port_option.h"
#include "program_main.h"
#include "program_version.h"
#include "tool_error.h"
#include "unit_option.h"

namespace {

using namespace varekctl;
using namespace varek::tools;

void PrintHelp() {
    std::printf(
        "usage: varekctl [--port PORT] [--baud N] [--unit UNIT] [--json] [--trace] COMMAND [ARGS]\n"
        "       varekctl --version\n"
        "\n"
        "Drives the delay generator on PORT at N baud (115200). PORT is a name (COM12,\n"
        "/dev/ttyUSB0), a USB adapter's identity (usb:VID:PID or usb:VID:PID:SERIAL, as\n"
        "varekctl ports shows it), a terminal server's port (socket://HOST:PORT in raw\n"
        "TCP mode, rfc2217://HOST:PORT in RFC 2217 mode), or sim for a simulated\n"
        "instrument (Linux). Without --port, the environment variable VAREK_PORT names it.\n"
        "--unit says what one unit of the instrument is, as its manual gives it (1ns,\n"
        "10ps); without it, VAREK_UNIT, else none. With a unit, times are shown with SI\n"
        "prefixes (12.345 us) and delay and width take them (12.5us); without, plain units.\n"
        "--json prints the results of temp, status, ports and find as JSON.\n"
        "--trace shows every exchange on stderr: the request, each chunk read with its\n"
        "time in ms after the request, the reply frame as received, and the outcome.\n"
        "\n"
        "commands:\n");
    for (const Command& command : AllCommands()) {
        const std::string usage = std::string(command.name) + " " + command.arguments;
        std::printf("  %-28s %s\n", usage.c_str(), command.help);
    }
    std::printf(
        "\n"
        "varekctl COMMAND --help shows one command.\n"
        "Exit codes: 0 success; 1 the port or the instrument failed (the message says how:\n"
        "nothing arrived, no frame, an incomplete or damaged reply, a refusal); 2 a usage\n"
        "error, nothing sent; 3 diff found the instrument holding other values than the\n"
        "setup.\n");
}

void PrintCommandHelp(const Command& command) {
    std::printf("usage: varekctl [--port PORT] [--baud N] [--unit UNIT] [--json] [--trace] %s %s\n\n%s\n",
                command.name, command.arguments, command.help);
}

struct CommandLine {
    std::string port;
    std::string unit;
    std::int32_t baud = VarekDDG::DEFAULT_BAUD;
    bool json = false;
    bool trace = false;
    bool help = false;
    bool version = false;
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
        } else if (word == "--version") {
            line.version = true;
        } else if (word == "--json") {
            line.json = true;
        } else if (word == "--trace") {
            line.trace = true;
        } else if (word == "--port" || word == "--baud" || word == "--unit") {
            if (!has_value) throw UsageError(word + " needs a value");
            const std::string value = argv[++arg];
            if (word == "--port") {
                line.port = value;
            } else if (word == "--unit") {
                line.unit = value;
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
        } else if (word == "--trace") {
            line.trace = true;
        } else {
            line.words.push_back(word);
        }
    }
    return line;
}

int Run(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
    if (line.version && line.words.empty()) {
        PrintVersion("varekctl");
        return kExitOk;
    }
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
    const Action action = PrepareCommandLine(line.words, CommandContext{ChosenUnit(line.unit)});

    std::unique_ptr<InstrumentPort> instrument;  // outlives the session that talks to it
    SessionOptions options{"", line.baud, line.json, line.trace};
    if (command == nullptr || command->talks_to_instrument) {
        instrument = std::make_unique<InstrumentPort>(ChosenPort(line.port));
        if (instrument->simulated()) {
            std::fprintf(stderr, "varekctl: a simulated instrument on %s\n", instrument->name().c_str());
        }
        // A usb: name picks its port now, so that every command of a script
        // talks to the same one; a malformed name is a usage error at once.
        options.port = ResolvedPort(instrument->name()).name;
    }
    Session session(options);
    action(session);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    return varek::tools::RunProgram("varekctl", [&] { return Run(argc, argv); });
}
