// The log: one line per request on standard error, malformed requests included.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace numoteka::server {

// What is logged of one request.
struct LoggedRequest {
    int64_t startMs = 0;  // Unix time
    std::string client;
    std::string_view method;  // "-" when the request could not be read so far
    std::string_view target;
    int status = 0;
    uint64_t bytes = 0;  // of the answer's body
    double durationMs = 0;
    std::string_view reason;  // why it was refused, or the cause of an internal error
};

// "2026-12-08T03:04:05Z 192.0.2.1 GET /api/daily/2026-12-08/ranking?difficulty=1 200 517 0.4ms",
// and the reason, if any, at the end. Every byte a terminal acts on (C0, DEL, C1 as raw bytes or
// as UTF-8, and bytes that are no UTF-8) is written as \xNN, and a backslash as \x5c.
std::string logLine(const LoggedRequest& request);

// Writes the line, whole, to standard error.
void logRequest(const LoggedRequest& request);

// Text as a log shows it (the escapes of logLine).
std::string escapedForTerminal(std::string_view text);

}  // namespace numoteka::server
