/// @file
/// The setup document: what the instrument is set to, as one JSON text to
/// save, compare and restore, the same everywhere (a file, the server's API,
/// Python, Tango):
///   {"varek_setup": 1, "unit": "1ns",
///    "trigger": {"mode": 1, "frequency": 1000.0}, "global_output": true,
///    "channels": {"1": {"delay": 12345, "pulse_width": 500, "output": true}, ...}}
/// Values are in the library's units, as SetDelay takes them. Any field may be
/// absent or null: unknown when saved, left as it is when applied. A field's
/// path is written with dots: "channels.3.delay", "trigger.frequency".
#ifndef VAREK_SETUP_H
#define VAREK_SETUP_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "varek/export.h"
#include "varek/varek_ddg.h"

/// One channel's part of a setup; an empty field is unknown, or left as it is.
struct VarekChannelSetup {
    std::optional<std::int64_t> delay;        ///< in the instrument's units
    std::optional<std::int64_t> pulse_width;  ///< in the instrument's units
    std::optional<bool> output;               ///< the instrument cannot report it
};

/// What the instrument is set to, field by field, as the document holds it.
struct VarekSetup {
    std::optional<std::int32_t> trigger_mode;             ///< the instrument cannot report it
    std::optional<double> trigger_frequency;              ///< Hz
    std::optional<bool> global_output;                    ///< the instrument cannot report it
    VarekChannelSetup channels[VarekDDG::CHANNEL_COUNT];  ///< channel c at c - 1
    /// What one unit is, as the user declared it; for people only, never
    /// used to convert the values.
    std::optional<std::string> unit;
};

/// One field whose value differs between two setups, values as JSON text.
struct VarekSetupDifference {
    std::string path;    ///< "channels.3.delay"
    std::string label;   ///< "channel 3 delay"
    std::string wanted;  ///< "12345"
    std::string found;   ///< "12000"
};

/// Reads and checks a whole document: "" and *SETUP filled when every field is
/// known, of its type, and one the library would send; else why not, naming
/// the field's path ("channels.3.delay: delay -1 is outside 0..184467440737095516"),
/// and *SETUP untouched.
VAREK_API std::string VarekParseSetup(const std::string& text, VarekSetup* setup);

/// The document for `setup`, unknown fields written as null.
VAREK_API std::string VarekSetupText(const VarekSetup& setup);

/// Reads what the instrument reports (one status read) into *SETUP: delays,
/// widths and the frequency; the fields it cannot report are left null.
VAREK_API bool VarekReadSetup(VarekDDG& device, VarekSetup* setup);

/// The setup a status read's records give (CHANNEL_COUNT of them, channel 1
/// first), as VarekReadSetup makes it.
VAREK_API VarekSetup VarekSetupFromStatus(const VarekTimingConfig* configs);

/// What an apply did, for whoever keeps what was set: `taken` gives each
/// field the instrument took, with the value it now holds (the global output
/// as the apply left it, off when it stopped after switching it off);
/// `uncertain` gives the field whose request failed yet may have been carried
/// out (VarekMayHaveActed), so that its value on the instrument is unknown.
struct VarekAppliedSetup {
    VarekSetup taken;      ///< the fields the instrument took, as it now holds them
    VarekSetup uncertain;  ///< the field whose failed request may have been carried out
};

/// Sends every field `setup` gives. Outputs are never on with half-applied
/// timing: when timing changes while the global output may be on (as
/// `global_output_now` knows it; nullopt: not known), the global output goes
/// off first and back to its value last. Returns false at the first failed
/// operation; the connection's record says why, and *APPLIED (when given)
/// what was done before.
VAREK_API bool VarekApplySetup(VarekDDG& device, const VarekSetup& setup,
                               std::optional<bool> global_output_now = std::nullopt,
                               VarekAppliedSetup* applied = nullptr);

/// The fields `wanted` gives and `found` reports that differ, as the
/// instrument holds them: the delay and the width as sent, the frequency as
/// the frequency word it is sent as (so the instrument's rounding is none).
VAREK_API std::vector<VarekSetupDifference> VarekCompareSetups(const VarekSetup& wanted,
                                                               const VarekSetup& found);

/// The paths of the fields `setup` gives.
VAREK_API std::vector<std::string> VarekGivenFields(const VarekSetup& setup);
/// The paths of the fields `setup` gives that the instrument cannot report.
VAREK_API std::vector<std::string> VarekUnreportedFields(const VarekSetup& setup);

/// What a read gives, with the fields it cannot give taken from `as_set`
/// (what whoever set them remembers).
VAREK_API VarekSetup VarekCompleteSetup(const VarekSetup& read, const VarekSetup& as_set);

/// `base` with every field `change` gives put in.
VAREK_API VarekSetup VarekMergeSetups(const VarekSetup& base, const VarekSetup& change);

/// `base` with every field `fields` gives made unknown.
VAREK_API VarekSetup VarekWithoutFields(const VarekSetup& base, const VarekSetup& fields);

/// Whether the setup gives no field at all.
VAREK_API bool VarekSetupEmpty(const VarekSetup& setup);

#endif
