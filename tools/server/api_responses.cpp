#include "api_responses.h"

namespace varek::server {

using nlohmann::json;

ApiResponse Json(unsigned status, const json& body) {
    return {status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace), {}};
}

ApiResponse Error(unsigned status, const std::string& message) {
    return Json(status, json{{"error", message}});
}

ApiResponse NotAllowed(const std::string& message, const std::string& allowed) {
    ApiResponse answer = Error(405, message);
    answer.headers.emplace_back("Allow", allowed);
    return answer;
}

}  // namespace varek::server
