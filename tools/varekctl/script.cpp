#include "script.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "input_file.h"
#include "tool_error.h"

namespace varekctl {

using varek::tools::DeviceError;
using varek::tools::UsageError;

namespace {

std::vector<std::string> SplitWords(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

// No script line needs more; a longer one means the file is not a script.
constexpr std::size_t kMaxScriptLine = 4096;

std::string ScriptLineError(const std::string& script, int number, const std::string& what) {
    return script + " line " + std::to_string(number) + ": " + what;
}

// Reads line `number` of `script` into `line`; false at the end. Throws
// UsageError for what no text script holds and for a failed read.
bool ReadScriptLine(std::istream& input, const std::string& script, int number, std::string& line) {
    line.clear();
    bool any = false;
    for (char c; input.get(c);) {
        any = true;
        if (c == '\n') return true;
        if (c == '\0')
            throw UsageError(ScriptLineError(script, number, "holds a NUL byte: is this a text file?"));
        if (line.size() == kMaxScriptLine) {
            throw UsageError(ScriptLineError(
                script, number,
                "longer than " + std::to_string(kMaxScriptLine) + " characters: is this a text file?"));
        }
        line += c;
    }
    if (input.bad()) throw UsageError("cannot read script " + script);
    return any;
}

}  // namespace

Action PrepareRun(const std::vector<std::string>& args, const CommandContext& context) {
    if (args.size() != 1) throw UsageError("usage: run FILE|-");
    const std::string& script = args[0];
    std::ifstream file;
    std::istream& input = OpenInput(script, "script", file);
    struct Step {
        int line;
        std::string text;
        Action action;
    };
    std::vector<Step> steps;
    int number = 0;
    for (std::string line; ReadScriptLine(input, script, number + 1, line);) {
        ++number;
        const std::string code = line.substr(0, line.find('#'));
        const std::vector<std::string> words = SplitWords(code);
        if (words.empty()) continue;
        if (words[0] == "run")
            throw UsageError(ScriptLineError(script, number, "scripts cannot run scripts"));
        try {
            steps.push_back({number, code, PrepareCommandLine(words, context)});
        } catch (const UsageError& error) {
            throw UsageError(ScriptLineError(script, number, error.what()));
        }
    }
    return [steps, script = args[0]](Session& session) {
        for (const Step& step : steps) {
            std::fflush(stdout);  // keeps each command's echo beside its result in a shared log
            std::fprintf(stderr, "> %s\n", step.text.c_str());
            try {
                step.action(session);
            } catch (const DeviceError& error) {
                throw DeviceError(script + " line " + std::to_string(step.line) + ": " + error.what());
            }
        }
    };
}

}  // namespace varekctl
