// The API's paths under /api/v1/: a table of method, path and handler.
#ifndef VAREK_SERVER_ROUTES_H
#define VAREK_SERVER_ROUTES_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "api.h"
#include "server_metrics.h"
#include "setup_memory.h"

namespace varek::server {

// What a handler gets: the request, the channel of a channels/N path, and a
// way to run a job on the instrument.
struct RouteCall {
    const ApiRequest& request;
    std::int32_t channel;
    const std::string& port;
    SetupMemory& memory;
    ServerMetrics& metrics;
    // Runs `job` and answers with `success()`, or with why the job failed.
    std::function<void(InstrumentBackend::Job job, std::function<ApiResponse()> success)> run;
    Api::Respond respond;
};

struct Route {
    const char* method;
    const char* path;  // "channels/N" stands for every channel's path
    void (*handle)(const RouteCall& call);
};

const std::vector<Route>& ApiRoutes();

// What one status read and one temperature read found, filled on the
// instrument's worker and read when it is done.
struct Snapshot {
    VarekTimingConfig channels[VarekDDG::CHANNEL_COUNT];
    float temperature = 0.0f;
};

// Reads both into `snapshot`, noting the drift and the temperature: what a
// client's full read and the server's own poll do alike.
bool ReadSnapshot(VarekDDG& device, Snapshot& snapshot, SetupMemory& memory, ServerMetrics& metrics);

// The table as the 404 answer lists it: "GET /api/v1/instrument, ...".
std::string DescribeRoutes();

}  // namespace varek::server

#endif
