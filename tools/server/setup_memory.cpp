#include "setup_memory.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "durable_file.h"
#include "event_log.h"
#include "tool_error.h"

namespace varek::server {

namespace {

using varek::tools::UsageError;

// A state file is a setup document: small. More is something else.
constexpr std::uintmax_t kMaxStateFileBytes = 1024 * 1024;

VarekSetup ReadStateFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::exists(status)) return VarekSetup{};
    // Replacing the file would replace a link with a file, and anything
    // else that is no regular file (a device such as /dev/full) with one:
    // neither is what an operator means.
    if (std::filesystem::is_symlink(status))
        throw UsageError("--state-file " + path +
                         " is a symbolic link: name the file it points to, or remove it");
    if (std::filesystem::is_directory(status)) throw UsageError("--state-file " + path + " is a directory");
    if (!std::filesystem::is_regular_file(status))
        throw UsageError("--state-file " + path + " is not a regular file (a device, a pipe?): name a file");
    if (std::filesystem::file_size(path, error) > kMaxStateFileBytes)
        throw UsageError("--state-file " + path + " is larger than a setup can be: is it the right file?");
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) throw UsageError("cannot read --state-file " + path);
    VarekSetup setup;
    const std::string refusal = VarekParseSetup(text.str(), &setup);
    if (!refusal.empty())
        throw UsageError("--state-file " + path + " is not a setup this server wrote: " + refusal +
                         " (move it away to start afresh)");
    return setup;
}

}  // namespace

SetupMemory::SetupMemory(std::optional<std::string> state_file, std::string unit)
    : state_file_(std::move(state_file)), unit_(std::move(unit)) {
    if (!state_file_) return;
    as_set_ = ReadStateFile(*state_file_);
    try {
        Save();
    } catch (const std::exception& failure) {
        throw UsageError(std::string("--state-file: ") + failure.what());
    }
}

void SetupMemory::Save() {
    if (!state_file_) return;
    VarekSetup kept = as_set_;
    if (!unit_.empty()) kept.unit = unit_;
    ReplaceFileDurably(*state_file_, VarekSetupText(kept));
}

void SetupMemory::Record(const VarekAppliedSetup& applied) {
    std::vector<std::string> touched = VarekGivenFields(applied.taken);
    const std::vector<std::string> uncertain = VarekGivenFields(applied.uncertain);
    if (touched.empty() && uncertain.empty()) return;
    touched.insert(touched.end(), uncertain.begin(), uncertain.end());
    std::lock_guard<std::mutex> lock(mutex_);
    as_set_ = VarekWithoutFields(VarekMergeSetups(as_set_, applied.taken), applied.uncertain);
    for (const std::string& path : uncertain) {
        LogEvent(path + " is unknown until set again: its request failed after it went out");
    }
    // What was just set is what is expected now, and what is unknown has no
    // drift: their old drift is over.
    std::vector<VarekSetupDifference> still;
    for (const VarekSetupDifference& d : drift_) {
        if (std::find(touched.begin(), touched.end(), d.path) == touched.end())
            still.push_back(d);
        else
            drifted_paths_.erase(d.path);
    }
    drift_ = still;
    try {
        Save();
    } catch (const std::exception& failure) {
        LogEvent(std::string("what was set could not be kept: ") + failure.what());
    }
}

void SetupMemory::Observe(const VarekSetup& read) {
    std::lock_guard<std::mutex> lock(mutex_);
    drift_ = VarekCompareSetups(as_set_, read);
    std::set<std::string> paths;
    for (const VarekSetupDifference& d : drift_) {
        paths.insert(d.path);
        if (drifted_paths_.count(d.path) == 0)
            LogEvent("drift: " + d.label + " was set to " + d.wanted + ", the instrument reads " + d.found);
    }
    drifted_paths_ = paths;
}

VarekSetup SetupMemory::AsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return as_set_;
}

std::vector<VarekSetupDifference> SetupMemory::Drift() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return drift_;
}

VarekSetup SetupMemory::Document(const VarekSetup& read) const {
    std::lock_guard<std::mutex> lock(mutex_);
    VarekSetup document = VarekCompleteSetup(read, as_set_);
    document.unit = unit_.empty() ? std::nullopt : std::optional<std::string>(unit_);
    return document;
}

bool SetupMemory::Restore(VarekDDG& device) {
    const VarekSetup kept = AsSet();
    if (!state_file_ || VarekSetupEmpty(kept)) return true;
    if (!VarekApplySetup(device, kept)) {
        LogEvent("restoring the setup of " + *state_file_ +
                 " failed: " + VarekDescribeOutcome(device.LastExchange()));
        return false;
    }
    VarekSetup read;
    if (!VarekReadSetup(device, &read)) {
        LogEvent("the setup of " + *state_file_ +
                 " was applied, but reading it back failed: " + VarekDescribeOutcome(device.LastExchange()));
        return false;
    }
    Observe(read);
    const std::size_t differences = Drift().size();
    LogEvent("setup restored from " + *state_file_ +
             (differences == 0 ? std::string(", read back alike")
                               : ", but " + std::to_string(differences) + " field(s) read back otherwise"));
    return true;
}

}  // namespace varek::server
