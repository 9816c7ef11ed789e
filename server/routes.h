// The server's addresses, read once: what a request's target asks for. The handler answers by
// it and the metrics count by it, so the two never disagree.
#pragma once

#include <optional>
#include <string_view>

namespace numoteka::server {

enum class Route {
    RANKING,  // /api/daily/<date>/ranking
    WINS,     // /api/daily/wins, /api/daily/<date>/wins
    HEALTH,   // /healthz
    METRICS,  // /metrics
    PAGE,     // any other path outside /api/: the page's files
    OTHER,    // any other path below /api/: 404
    COUNT
};

struct Target {
    Route route = Route::OTHER;
    std::string_view path;                // before any "?"
    std::string_view query;               // after it
    std::optional<std::string_view> date;  // the <date> of a dated API address, unchecked
};

// What `target` ("/api/daily/2026-12-08/ranking?difficulty=1") asks for. A <date> is one
// segment: /api/daily/a/b/wins is no address of the API.
Target routeOf(std::string_view target);

// The value of `name` in a query string "a=1&b=2"; empty when it is not there.
std::string_view queryValue(std::string_view query, std::string_view name);

}  // namespace numoteka::server
