// The server's answers without a socket: a request in, its answer out. Routing (by routes.h),
// the API, the page's files, the refusals of what cannot be read, the headers every answer
// carries, and what the log and the metrics say of each. The session (session.h) reads and
// writes; this decides.
#pragma once

#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "client_address.h"
#include "descriptors.h"
#include "metrics.h"
#include "ranking_service.h"
#include "static_files.h"

namespace numoteka::server {

namespace http = boost::beast::http;
using HttpRequest = http::request<http::string_body>;
using StringResponse = http::response<http::string_body>;
using FileResponse = http::response<http::file_body>;

// An answer as the session writes it.
struct Reply {
    std::variant<StringResponse, FileResponse> message;
    std::string reason;           // for the log: why it was refused, or what failed inside
    bool closes = false;          // what follows the request cannot be read: close after it
    bool headOnly = false;        // HEAD: the head alone, with the body's length
    std::shared_ptr<void> holds;  // the descriptor of the file it sends

    int status() const;
};

// One request as the log and the metrics see it.
struct Exchange {
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    int64_t startedMs = 0;  // Unix time
    std::string method = "-";
    std::string target = "-";
    IpAddress client;
};

class Handler {
public:
    // `files`: the page, when it is served; `descriptors`: what sending a file takes one of.
    Handler(TrustedProxies trustedProxies, std::optional<StaticFiles> files,
            RankingService& service, Metrics& metrics, Descriptors& descriptors);

    // A request's head has come from `peer`: what the log says of it from now on.
    void noteHead(const http::request_header<>& head, const IpAddress& peer,
                  Exchange& exchange) const;

    // Read before the body: a refusal of the head (its lines, its body's encoding), if any.
    std::optional<Reply> checkHead(const http::request_header<>& head,
                                   const Exchange& exchange) const;

    // Whether answering may wait for the database or a replay worker: such requests are
    // answered off the connections' threads.
    static bool waits(const HttpRequest& request);

    Reply handle(const HttpRequest& request, const Exchange& exchange);

    // For a request that waits: its answer when it needs nothing of the database now (a
    // ranking kept in memory), to be given at once; nothing otherwise.
    std::optional<Reply> handleAtOnce(const HttpRequest& request, const Exchange& exchange);

    // A request refused before it was read whole (`closes`), or one that could not be taken on
    // now (the server busy or stopping: 503, try again). Under /api/ a refusal's kind is
    // "too-large" for a head or body over its limit, else "malformed"; the 503's "unavailable".
    Reply refusal(http::status status, std::string reason, const Exchange& exchange,
                  bool closes = true) const;
    Reply unavailable(std::string reason, int retryAfter, const Exchange& exchange) const;

    // Its answer is written (or the connection failed while it was): logged and counted.
    void answered(const Exchange& exchange, const Reply& reply, uint64_t bytes) const;

private:
    Reply api(const HttpRequest& request, const Target& target, const Exchange& exchange);
    Reply file(const HttpRequest& request, const Target& target, const Exchange& exchange);
    Reply answer(const Answer& answer, bool head) const;
    Reply error(http::status status, std::string reason, const Exchange& exchange,
                const char* allow = nullptr, const char* kind = nullptr) const;

    TrustedProxies trustedProxies_;
    std::optional<StaticFiles> files_;
    RankingService& service_;
    Metrics& metrics_;
    Descriptors& descriptors_;
};

}  // namespace numoteka::server
