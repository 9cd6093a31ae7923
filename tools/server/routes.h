// The API's paths under /api/v1/: a table of method, path and handler.
#ifndef VAREK_SERVER_ROUTES_H
#define VAREK_SERVER_ROUTES_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "api.h"
#include "setup_memory.h"

namespace varek::server {

// What a handler gets: the request, the channel of a channels/N path, and a
// way to run a job on the instrument.
struct RouteCall {
    const ApiRequest& request;
    std::int32_t channel;
    const std::string& port;
    SetupMemory& memory;
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

// The table as the 404 answer lists it: "GET /api/v1/instrument, ...".
std::string DescribeRoutes();

}  // namespace varek::server

#endif
