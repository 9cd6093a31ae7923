// The API's answers: JSON bodies, and errors as {"error": WORDS, "outcome":
// NAME}, so that a client tells one failure from another by its name.
#ifndef VAREK_SERVER_API_RESPONSES_H
#define VAREK_SERVER_API_RESPONSES_H

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "api.h"
#include "request_guard.h"
#include "varek/exchange_report.h"

namespace varek::server {

// Paths and bodies come from clients and need not be UTF-8: what JSON cannot
// carry is replaced rather than thrown over.
ApiResponse Json(unsigned status, const nlohmann::json& body);
// The server's own failures, by their names.
ApiResponse Error(unsigned status, ServerOutcome outcome, const std::string& message);
// An exchange that failed: 502, the library's outcome name and its reason.
ApiResponse ExchangeFailed(const VarekExchangeReport& report);
ApiResponse NotAllowed(const std::string& message, const std::string& allowed);

// Every name an error's "outcome" can hold: the library's outcomes (apart
// from success), then the server's own.
std::vector<std::string> ErrorOutcomeNames();

}  // namespace varek::server

#endif
