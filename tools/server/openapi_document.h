// The HTTP API described in OpenAPI 3.1, for client generators and
// fuzzers: the routes, bodies, answers and error bodies from openapi.json,
// compiled in, with what the library knows filled in when it is served (its
// limits, its outcome and open-failure names, the project version), so that
// the document cannot drift from the rules the server applies.
#ifndef VAREK_SERVER_OPENAPI_DOCUMENT_H
#define VAREK_SERVER_OPENAPI_DOCUMENT_H

#include <string>

namespace varek::server {

// The document as JSON text.
const std::string& OpenApiDocument();

}  // namespace varek::server

#endif
