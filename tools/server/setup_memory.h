// What this server last set on the instrument, including what the
// instrument cannot report (the trigger mode, the outputs, the global
// output), and where the instrument's read-back has drifted from it.
// With a state file, what was set is kept on disk, survives a restart, and
// is applied again whenever the port opens.
#ifndef VAREK_SERVER_SETUP_MEMORY_H
#define VAREK_SERVER_SETUP_MEMORY_H

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "varek/setup.h"

namespace varek::server {

class SetupMemory {
public:
    // Without a state file nothing is read or written. With one, its setup
    // is what was set; a missing file is an empty setup. Throws
    // varek::tools::UsageError when the file is not a setup or cannot be
    // written (it is written once at once, to know).
    SetupMemory(std::optional<std::string> state_file, std::string unit);

    // What an apply did: the fields taken merged into what was set, those
    // left uncertain made unknown, and kept on disk.
    void Record(const VarekAppliedSetup& applied);
    // A read-back: the fields it gives that differ from what was set become
    // the drift; a field drifting anew is logged.
    void Observe(const VarekSetup& read);

    VarekSetup AsSet() const;
    std::vector<VarekSetupDifference> Drift() const;
    // What the instrument reports, with what it cannot report as set, and the
    // declared unit: the setup document the server gives.
    VarekSetup Document(const VarekSetup& read) const;
    const std::string& unit() const { return unit_; }

    // Applies the state file's setup and verifies it, when there is one to
    // apply (logged either way); false when an operation failed. Run on the
    // instrument's worker when the port opens.
    bool Restore(VarekDDG& device);

private:
    void Save();

    const std::optional<std::string> state_file_;
    const std::string unit_;
    mutable std::mutex mutex_;
    VarekSetup as_set_;
    std::vector<VarekSetupDifference> drift_;
    std::set<std::string> drifted_paths_;
};

}  // namespace varek::server

#endif
