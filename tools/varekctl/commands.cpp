#include "commands.h"

#include <cstdio>

#include "arguments.h"
#include "find.h"
#include "script.h"
#include "setup_commands.h"
#include "status_report.h"
#include "tool_error.h"
#include "varek/ports.h"

namespace varekctl {

using varek::tools::UsageError;

namespace {

void ExpectCount(const std::vector<std::string>& args, std::size_t count, const char* usage) {
    if (args.size() != count) throw UsageError(std::string("usage: ") + usage);
}

// A control operation: runs it and reports, or fails naming what was attempted.
Action Control(std::string attempted, std::function<bool(VarekDDG&)> operation) {
    return [attempted = std::move(attempted), operation = std::move(operation)](Session& session) {
        session.Finish(operation(session.Device()), attempted);
        std::printf("ok: %s\n", attempted.c_str());
    };
}

Action PrepareTriggerMode(const std::vector<std::string>& args, const CommandContext&) {
    ExpectCount(args, 1, "trigger-mode 0|1|2");
    const std::int32_t mode = ParseTriggerMode(args[0]);
    return Control("trigger mode " + args[0],
                   [mode](VarekDDG& d) { return d.SetTrigger(static_cast<VarekTriggerMode>(mode)); });
}

Action PrepareFrequency(const std::vector<std::string>& args, const CommandContext&) {
    ExpectCount(args, 1, "freq HZ");
    const double frequency = ParseFrequency(args[0]);
    return Control("internal trigger frequency " + args[0],
                   [frequency](VarekDDG& d) { return d.SetInternalTriggerFreq(frequency); });
}

Action PrepareEnable(const std::vector<std::string>& args, const CommandContext&) {
    ExpectCount(args, 2, "enable CH on|off");
    const std::int32_t channel = ParseChannel(args[0]);
    const bool on = ParseOnOff(args[1]);
    return Control("channel " + args[0] + " output " + (on ? "on" : "off"),
                   [=](VarekDDG& d) { return d.SetOutputChannel(channel, on); });
}

// Delay and pulse width take the same arguments and differ only in setter.
using TimingSetter = bool (VarekDDG::*)(std::int32_t, std::int64_t);

Action PrepareTiming(const std::vector<std::string>& args, const CommandContext& context, const char* command,
                     const std::string& what, TimingKind kind, TimingSetter set) {
    ExpectCount(args, 2, (std::string(command) + " CH VALUE").c_str());
    const std::int32_t channel = ParseChannel(args[0]);
    const std::int64_t value = ParseTimingValue(kind, args[1], context.unit);
    return Control("channel " + args[0] + " " + what + " " + args[1],
                   [=](VarekDDG& d) { return (d.*set)(channel, value); });
}

Action PrepareDelay(const std::vector<std::string>& args, const CommandContext& context) {
    return PrepareTiming(args, context, "delay", "delay", TimingKind::Delay, &VarekDDG::SetDelay);
}

Action PrepareWidth(const std::vector<std::string>& args, const CommandContext& context) {
    return PrepareTiming(args, context, "width", "pulse width", TimingKind::PulseWidth,
                         &VarekDDG::SetPulseWidth);
}

Action PrepareOutput(const std::vector<std::string>& args, const CommandContext&) {
    ExpectCount(args, 1, "output on|off");
    const bool on = ParseOnOff(args[0]);
    return Control(std::string("global output ") + (on ? "on" : "off"),
                   [on](VarekDDG& d) { return d.SetGlobalOutput(on); });
}

Action PrepareFire(const std::vector<std::string>& args, const CommandContext&) {
    ExpectCount(args, 0, "fire");
    return Control("software trigger", [](VarekDDG& d) { return d.SoftwareTrigger(); });
}

Action PrepareTemperature(const std::vector<std::string>& args, const CommandContext&) {
    ExpectCount(args, 0, "temp");
    return [](Session& session) {
        float temperature = 0.0f;
        session.Finish(session.Device().ReadTemperature(&temperature), "reading the temperature");
        PrintTemperature(temperature, session.json());
    };
}

Action PrepareStatus(const std::vector<std::string>& args, const CommandContext& context) {
    if (args.size() > 1) throw UsageError("usage: status [CH|all]");
    const std::string unit = context.unit;
    if (args.empty() || args[0] == "all") {
        return [unit](Session& session) {
            std::vector<VarekTimingConfig> configs(VarekDDG::CHANNEL_COUNT);
            session.Finish(session.Device().ReadAllTimingConfigs(configs.data()), "reading the status");
            PrintStatus(session.port(), configs, session.json(), unit);
        };
    }
    const std::int32_t channel = ParseChannel(args[0]);
    return [channel, unit](Session& session) {
        std::vector<VarekTimingConfig> configs(1);
        session.Finish(session.Device().ReadTimingConfig(channel, configs.data()),
                       "reading the status of channel " + std::to_string(channel));
        PrintStatus(session.port(), configs, session.json(), unit);
    };
}

Action PrepareRaw(const std::vector<std::string>& args, const CommandContext&) {
    if (args.size() < 2) throw UsageError("usage: raw CMD PARAM [HEX...]");
    const auto cmd = static_cast<std::uint8_t>(ParseUnsigned("CMD", args[0], 0xFF));
    const auto param = static_cast<std::uint16_t>(ParseUnsigned("PARAM", args[1], 0xFFFF));
    if (args.size() - 2 > static_cast<std::size_t>(VarekDDG::MAX_PAYLOAD_LENGTH)) {
        throw UsageError("a frame carries at most " + std::to_string(VarekDDG::MAX_PAYLOAD_LENGTH) +
                         " payload bytes, got " + std::to_string(args.size() - 2));
    }
    std::vector<std::uint8_t> payload;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& byte = args[i];
        payload.push_back(static_cast<std::uint8_t>(
            ParseUnsigned("payload byte", byte.rfind("0x", 0) == 0 ? byte : "0x" + byte, 0xFF)));
    }
    return [=](Session& session) {
        std::vector<std::uint8_t> request;
        const auto size = static_cast<std::int32_t>(payload.size());
        VarekDDG::BuildFrame(cmd, param, payload.data(), size, request);
        VarekDDG::DumpFrame(request, "request");
        VarekFrame reply;
        VarekDDG& device = session.Device();
        session.Finish(
            device.SendFrame(cmd, param, payload.data(), size, &reply, VarekDDG::OPERATION_TIMEOUT_MS),
            "raw frame");
        VarekDDG::DumpFrame(device.LastExchange().ReplyFrame(), "reply");
        std::printf("decoded: cmd 0x%02X, param 0x%04X, %zu payload bytes\n", reply.cmd, reply.param,
                    reply.data.size());
    };
}

Action PreparePorts(const std::vector<std::string>& args, const CommandContext&) {
    ExpectCount(args, 0, "ports");
    return [](Session& session) { PrintPorts(VarekListPorts(), session.json()); };
}

}  // namespace

