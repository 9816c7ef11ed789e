#include "routes.h"

namespace numoteka::server {

Target routeOf(std::string_view target) {
    Target found;
    const size_t mark = target.find('?');
    found.path = target.substr(0, mark);
    found.query = mark == std::string_view::npos ? std::string_view{} : target.substr(mark + 1);
    const std::string_view path = found.path;
    if (path == "/healthz") {
        found.route = Route::HEALTH;
    } else if (path == "/metrics") {
        found.route = Route::METRICS;
    } else if (!path.starts_with("/api/")) {
        found.route = Route::PAGE;
    } else if (path == "/api/daily/wins") {
        found.route = Route::WINS;
    } else if (constexpr std::string_view DAILY = "/api/daily/"; path.starts_with(DAILY)) {
        const std::string_view rest = path.substr(DAILY.size());
        const size_t slash = rest.find('/');
        const std::string_view date = rest.substr(0, slash);
        const std::string_view what =
            slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (slash != std::string_view::npos && (what == "wins" || what == "ranking")) {
            found.route = what == "wins" ? Route::WINS : Route::RANKING;
            found.date = date;
        }
    }
    return found;
}

std::string_view queryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=') {
            return pair.substr(name.size() + 1);
        }
        query.remove_prefix(end == std::string_view::npos ? query.size() : end + 1);
    }
    return {};
}

}  // namespace numoteka::server
