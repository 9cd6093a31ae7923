#include <atomic>
#include <thread>

#include "platform.h"
#include "simulator.h"

namespace varekctl {

namespace {

class SimulatorThread : public EmbeddedInstrument {
public:
    SimulatorThread()
        : simulator_(varek::sim::SimulatorOptions{}), thread_([this] { simulator_.Run(stop_); }) {}
    ~SimulatorThread() override {
        stop_.store(true);
        thread_.join();
    }
    const std::string& port() const override { return simulator_.device_path(); }

private:
    std::atomic<bool> stop_{false};
    varek::sim::Simulator simulator_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<EmbeddedInstrument> StartEmbeddedInstrument() { return std::make_unique<SimulatorThread>(); }

}  // namespace varekctl