const std::vector<Command>& AllCommands() {
    static const std::vector<Command> commands = {
        {"trigger-mode", "0|1|2", "Set the trigger mode (sent as trigger code 1, 2 or 3).", true,
         PrepareTriggerMode},
        {"freq", "HZ", "Set the internal trigger frequency.", true, PrepareFrequency},
        {"enable", "CH on|off", "Switch channel CH's output on or off.", true, PrepareEnable},
        {"delay", "CH VALUE",
         "Set channel CH's delay: whole units of the instrument, or with --unit a time such as 12.5us.", true,
         PrepareDelay},
        {"width", "CH VALUE",
         "Set channel CH's pulse width: whole units of the instrument, or with --unit a time such as 500ns.",
         true, PrepareWidth},
        {"output", "on|off", "Switch the global output on or off.", true, PrepareOutput},
        {"fire", "", "Fire a software trigger.", true, PrepareFire},
        {"temp", "", "Read the instrument's temperature.", true, PrepareTemperature},
        {"status", "[CH|all]",
         "Read every channel's (or one channel's) timing and the instrument-wide values.", true,
         PrepareStatus},
        {"raw", "CMD PARAM [HEX...]",
         "Send any frame (CMD 0..0xFF, PARAM 0..0xFFFF, payload bytes in hex) and print request and reply.",
         true, PrepareRaw},
        {"run", "FILE|-",
         "Run a script: one command per line, # starts a comment. Every line is checked first; the run stops "
         "at the "
         "first failure and names its line.",
         true, PrepareRun},
        {"save", "FILE|-",
         "Write what the instrument reports as a setup document (JSON); the trigger mode, the outputs and "
         "the "
         "global output, which it cannot report, are written as null.",
         true, PrepareSave},
        {"load", "[--no-verify] FILE|-",
         "Apply a setup document: checked whole first (a fault names the field, nothing is sent), the global "
         "output off while timing changes, then read back and compared.",
         true, PrepareLoad},
        {"diff", "FILE|-",
         "Compare the instrument with a setup document, one line a difference. Exit code 0 when it matches, "
         "3 "
         "when it differs.",
         true, PrepareDiff},
        {"ports", "",
         "List this machine's serial ports with what the system knows of them: description, USB vendor and "
         "product id, serial number, maker, location, and on Linux the stable /dev/serial/by-id link.",
         false, PreparePorts},
        {"find", "[PORT...]",
         "Look for the instrument on the named ports, or on every port listed, all at once, asking only for "
         "its temperature. Exit code 0 when one answered.",
         false, PrepareFind},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : AllCommands()) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

Action PrepareCommandLine(const std::vector<std::string>& words, const CommandContext& context) {
    const Command* command = FindCommand(words.at(0));
    if (command == nullptr) throw UsageError("unknown command " + words[0] + " (varekctl --help lists them)");
    return command->prepare({words.begin() + 1, words.end()}, context);
}

}  // namespace varekctl
