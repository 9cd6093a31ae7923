// What the server tells its operator: one line on stderr for each thing
// worth knowing, beginning with the time in UTC (ISO 8601), so that a
// journal or a log file keeps the order and the moment of each.
#ifndef VAREK_SERVER_EVENT_LOG_H
#define VAREK_SERVER_EVENT_LOG_H

#include <chrono>
#include <string>

namespace varek::server {

// "2026-12-09T17:06:23Z port /dev/ttyUSB0 lost: ..."; lines from several
// threads never mix.
void LogEvent(const std::string& text);

// `moment` as ISO 8601 in UTC, to the second: "2026-12-09T17:06:23Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point moment);

}  // namespace varek::server

#endif
