// varek-sim: a simulated instrument on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "simulator.h"

namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) { g_stop.store(true); }

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: varek-sim [--link PATH] [--control-port N]\n"
                 "Opens a pseudo-terminal that answers like the instrument and prints\n"
                 "  device PATH     the serial device to open\n"
                 "  control PORT    the loopback TCP port of the control channel\n"
                 "then serves until SIGINT or SIGTERM.\n"
                 "  --link PATH          also make PATH a symlink to the device\n"
                 "                       (for Wine: $WINEPREFIX/dosdevices/com12)\n"
                 "  --control-port N     listen for control commands on 127.0.0.1:N\n");
}

}  // namespace

int main(int argc, char** argv) {
    varek::sim::SimulatorOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--link" && has_value) {
            options.link_path = argv[++i];
        } else if (arg == "--control-port" && has_value) {
            options.control_port = std::atoi(argv[++i]);
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "varek-sim: unknown argument '%s'\n", arg.c_str());
            PrintUsage(stderr);
            return 2;
        }
    }
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    try {
        varek::sim::Simulator simulator(options);
        std::printf("device %s\ncontrol %d\n", simulator.device_path().c_str(), simulator.control_port());
        std::fflush(stdout);
        simulator.Run(g_stop);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "varek-sim: %s\n", error.what());
        return 1;
    }
    return 0;
}
