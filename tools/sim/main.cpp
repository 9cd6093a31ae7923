// varek-sim: a simulated instrument on a pseudo-terminal of its own, on an
// existing serial port, or on a TCP port.
#include <atomic>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <string>

#include "listen_address.h"
#include "port_option.h"
#include "program_main.h"
#include "program_version.h"
#include "simulator.h"
#include "stop_signals.h"
#include "tool_error.h"
#include "varek/user_input.h"

namespace {

std::atomic<bool> g_stop{false};

// `text` as a whole decimal number from `low` to `high`, or nothing.
std::optional<int> WholeNumber(const std::string& text, int low, int high) {
    std::string ignored;
    const auto value = VarekParseWhole(text, low, high, ignored);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: varek-sim [OPTIONS]\n"
                 "       varek-sim --version\n"
                 "Answers like the instrument on a pseudo-terminal of its own (Linux), on the\n"
                 "serial port named by --port, or on a TCP port (--listen), prints\n"
                 "  device PATH     what the host opens: the pseudo-terminal, the --port name,\n"
                 "                  or socket://HOST:PORT\n"
                 "  control PORT    the loopback TCP port of the control channel\n"
                 "then serves until SIGINT or SIGTERM (or with --stop-with-stdin, until its standard\n"
                 "input ends) and prints the instrument's state.\n"
                 "\n"
                 "  --port NAME         serve on this serial port (COM5, /dev/ttyUSB1, one end of\n"
                 "                      a null-modem pair) instead of a pseudo-terminal\n"
                 "  --baud N            the port's baud rate (115200)\n"
                 "  --listen HOST:PORT  serve on this TCP port as a terminal server in raw mode\n"
                 "                      would: one client at a time, a second one closed at once\n"
                 "                      (port 0: any free port)\n"
                 "  --link PATH         also make PATH a symlink to the pseudo-terminal; for Wine,\n"
                 "                      $WINEPREFIX/dosdevices/com12 makes it COM12\n"
                 "  --control-port N    control channel on 127.0.0.1:N (default: any free port)\n"
                 "  --pace BAUD         move bytes at the line rate of BAUD (10 bits a byte)\n"
                 "  --log               print every frame in both directions on stderr\n"
                 "  --stop-with-stdin   stop when standard input ends: started with a pipe there, it\n"
                 "                      stops when the program that started it ends, however it ends\n"
                 "faults, applied to every request:\n"
                 "  --delay MS          wait before replying\n"
                 "  --noise HEX         send these bytes before the reply\n"
                 "  --split N,GAP_MS    send the reply in N pieces with pauses\n"
                 "  --bad-checksum      corrupt the reply's checksum\n"
                 "  --bad-tail          corrupt the reply's tail byte\n"
                 "  --short-length      send a length field of 5\n"
                 "  --silent            never reply\n"
                 "  --refuse            refuse every request\n"
                 "  --surplus HEX       send these bytes after the reply\n");
}

[[noreturn]] void BadValue(const char* option, const char* value, const char* expected) {
    throw varek::tools::UsageError(std::string(option) + " takes " + expected + ", got '" + value + "'");
}

int Run(int argc, char** argv) {
    // Each fault option is a word of the control channel's "fault" command.
    const std::map<std::string, std::string> fault_flags = {{"--bad-checksum", "checksum"},
                                                            {"--bad-tail", "tail"},
                                                            {"--short-length", "short-length"},
                                                            {"--silent", "silent"},
                                                            {"--refuse", "refuse"}};
    const std::map<std::string, std::string> fault_values = {
        {"--delay", "delay"}, {"--noise", "noise"}, {"--split", "split"}, {"--surplus", "surplus"}};
    varek::sim::SimulatorOptions options;
    std::string fault_words;
    bool stop_with_stdin = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--link" && has_value) {
            options.link_path = argv[++i];
        } else if (arg == "--port" && has_value) {
            options.port = argv[++i];
        } else if (arg == "--listen" && has_value) {
            const auto address = varek::tools::ParseListenAddress(arg, argv[++i]);
            options.listen_host = address.host;
            options.listen_port = address.port;
        } else if (arg == "--baud" && has_value) {
            options.baud = varek::tools::ParseBaud(argv[++i]);
        } else if (arg == "--control-port" && has_value) {
            const auto port = WholeNumber(argv[++i], 0, 65535);
            if (!port) BadValue("--control-port", argv[i], "a TCP port 0..65535 (0: any free port)");
            options.control_port = *port;
        } else if (arg == "--pace" && has_value) {
            const auto baud = WholeNumber(argv[++i], 1, 100000000);
            if (!baud) BadValue("--pace", argv[i], "a baud rate, a positive whole number");
            options.pace_baud = *baud;
        } else if (arg == "--stop-with-stdin") {
            stop_with_stdin = true;
        } else if (arg == "--log") {
            options.log_frames = true;
        } else if (fault_flags.count(arg) != 0) {
            fault_words += " " + fault_flags.at(arg);
        } else if (fault_values.count(arg) != 0 && has_value) {
            fault_words += " " + fault_values.at(arg) + "=" + argv[++i];
        } else if (arg == "--version") {
            varek::tools::PrintVersion("varek-sim");
            return varek::tools::kExitOk;
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        } else {
            PrintUsage(stderr);
            throw varek::tools::UsageError("unknown or incomplete argument '" + arg + "'");
        }
    }
    std::string error;
    const auto faults = varek::sim::ParseFaultPlan(fault_words, error);
    if (!faults) throw varek::tools::UsageError(error);
    options.standing_faults = *faults;

    varek::sim::StopOnSignals(g_stop);
    if (stop_with_stdin) varek::sim::StopWhenInputEnds(g_stop);
    varek::sim::Simulator simulator(options);
    std::printf("device %s\ncontrol %d\n", simulator.device_path().c_str(), simulator.control_port());
    std::fflush(stdout);
    simulator.Run(g_stop);
    std::printf("state %s\n", simulator.DescribeState().c_str());
    return varek::tools::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    return varek::tools::RunProgram("varek-sim", [&] { return Run(argc, argv); });
}
