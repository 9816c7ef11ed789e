// The server's time: Unix milliseconds, and the UTC form the API and the log write it in.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

namespace numoteka::server {

inline int64_t unixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "2026-12-08T03:04:05Z".
inline std::string isoTime(int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace numoteka::server
