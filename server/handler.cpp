#include "handler.h"

#include <boost/beast/core/string.hpp>
#include <iterator>
#include <utility>

#include "api_json.h"
#include "request_log.h"
#include "routes.h"
#include "server_limits.h"

namespace numoteka::server {

namespace {

// Sent with every answer: the page works under this policy (its scripts and WebAssembly from its
// own origin), and no other site may frame it.
constexpr const char* CONTENT_SECURITY_POLICY =
    "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self' "
    "'unsafe-inline'; img-src 'self'; font-src 'self'; connect-src 'self'; worker-src 'self'; "
    "manifest-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && boost::beast::iequals(a, b);
}

// Every X-Forwarded-For line, in order, as one list.
std::string forwardedFor(const http::request_header<>& head) {
    std::string joined;
    for (auto [line, end] = head.equal_range("X-Forwarded-For"); line != end; ++line) {
        if (!joined.empty()) {
            joined += ',';
        }
        joined.append(line->value());
    }
    return joined;
}

template <class Body>
Reply finished(http::response<Body>&& response, std::string reason, bool head = false) {
    response.set("X-Content-Type-Options", "nosniff");
    response.set(http::field::x_frame_options, "DENY");
    response.set("Referrer-Policy", "no-referrer");
    response.set("Content-Security-Policy", CONTENT_SECURITY_POLICY);
    response.prepare_payload();
    Reply reply{std::move(response), std::move(reason), false, head, nullptr};
    return reply;
}

bool isHead(const HttpRequest& request) {
    return request.method() == http::verb::head;
}

bool reads(const HttpRequest& request) {
    return request.method() == http::verb::get || isHead(request);
}

}  // namespace

int Reply::status() const {
    return std::visit([](const auto& response) { return response.result_int(); }, message);
}

Handler::Handler(TrustedProxies trustedProxies, std::optional<StaticFiles> files,
                 RankingService& service, Metrics& metrics, Descriptors& descriptors)
    : trustedProxies_(std::move(trustedProxies)),
      files_(std::move(files)),
      service_(service),
      metrics_(metrics),
      descriptors_(descriptors) {}

void Handler::noteHead(const http::request_header<>& head, const IpAddress& peer,
                       Exchange& exchange) const {
    exchange.method = std::string(head.method_string());
    exchange.target = std::string(head.target());
    exchange.client = clientOf(peer, forwardedFor(head), trustedProxies_);
}

std::optional<Reply> Handler::checkHead(const http::request_header<>& head,
                                        const Exchange& exchange) const {
    if (static_cast<size_t>(std::distance(head.begin(), head.end())) >
        limits::REQUEST_HEAD_LINES) {
        return refusal(http::status::bad_request, "too many header lines", exchange);
    }
    const std::string_view encoding = head[http::field::content_encoding];
    if (!encoding.empty() && !sameWord(encoding, "identity")) {
        return refusal(http::status::unsupported_media_type, "the body must not be encoded",
                       exchange);
    }
    return std::nullopt;
}

bool Handler::waits(const HttpRequest& request) {
    const Route route = routeOf(request.target()).route;
    return route == Route::WINS || route == Route::RANKING;
}

Reply Handler::handle(const HttpRequest& request, const Exchange& exchange) {
    const Target target = routeOf(request.target());
    switch (target.route) {
        case Route::METRICS: {
            if (!reads(request)) {
                return error(http::status::method_not_allowed, "method not allowed", exchange,
                             "GET, HEAD");
            }
            StringResponse response{http::status::ok, 11};
            response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
            response.set(http::field::cache_control, "no-store");
            response.body() = metrics_.text();
            return finished(std::move(response), "", isHead(request));
        }
        case Route::HEALTH:
            if (!reads(request)) {
                return error(http::status::method_not_allowed, "method not allowed", exchange,
                             "GET, HEAD");
            }
            return answer(service_.health(), isHead(request));
        case Route::WINS:
        case Route::RANKING:
        case Route::OTHER:
            return api(request, target, exchange);
        case Route::PAGE:
        case Route::COUNT:
            break;
    }
    return file(request, target, exchange);
}

std::optional<Reply> Handler::handleAtOnce(const HttpRequest& request, const Exchange&) {
    const Target target = routeOf(request.target());
    if (target.route != Route::RANKING || !reads(request)) {
        return std::nullopt;
    }
    std::optional<Answer> known =
        service_.dayRankingAtOnce(*target.date, queryValue(target.query, "difficulty"));
    if (!known) {
        return std::nullopt;
    }
    return answer(*known, isHead(request));
}

