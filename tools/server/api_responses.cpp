#include "api_responses.h"

namespace varek::server {

using nlohmann::json;

const char* ServerOutcomeName(ServerOutcome outcome) {
    switch (outcome) {
    case ServerOutcome::Busy: return "busy";
    case ServerOutcome::Expired: return "expired";
    case ServerOutcome::PortGone: return "port_gone";
    case ServerOutcome::Stopping: return "stopping";
    case ServerOutcome::BadRequest: return "bad_request";
    case ServerOutcome::Unauthorized: return "unauthorized";
    case ServerOutcome::ForbiddenOrigin: return "forbidden_origin";
    case ServerOutcome::UnknownHost: return "unknown_host";
    case ServerOutcome::UnsupportedMediaType: return "unsupported_media_type";
    case ServerOutcome::NotFound: return "not_found";
    case ServerOutcome::MethodNotAllowed: return "method_not_allowed";
    case ServerOutcome::TooLarge: return "too_large";
    case ServerOutcome::SetupDiffers: return "setup_differs";
    }
    return "unknown";
}

ApiResponse Json(unsigned status, const json& body) {
    return {status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace), {}};
}

ApiResponse Error(unsigned status, ServerOutcome outcome, const std::string& message) {
    return Json(status, json{{"error", message}, {"outcome", ServerOutcomeName(outcome)}});
}

ApiResponse ExchangeFailed(const VarekExchangeReport& report) {
    return Json(502,
                json{{"error", VarekDescribeOutcome(report)}, {"outcome", VarekOutcomeName(report.outcome)}});
}

ApiResponse NotAllowed(const std::string& message, const std::string& allowed) {
    ApiResponse answer = Error(405, ServerOutcome::MethodNotAllowed, message);
    answer.headers.emplace_back("Allow", allowed);
    return answer;
}

std::vector<std::string> ErrorOutcomeNames() {
    std::vector<std::string> names;
    for (std::int32_t number = static_cast<std::int32_t>(VarekOutcome::Succeeded) + 1;
         VarekOutcomeName(static_cast<VarekOutcome>(number)) != nullptr; ++number) {
        names.emplace_back(VarekOutcomeName(static_cast<VarekOutcome>(number)));
    }
    for (int outcome = 0; outcome <= static_cast<int>(ServerOutcome::SetupDiffers); ++outcome)
        names.emplace_back(ServerOutcomeName(static_cast<ServerOutcome>(outcome)));
    return names;
}

}  // namespace varek::server
