#include "setup_commands.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "input_file.h"
#include "tool_error.h"
#include "varek/setup.h"

namespace varekctl {

using varek::tools::DeviceError;
using varek::tools::DifferenceFound;
using varek::tools::UsageError;

namespace {

// No setup comes near it; more means the file is something else.
constexpr std::size_t kMaxDocumentBytes = 1024 * 1024;

std::string Named(const std::string& file) { return file == "-" ? std::string("the standard input") : file; }

// The document in `file` ("-": the standard input), checked whole; throws
// UsageError naming the file and the field.
VarekSetup ReadDocument(const std::string& file) {
    std::ifstream stream;
    std::istream& input = OpenInput(file, "setup", stream);
    std::string text;
    char buffer[4096];
    while (input.read(buffer, sizeof buffer) || input.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(input.gcount()));
        if (text.size() > kMaxDocumentBytes)
            throw UsageError(Named(file) + " is larger than a setup can be (" +
                             std::to_string(kMaxDocumentBytes / 1024) + " KiB)");
    }
    if (input.bad()) throw UsageError("cannot read setup " + Named(file));
    VarekSetup setup;
    const std::string refusal = VarekParseSetup(text, &setup);
    if (!refusal.empty()) throw UsageError(Named(file) + ": " + refusal + "; nothing was sent");
    return setup;
}

VarekSetup ReadInstrument(Session& session) {
    VarekSetup setup;
    session.Finish(VarekReadSetup(session.Device(), &setup), "reading the setup");
    return setup;
}

std::string DifferenceLines(const std::vector<VarekSetupDifference>& differences, const char* wanted_name) {
    std::string lines;
    for (const VarekSetupDifference& d : differences)
        lines += d.label + ": " + wanted_name + " " + d.wanted + ", instrument " + d.found + "\n";
    return lines;
}

std::string FileArgument(const std::vector<std::string>& args, const char* usage) {
    if (args.size() != 1 || args[0].empty()) throw UsageError(std::string("usage: ") + usage);
    return args[0];
}

}  // namespace

Action PrepareSave(const std::vector<std::string>& args, const CommandContext& context) {
    const std::string file = FileArgument(args, "save FILE|-");
    return [file, unit = context.unit](Session& session) {
        VarekSetup setup = ReadInstrument(session);
        if (!unit.empty()) setup.unit = unit;
        const std::string text = VarekSetupText(setup);
        if (file == "-") {
            std::fputs(text.c_str(), stdout);
            return;
        }
        std::ofstream output(file, std::ios::binary | std::ios::trunc);
        output << text;
        output.close();
        if (!output) throw DeviceError("cannot write " + file + ": is its folder there, and writable?");
        std::printf("ok: setup saved to %s\n", file.c_str());
    };
}

Action PrepareLoad(const std::vector<std::string>& args, const CommandContext&) {
    std::vector<std::string> rest = args;
    const bool verify = !(rest.size() == 2 && rest[0] == "--no-verify");
    if (!verify) rest.erase(rest.begin());
    const std::string file = FileArgument(rest, "load [--no-verify] FILE|-");
    const VarekSetup setup = ReadDocument(file);
    return [file, setup, verify](Session& session) {
        VarekDDG& device = session.Device();
        session.Finish(VarekApplySetup(device, setup), "applying " + Named(file));
        if (!verify) {
            std::printf("ok: %s applied, not verified\n", Named(file).c_str());
            return;
        }
        const auto differences = VarekCompareSetups(setup, ReadInstrument(session));
        if (!differences.empty()) {
            throw DeviceError(Named(file) + " was applied, but the instrument reads back otherwise:\n" +
                              DifferenceLines(differences, "sent"));
        }
        std::printf("ok: %s applied and read back\n", Named(file).c_str());
    };
}

Action PrepareDiff(const std::vector<std::string>& args, const CommandContext&) {
    const std::string file = FileArgument(args, "diff FILE|-");
    const VarekSetup setup = ReadDocument(file);
    return [file, setup](Session& session) {
        const auto differences = VarekCompareSetups(setup, ReadInstrument(session));
        std::fputs(DifferenceLines(differences, "file").c_str(), stdout);
        std::string unreported;
        for (const std::string& path : VarekUnreportedFields(setup))
            unreported += (unreported.empty() ? " " : ", ") + path;
        if (!unreported.empty())
            std::printf("not compared (the instrument cannot report them):%s\n", unreported.c_str());
        if (!differences.empty())
            throw DifferenceFound(std::to_string(differences.size()) + " field(s) of " + Named(file) +
                                  " differ from the instrument");
        std::printf("the instrument matches %s\n", Named(file).c_str());
    };
}

}  // namespace varekctl
