// The exported C functions. No exception and no allocation failure may cross
// into the host: they become a null handle or VAREK_FAILED.
#include <string>

#include "capi/handle.h"
#include "varek/varek.h"
#include "varek/varek_ddg.h"

namespace {

template <typename Operation>
std::int32_t Run(VarekHandle handle, Operation&& operation) noexcept {
    if (handle == nullptr) return VAREK_NULL_HANDLE;
    try {
        return operation(*varek::ToConnection(handle)) ? VAREK_OK : VAREK_FAILED;
    } catch (...) {
        return VAREK_FAILED;
    }
}

}  // namespace

extern "C" {

VarekHandle varek_init(const char* port_name, std::int32_t baud) {
    if (port_name == nullptr) return nullptr;
    try {
        VarekPortOpening ignored;
        return reinterpret_cast<VarekHandle>(varek::OpenConnection(port_name, baud, ignored));
    } catch (...) {
        return nullptr;
    }
}

void varek_close(VarekHandle handle) {
    if (handle == nullptr) return;
    VarekDDG* connection = varek::ToConnection(handle);
    connection->Close();
    delete connection;
}

std::int32_t varek_set_trigger(VarekHandle handle, std::int32_t mode) {
    return Run(handle, [&](VarekDDG& c) { return c.SetTrigger(static_cast<VarekTriggerMode>(mode)); });
}

std::int32_t varek_set_trigger_freq(VarekHandle handle, double frequency) {
    return Run(handle, [&](VarekDDG& c) { return c.SetInternalTriggerFreq(frequency); });
}

std::int32_t varek_set_output_channel(VarekHandle handle, std::int32_t channel, std::int32_t on) {
    return Run(handle, [&](VarekDDG& c) { return c.SetOutputChannel(channel, on != 0); });
}

std::int32_t varek_set_delay(VarekHandle handle, std::int32_t channel, std::int64_t delay) {
    return Run(handle, [&](VarekDDG& c) { return c.SetDelay(channel, delay); });
}

std::int32_t varek_set_pulse_width(VarekHandle handle, std::int32_t channel, std::int64_t pulse_width) {
    return Run(handle, [&](VarekDDG& c) { return c.SetPulseWidth(channel, pulse_width); });
}

std::int32_t varek_set_global_output(VarekHandle handle, std::int32_t on) {
    return Run(handle, [&](VarekDDG& c) { return c.SetGlobalOutput(on != 0); });
}

std::int32_t varek_software_trigger(VarekHandle handle) {
    return Run(handle, [](VarekDDG& c) { return c.SoftwareTrigger(); });
}

std::int32_t varek_read_temperature(VarekHandle handle, float* temperature) {
    return Run(handle, [&](VarekDDG& c) { return c.ReadTemperature(temperature); });
}

std::int32_t varek_read_timing_config(VarekHandle handle, std::int32_t channel, std::int64_t* delay,
                                      std::int64_t* pulse_width, std::int32_t* reg131,
                                      double* internal_trigger_freq) {
    return Run(handle, [&](VarekDDG& c) {
        VarekTimingConfig config{};
        if (!c.ReadTimingConfig(channel, &config)) return false;
        if (delay != nullptr) *delay = config.delay;
        if (pulse_width != nullptr) *pulse_width = config.pulse_width;
        if (reg131 != nullptr) *reg131 = config.reg131;
        if (internal_trigger_freq != nullptr) *internal_trigger_freq = config.internal_trigger_freq;
        return true;
    });
}

}  // extern "C"
