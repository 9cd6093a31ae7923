// varekctl: drive the instrument from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port_name.h"
#include "varek/varek_ddg.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::int32_t kExchangeTimeoutMs = 1000;

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: varekctl --port PORT [--baud N] COMMAND [ARGS]\n"
                 "commands:\n"
                 "  fire                      send a software trigger\n"
                 "  raw CMD PARAM [HEX...]    send any frame, print request and reply\n");
}

bool ParseNumber(const char* text, long long min, long long max, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 0);
    return end != text && *end == '\0' && value >= min && value <= max;
}

int Exchange(VarekDDG& device, const std::string& port, std::uint8_t cmd, std::uint16_t param,
             const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> request;
    VarekDDG::BuildFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), request);
    VarekDDG::DumpFrame(request, "request");
    VarekFrame reply;
    if (!device.SendFrame(cmd, param, payload.data(), static_cast<std::int32_t>(payload.size()), &reply,
                          kExchangeTimeoutMs)) {
        std::fprintf(
            stderr,
            "no valid reply from the instrument on %s within %d ms: is it powered and on this port?\n",
            port.c_str(), kExchangeTimeoutMs);
        return kExitFailed;
    }
    std::vector<std::uint8_t> echoed;
    VarekDDG::BuildFrame(reply.cmd, reply.param, reply.data.data(),
                         static_cast<std::int32_t>(reply.data.size()), echoed);
    VarekDDG::DumpFrame(echoed, "reply");
    std::printf("decoded: cmd 0x%02X, param 0x%04X, %zu payload bytes\n", reply.cmd, reply.param,
                reply.data.size());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::string port;
    long long baud = 115200;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        const std::string option = argv[arg];
        if (option == "--help" || option == "-h") {
            PrintUsage(stdout);
            return kExitOk;
        }
        if (arg + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", option.c_str());
            return kExitUsage;
        }
        if (option == "--port") {
            port = argv[++arg];
        } else if (option == "--baud") {
            if (!ParseNumber(argv[++arg], 1, 0x7FFFFFFF, baud)) {
                std::fprintf(stderr, "baud rate must be a positive number, got %s\n", argv[arg]);
                return kExitUsage;
            }
        } else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return kExitUsage;
        }
    }
    if (port.empty() || arg >= argc) {
        PrintUsage(stderr);
        return kExitUsage;
    }

    const std::string command = argv[arg++];
    std::uint8_t cmd = 0;
    std::uint16_t param = 0;
    std::vector<std::uint8_t> payload;
    if (command == "fire") {
        cmd = 0x14;
    } else if (command == "raw") {
        long long value = 0;
        if (arg + 2 > argc || !ParseNumber(argv[arg], 0, 0xFF, value)) {
            std::fprintf(stderr, "raw needs CMD (0..0xFF) and PARAM (0..0xFFFF)\n");
            return kExitUsage;
        }
        cmd = static_cast<std::uint8_t>(value);
        if (!ParseNumber(argv[arg + 1], 0, 0xFFFF, value)) {
            std::fprintf(stderr, "PARAM must be 0..0xFFFF, got %s\n", argv[arg + 1]);
            return kExitUsage;
        }
        param = static_cast<std::uint16_t>(value);
        for (int i = arg + 2; i < argc; ++i) {
            if (!ParseNumber(argv[i], 0, 0xFF, value)) {
                std::fprintf(stderr, "payload bytes must be 0..0xFF, got %s\n", argv[i]);
                return kExitUsage;
            }
            payload.push_back(static_cast<std::uint8_t>(value));
        }
    } else {
        std::fprintf(stderr, "unknown command %s\n", command.c_str());
        PrintUsage(stderr);
        return kExitUsage;
    }

    VarekDDG device;
    if (!device.Open(ToPortName(port).c_str(), static_cast<std::int32_t>(baud))) {
        std::fprintf(stderr,
                     "cannot open %s at %lld baud: check the name and that no other program holds it\n",
                     port.c_str(), baud);
        return kExitFailed;
    }
    return Exchange(device, port, cmd, param, payload);
}
