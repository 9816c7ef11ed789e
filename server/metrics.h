// What the server counts, for GET /metrics in Prometheus' text format: requests by route and
// status, how long requests and replays took, wins stored, submissions refused by reason, open
// connections and database errors. Counting is lock-free: every request counts.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "routes.h"

namespace numoteka::server {

// How long something took, in buckets of seconds.
class Histogram {
public:
    static constexpr std::array<double, 14> BOUNDS = {
        0.0001, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5};
    void observe(double seconds);
    // The histogram's lines, named `name`.
    std::string text(std::string_view name, std::string_view help) const;

private:
    std::array<std::atomic<uint64_t>, BOUNDS.size() + 1> counts_{};
    std::atomic<uint64_t> sumMicroseconds_ = 0;
};

class Metrics {
public:
    enum class Refused { MALFORMED, NOT_A_WIN, TOO_MANY, UNAVAILABLE, COUNT };

    void request(Route route, int status, double seconds);
    void replay(double seconds);
    void winStored();
    void refused(Refused reason);
    void databaseError();
    void connectionOpened();
    void connectionClosed();

    // Every metric, as Prometheus reads them.
    std::string text() const;

private:
    static constexpr int STATUSES = 600;
    std::array<std::array<std::atomic<uint64_t>, STATUSES>, static_cast<size_t>(Route::COUNT)>
        requests_{};
    Histogram requestSeconds_;
    Histogram replaySeconds_;
    std::atomic<uint64_t> winsStored_ = 0;
    std::array<std::atomic<uint64_t>, static_cast<size_t>(Refused::COUNT)> refused_{};
    std::atomic<uint64_t> databaseErrors_ = 0;
    std::atomic<int64_t> connections_ = 0;
};

}  // namespace numoteka::server
