#include "program_main.h"

#include <cstdio>

#include "tool_error.h"

namespace varek::tools {

namespace {

int Ended(const char* program, const std::exception& failure, int code) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program, failure.what());
    return code;
}

}  // namespace

int RunProgram(const char* program, const std::function<int()>& body) {
    try {
        return body();
    } catch (const UsageError& error) {
        return Ended(program, error, kExitUsage);
    } catch (const DifferenceFound& error) {
        return Ended(program, error, kExitDiffers);
    } catch (const std::exception& error) {
        return Ended(program, error, kExitFailed);
    }
}

}  // namespace varek::tools
