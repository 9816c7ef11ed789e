#include "metrics.h"

#include <cstdio>

namespace numoteka::server {

namespace {

constexpr const char* ROUTE_NAMES[] = {"ranking", "wins", "healthz", "metrics", "page", "other"};
constexpr const char* REFUSAL_NAMES[] = {"malformed", "not_a_win", "rate_limited", "unavailable"};

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string heading(std::string_view name, std::string_view help, std::string_view type) {
    return "# HELP " + std::string(name) + " " + std::string(help) + "\n# TYPE " +
           std::string(name) + " " + std::string(type) + "\n";
}

}  // namespace

void Histogram::observe(double seconds) {
    size_t bucket = 0;
    while (bucket < BOUNDS.size() && seconds > BOUNDS[bucket]) {
        ++bucket;
    }
    ++counts_[bucket];
    sumMicroseconds_ += static_cast<uint64_t>(seconds * 1e6);
}

std::string Histogram::text(std::string_view name, std::string_view help) const {
    std::string out = heading(name, help, "histogram");
    uint64_t below = 0;
    for (size_t bucket = 0; bucket <= BOUNDS.size(); ++bucket) {
        below += counts_[bucket];
        out += std::string(name) + "_bucket{le=\"" +
               (bucket < BOUNDS.size() ? number(BOUNDS[bucket]) : "+Inf") + "\"} " +
               std::to_string(below) + "\n";
    }
    out += std::string(name) + "_sum " + number(static_cast<double>(sumMicroseconds_) / 1e6) +
           "\n" + std::string(name) + "_count " + std::to_string(below) + "\n";
    return out;
}

void Metrics::request(Route route, int status, double seconds) {
    if (status >= 0 && status < STATUSES) {
        ++requests_[static_cast<size_t>(route)][static_cast<size_t>(status)];
    }
    requestSeconds_.observe(seconds);
}

void Metrics::replay(double seconds) {
    replaySeconds_.observe(seconds);
}

void Metrics::winStored() {
    ++winsStored_;
}

void Metrics::refused(Refused reason) {
    ++refused_[static_cast<size_t>(reason)];
}

void Metrics::databaseError() {
    ++databaseErrors_;
}

void Metrics::connectionOpened() {
    ++connections_;
}

void Metrics::connectionClosed() {
    --connections_;
}

std::string Metrics::text() const {
    std::string out =
        heading("numoteka_requests_total", "Requests answered, by route and status.", "counter");
    for (size_t route = 0; route < requests_.size(); ++route) {
        for (int status = 0; status < STATUSES; ++status) {
            if (const uint64_t count = requests_[route][static_cast<size_t>(status)]) {
                out += "numoteka_requests_total{route=\"" + std::string(ROUTE_NAMES[route]) +
                       "\",status=\"" + std::to_string(status) + "\"} " + std::to_string(count) +
                       "\n";
            }
        }
    }
    out += requestSeconds_.text("numoteka_request_duration_seconds",
                                "How long requests took, from their first byte to their answer.");
    out += replaySeconds_.text("numoteka_replay_duration_seconds",
                               "How long the replay of a submitted code took.");
    out += heading("numoteka_wins_stored_total", "Submissions stored (a code seen before is not).",
                   "counter") +
           "numoteka_wins_stored_total " + std::to_string(winsStored_) + "\n";
    out +=
        heading("numoteka_submissions_refused_total", "Submissions refused, by reason.", "counter");
    for (size_t reason = 0; reason < refused_.size(); ++reason) {
        out += "numoteka_submissions_refused_total{reason=\"" + std::string(REFUSAL_NAMES[reason]) +
               "\"} " + std::to_string(refused_[reason]) + "\n";
    }
    out += heading("numoteka_rate_limited_total",
                   "Submissions refused for the limit of submissions a minute.", "counter") +
           "numoteka_rate_limited_total " +
           std::to_string(refused_[static_cast<size_t>(Refused::TOO_MANY)]) + "\n";
    out += heading("numoteka_open_connections", "Connections open now.", "gauge") +
           "numoteka_open_connections " + std::to_string(connections_) + "\n";
    out +=
        heading("numoteka_database_errors_total",
                "Requests that failed for the database (answered 500, or health 503).", "counter") +
        "numoteka_database_errors_total " + std::to_string(databaseErrors_) + "\n";
    return out;
}

}  // namespace numoteka::server
