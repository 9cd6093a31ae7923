// A test case against the simulated instrument: the simulator reset, its
// control channel at hand, and a connection open on its port.
#ifndef VAREK_TESTS_SIM_FIXTURE_H
#define VAREK_TESTS_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>

#include "sim_control.h"
#include "varek/varek_ddg.h"

namespace varek::test {

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.Reset();
        ASSERT_TRUE(device.Open(SimPortName().c_str(), 115200));
    }

    SimControl sim;
    VarekDDG device;
};

// Milliseconds that `action` took.
template <typename Action>
long long MillisecondsOf(Action&& action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace varek::test

#endif