Reply Handler::api(const HttpRequest& request, const Target& target, const Exchange& exchange) {
    if (target.route == Route::WINS) {
        if (request.method() != http::verb::post) {
            return error(http::status::method_not_allowed, "method not allowed", exchange, "POST");
        }
        return answer(service_.submitWin(target.date, request.body(), clientKey(exchange.client)),
                      false);
    }
    if (target.route == Route::RANKING) {
        if (!reads(request)) {
            return error(http::status::method_not_allowed, "method not allowed", exchange,
                         "GET, HEAD");
        }
        return answer(service_.dayRanking(*target.date, queryValue(target.query, "difficulty")),
                      isHead(request));
    }
    return error(http::status::not_found, "no such address", exchange);
}

Reply Handler::file(const HttpRequest& request, const Target& target, const Exchange& exchange) {
    if (!files_) {
        return error(http::status::not_found, "no such address", exchange);
    }
    if (!reads(request)) {
        return error(http::status::method_not_allowed, "method not allowed", exchange,
                     "GET, HEAD");
    }
    const std::optional<StaticFile> found = files_->find(target.path);
    if (!found) {
        return error(http::status::not_found, "no such file", exchange);
    }
    std::shared_ptr<void> descriptor = descriptors_.take();
    if (!descriptor) {
        return unavailable("no descriptor free to send a file", limits::RETRY_AFTER_WORKER,
                           exchange);
    }
    boost::beast::error_code failed;
    http::file_body::value_type body;
    body.open(found->path.c_str(), boost::beast::file_mode::scan, failed);
    if (failed) {
        return error(http::status::not_found, "no such file", exchange);
    }
    FileResponse response{std::piecewise_construct, std::make_tuple(std::move(body)),
                          std::make_tuple(http::status::ok, 11)};
    response.set(http::field::content_type, found->contentType);
    response.set(http::field::cache_control, found->cacheControl);
    Reply reply = finished(std::move(response), "", isHead(request));
    reply.holds = std::move(descriptor);
    return reply;
}

Reply Handler::answer(const Answer& answer, bool head) const {
    StringResponse response{static_cast<http::status>(answer.status), 11};
    response.set(http::field::content_type, "application/json");
    response.set(http::field::cache_control, "no-store");
    if (answer.retryAfter > 0) {
        response.set(http::field::retry_after, std::to_string(answer.retryAfter));
    }
    response.body() = answer.body;
    return finished(std::move(response), answer.reason, head);
}

// The server's own refusals: JSON under /api/, a line of text elsewhere.
Reply Handler::error(http::status status, std::string reason, const Exchange& exchange,
                     const char* allow, const char* kind) const {
    if (exchange.target.starts_with("/api/")) {
        Reply reply = answer(
            {static_cast<int>(status), errorJson(reason, kind != nullptr ? kind : ""), reason, 0},
            exchange.method == "HEAD");
        if (allow != nullptr) {
            std::get<StringResponse>(reply.message).set(http::field::allow, allow);
        }
        return reply;
    }
    StringResponse response{status, 11};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    if (allow != nullptr) {
        response.set(http::field::allow, allow);
    }
    response.body() = reason + "\n";
    return finished(std::move(response), std::move(reason), exchange.method == "HEAD");
}

Reply Handler::refusal(http::status status, std::string reason, const Exchange& exchange,
                       bool closes) const {
    const bool tooLarge = status == http::status::payload_too_large ||
                          status == http::status::request_header_fields_too_large;
    Reply reply =
        error(status, std::move(reason), exchange, nullptr, tooLarge ? "too-large" : "malformed");
    reply.closes = closes;
    return reply;
}

Reply Handler::unavailable(std::string reason, int retryAfter, const Exchange& exchange) const {
    if (exchange.target.starts_with("/api/")) {
        return answer({503, errorJson(reason + ": try again", "unavailable"), reason, retryAfter},
                      exchange.method == "HEAD");
    }
    Reply reply = error(http::status::service_unavailable, reason, exchange);
    std::get<StringResponse>(reply.message)
        .set(http::field::retry_after, std::to_string(retryAfter));
    return reply;
}

void Handler::answered(const Exchange& exchange, const Reply& reply, uint64_t bytes) const {
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                exchange.started)
                          .count();
    const int status = reply.status();
    logRequest({exchange.startedMs, exchange.client.to_string(), exchange.method, exchange.target,
                status, reply.headOnly ? 0 : bytes, ms, reply.reason});
    metrics_.request(routeOf(exchange.target).route, status, ms / 1000);
}

}  // namespace numoteka::server
