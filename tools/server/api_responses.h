// The API's answers: JSON bodies, errors in words, 405 with Allow.
#ifndef VAREK_SERVER_API_RESPONSES_H
#define VAREK_SERVER_API_RESPONSES_H

#include <nlohmann/json.hpp>
#include <string>

#include "api.h"

namespace varek::server {

// Paths and bodies come from clients and need not be UTF-8: what JSON cannot
// carry is replaced rather than thrown over.
ApiResponse Json(unsigned status, const nlohmann::json& body);
ApiResponse Error(unsigned status, const std::string& message);
ApiResponse NotAllowed(const std::string& message, const std::string& allowed);

}  // namespace varek::server

#endif
