#include "http_server.h"

#include <sys/resource.h>

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "api_json.h"
#include "clock.h"
#include "request_log.h"
#include "server_limits.h"

namespace numoteka::server {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// Sent with every answer: the page works under this policy (its scripts and WebAssembly from its
// own origin), and no other site may frame it.
constexpr const char* CONTENT_SECURITY_POLICY =
    "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self' "
    "'unsafe-inline'; img-src 'self'; font-src 'self'; connect-src 'self'; worker-src 'self'; "
    "manifest-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

// What a connection closed after an error answer still reads and drops, so that the client,
// still sending, sees the answer rather than a reset.
constexpr size_t LINGER_BYTES = 256 * 1024;
constexpr std::chrono::seconds LINGER_TIME{2};
// How long to wait before accepting again when the process may open no more files.
constexpr std::chrono::milliseconds ACCEPT_RETRY{50};

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && beast::iequals(a, b);
}

// The value of `name` in a query string "a=1&b=2"; empty when it is not there.
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

class Session;

}  // namespace

struct HttpServer::State {
    State(HttpSettings settings_, RankingService& service_, Metrics& metrics_)
        : settings(std::move(settings_)),
          service(service_),
          metrics(metrics_),
          work(settings.workThreads) {
        if (settings.web) {
            files.emplace(*settings.web);
        }
    }

    HttpSettings settings;
    RankingService& service;
    Metrics& metrics;
    std::optional<StaticFiles> files;
    std::atomic<bool> stopping = false;
    int maxConnections = limits::CONNECTIONS;

    // The open connections. Declared before the event loop: connections its queue still holds
    // when it is destroyed unregister here.
    std::mutex sessionsMutex;
    std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
    std::map<IpAddress, int> connectionsByPeer;

    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::thread_pool work;
    asio::signal_set signals{io, SIGINT, SIGTERM};
    asio::steady_timer acceptRetry{io};

    // Ends the event loop at STOP_TIME after a stop, should connections still be open then.
    std::mutex stopMutex;
    std::condition_variable ended;
    bool loopEnded = false;
    std::thread deadline;

    void accept();
    void admit(tcp::socket socket);
    void stop();
    // Answers on the work threads: what takes a while (a replay, a write) is done off the
    // connections' threads.
    void offload(std::shared_ptr<Session> session, std::function<Answer()> work);
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(HttpServer::State& state, tcp::socket socket, IpAddress peer)
        : state_(state),
          stream_(std::move(socket)),
          peer_(peer),
          buffer_(limits::REQUEST_HEAD_BYTES + limits::REQUEST_BODY_BYTES + 4096) {}

    ~Session() {
        state_.metrics.connectionClosed();
        const std::lock_guard lock(state_.sessionsMutex);
        state_.sessions.erase(this);
        if (--state_.connectionsByPeer[peer_] == 0) {
            state_.connectionsByPeer.erase(peer_);
        }
    }

    void start() {
        state_.metrics.connectionOpened();
        {
            const std::lock_guard lock(state_.sessionsMutex);
            state_.sessions.emplace(this, weak_from_this());
        }
        beast::error_code ignored;
        stream_.socket().set_option(tcp::no_delay(true), ignored);
        asio::dispatch(stream_.get_executor(), [self = shared_from_this()] {
            if (self->state_.stopping) {
                self->close();
            } else {
                self->awaitRequest();
            }
        });
    }

    auto executor() {
        return stream_.get_executor();
    }

    void sendAnswer(const Answer& answer) {
        http::response<http::string_body> response{static_cast<http::status>(answer.status), 11};
        response.set(http::field::content_type, "application/json");
        response.set(http::field::cache_control, "no-store");
        if (answer.retryAfter > 0) {
            response.set(http::field::retry_after, std::to_string(answer.retryAfter));
        }
        response.body() = answer.body;
        send(std::move(response), answer.reason);
    }

    // The server stops: a connection that is not answering a request closes now; one that is
    // closes once its answer is written.
    void stop() {
        stopping_ = true;
        if (!answering_) {
            close();
        }
    }

private:
    // Waits for the first byte of the next request: a kept-alive connection waits at most
    // IDLE_TIME. Pipelined requests are in the buffer already.
    void awaitRequest() {
        if (stopping_) {
            return close();
        }
        if (buffer_.size() > 0) {
            return readHead();
        }
        stream_.expires_after(limits::IDLE_TIME);
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](
                                                           beast::error_code error, size_t read) {
            if (error) {
                return self->close();  // gone, idle too long, or stopped: nothing to answer
            }
            self->buffer_.commit(read);
            self->readHead();
        });
    }

    void readHead() {
        started_ = Clock::now();
        startedMs_ = unixMs();
        method_ = "-";
        target_ = "-";
        client_ = peer_;
        parser_.emplace();
        parser_->header_limit(static_cast<uint32_t>(limits::REQUEST_HEAD_BYTES));
        parser_->body_limit(limits::REQUEST_BODY_BYTES);
        // The whole request, head and body, must come within REQUEST_TIME of its first byte.
        // The stream's own timeout would close the connection: this one leaves it open for the
        // answer that says so.
        stream_.expires_never();
        timedOut_ = false;
        requestTimer_.expires_after(limits::REQUEST_TIME);
        requestTimer_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error) {
                self->timedOut_ = true;
                beast::error_code ignored;
                self->stream_.socket().cancel(ignored);
            }
        });
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code error, size_t) { self->onHead(error); });
    }

    void onHead(beast::error_code error) {
        if (error) {
            return failed(error);
        }
        const auto& head = parser_->get();
        noteRequest();
        if (static_cast<size_t>(std::distance(head.begin(), head.end())) >
            limits::REQUEST_HEAD_LINES) {
            return refuseRequest(http::status::bad_request, "too many header lines");
        }
        const std::string_view encoding = head[http::field::content_encoding];
        if (!encoding.empty() && !sameWord(encoding, "identity")) {
            return refuseRequest(http::status::unsupported_media_type,
                                 "the body must not be encoded");
        }
        if (sameWord(head[http::field::expect], "100-continue")) {
            static const std::string CONTINUE = "HTTP/1.1 100 Continue\r\n\r\n";
            return asio::async_write(
                stream_, asio::buffer(CONTINUE),
                [self = shared_from_this()](beast::error_code written, size_t) {
                    written ? self->close() : self->readBody();
                });
        }
        readBody();
    }

    void readBody() {
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, size_t) {
                             if (error) {
                                 return self->failed(error);
                             }
                             self->requestTimer_.cancel();
                             self->handle(self->parser_->release());
                         });
    }

    // What the log and the answer's kind go by, once the request's head is read.
    void noteRequest() {
        const auto& head = parser_->get();
        method_ = std::string(head.method_string());
        target_ = std::string(head.target());
        client_ = clientOf(peer_, forwardedFor(head), state_.settings.trustedProxies);
    }

    // Every X-Forwarded-For line, in order, as one list.
    static std::string forwardedFor(const http::request_header<>& head) {
        std::string joined;
        for (auto [line, end] = head.equal_range("X-Forwarded-For"); line != end; ++line) {
            joined += (joined.empty() ? "" : ",") + std::string(line->value());
        }
        return joined;
    }

    // A request that could not be read whole.
    void failed(beast::error_code error) {
        requestTimer_.cancel();
        if (timedOut_) {
            error = beast::error::timeout;
        }
        // The request line may have been read even when its fields were not.
        if (!parser_->get().target().empty()) {
            noteRequest();
        }
        // Gone, or cancelled by the stop: no one to answer.
        if (stopping_ || error == http::error::end_of_stream || error == asio::error::eof ||
            error == asio::error::connection_reset || error == asio::error::operation_aborted ||
            error == asio::error::bad_descriptor) {
            return close();
        }
        if (error == beast::error::timeout) {
            return refuseRequest(http::status::request_timeout,
                                 "the request did not arrive in time");
        }
        if (error == http::error::header_limit) {
            return refuseRequest(http::status::request_header_fields_too_large,
                                 "the request's head is too large");
        }
        if (error == http::error::body_limit || error == http::error::buffer_overflow) {
            return refuseRequest(http::status::payload_too_large, "the body is too large");
        }
        refuseRequest(http::status::bad_request, "bad request: " + error.message());
    }

    // Refuses a request and closes the connection: what follows it cannot be read.
    void refuseRequest(http::status status, std::string reason) {
        requestTimer_.cancel();
        answering_ = true;
        keepAlive_ = false;
        sendError(status, std::move(reason));
    }

    void handle(http::request<http::string_body> request) {
        answering_ = true;
        keepAlive_ = request.keep_alive() && !stopping_;
        const std::string_view target = request.target();
        const std::string_view path = target.substr(0, target.find('?'));
        const std::string_view query =
            path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view{};
        const http::verb method = request.method();
        const bool reads = method == http::verb::get || method == http::verb::head;
        head_ = method == http::verb::head;

        if (path == "/metrics") {
            if (!reads) {
                return notAllowed("GET, HEAD");
            }
            http::response<http::string_body> response{http::status::ok, 11};
            response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
            response.set(http::field::cache_control, "no-store");
            response.body() = state_.metrics.text();
            return send(std::move(response), "");
        }
        if (path == "/healthz") {
            if (!reads) {
                return notAllowed("GET, HEAD");
            }
            return state_.offload(shared_from_this(), [this] { return state_.service.health(); });
        }
        if (path.starts_with("/api/")) {
            return api(std::move(request), path, query);
        }
        if (!state_.files) {
            return sendError(http::status::not_found, "no such address");
        }
        if (!reads) {
            return notAllowed("GET, HEAD");
        }
        const std::optional<StaticFile> file = state_.files->find(path);
        if (!file) {
            return sendError(http::status::not_found, "no such file");
        }
        sendFile(*file);
    }

    // The API: /api/daily/wins, /api/daily/<date>/wins and /api/daily/<date>/ranking.
    void api(http::request<http::string_body> request, std::string_view path,
             std::string_view query) {
        constexpr std::string_view DAILY = "/api/daily/";
        std::string_view rest = path.starts_with(DAILY) ? path.substr(DAILY.size()) : "";
        std::optional<std::string> date;
        if (const size_t slash = rest.find('/'); slash != std::string_view::npos) {
            date = std::string(rest.substr(0, slash));
            rest.remove_prefix(slash + 1);
        }
        const http::verb method = request.method();
        if (rest == "wins" && (date || path == "/api/daily/wins")) {
            if (method != http::verb::post) {
                return notAllowed("POST");
            }
            return state_.offload(
                shared_from_this(), [this, date, body = std::move(request.body())] {
                    return state_.service.submitWin(
                        date ? std::optional<std::string_view>(*date) : std::nullopt, body,
                        clientKey(client_));
                });
        }
        if (rest == "ranking" && date) {
            if (method != http::verb::get && method != http::verb::head) {
                return notAllowed("GET, HEAD");
            }
            return sendAnswer(state_.service.dayRanking(*date, queryValue(query, "difficulty")));
        }
        sendError(http::status::not_found, "no such address");
    }

    void notAllowed(const char* allowed) {
        allow_ = allowed;
        sendError(http::status::method_not_allowed, "method not allowed");
    }

    // The server's own refusals: JSON under /api/, a line of text elsewhere.
    void sendError(http::status status, std::string reason) {
        if (target_.starts_with("/api/")) {
            return sendAnswer({static_cast<int>(status), errorJson(reason), reason, 0});
        }
        http::response<http::string_body> response{status, 11};
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = reason + "\n";
        send(std::move(response), reason);
    }

    void sendFile(const StaticFile& file) {
        beast::error_code error;
        http::file_body::value_type body;
        body.open(file.path.c_str(), beast::file_mode::scan, error);
        if (error) {
            return sendError(http::status::not_found, "no such file");
        }
        http::response<http::file_body> response{std::piecewise_construct,
                                                 std::make_tuple(std::move(body)),
                                                 std::make_tuple(http::status::ok, 11)};
        response.set(http::field::content_type, file.contentType);
        response.set(http::field::cache_control, file.cacheControl);
        send(std::move(response), "");
    }

    template <class Body>
    void send(http::response<Body>&& response, std::string reason) {
        response.set("X-Content-Type-Options", "nosniff");
        response.set(http::field::x_frame_options, "DENY");
        response.set("Referrer-Policy", "no-referrer");
        response.set("Content-Security-Policy", CONTENT_SECURITY_POLICY);
        if (!allow_.empty()) {
            response.set(http::field::allow, allow_);
            allow_.clear();
        }
        response.keep_alive(keepAlive_);
        response.prepare_payload();
        const uint64_t bytes = response.payload_size().value_or(0);
        const int status = response.result_int();
        auto message = std::make_shared<http::response<Body>>(std::move(response));
        stream_.expires_after(limits::ANSWER_TIME);
        const auto written = [self = shared_from_this(), message, status, bytes,
                              reason = std::move(reason)](beast::error_code error, size_t) {
            self->log(status, bytes, reason);
            self->afterAnswer(error, status);
        };
        if (head_) {
            // HEAD: the head alone, with the length the body would have.
            auto serializer = std::make_shared<http::response_serializer<Body>>(*message);
            serializer->split(true);
            http::async_write_header(
                stream_, *serializer,
                [serializer, written](beast::error_code error, size_t n) { written(error, n); });
        } else {
            http::async_write(stream_, *message, written);
        }
    }

    void log(int status, uint64_t bytes, std::string_view reason) const {
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
        logRequest({startedMs_, client_.to_string(), method_, target_, status, head_ ? 0 : bytes,
                    ms, reason});
        state_.metrics.request(Metrics::routeOf(target_.substr(0, target_.find('?'))), status,
                               ms / 1000);
    }

    void afterAnswer(beast::error_code error, int status) {
        answering_ = false;
        head_ = false;
        if (error) {
            return close();
        }
        if (!keepAlive_ || stopping_) {
            return status >= 400 ? lingerAndClose() : close();
        }
        // A large request's room is given back.
        if (buffer_.capacity() > 16 * 1024 && buffer_.size() == 0) {
            buffer_.shrink_to_fit();
        }
        awaitRequest();
    }

    // After an error answer: no more is sent, and what the client still sends is read and
    // dropped for a while, so that the answer is not lost to a reset.
    void lingerAndClose() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        buffer_.consume(buffer_.size());
        stream_.expires_after(LINGER_TIME);
        drain();
    }

    void drain() {
        stream_.async_read_some(buffer_.prepare(4096),
                                [self = shared_from_this()](beast::error_code error, size_t n) {
                                    self->drained_ += n;
                                    if (error || self->drained_ > LINGER_BYTES) {
                                        return self->close();
                                    }
                                    self->drain();
                                });
    }

    void close() {
        requestTimer_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    HttpServer::State& state_;
    beast::tcp_stream stream_;
    asio::steady_timer requestTimer_{stream_.get_executor()};
    bool timedOut_ = false;
    IpAddress peer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    bool answering_ = false;
    bool keepAlive_ = true;
    bool head_ = false;
    bool stopping_ = false;
    std::string allow_;
    size_t drained_ = 0;
    // What the log says of the request under way.
    Clock::time_point started_;
    int64_t startedMs_ = 0;
    std::string method_ = "-";
    std::string target_ = "-";
    IpAddress client_;
};

// As many connections as the process may keep open files for, less some for the rest.
int connectionRoom() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) {
        return limits::CONNECTIONS;
    }
    return static_cast<int>(
        std::min<rlim_t>(limits::CONNECTIONS, files.rlim_cur > 128 ? files.rlim_cur - 64 : 64));
}

}  // namespace

void HttpServer::State::accept() {
    acceptor.async_accept(asio::make_strand(io),
                          [this](beast::error_code error, tcp::socket socket) {
                              if (!acceptor.is_open() || stopping) {
                                  return;
                              }
                              if (error) {
                                  // Out of files, say: try again shortly rather than spin.
                                  acceptRetry.expires_after(ACCEPT_RETRY);
                                  acceptRetry.async_wait([this](beast::error_code) { accept(); });
                                  return;
                              }
                              admit(std::move(socket));
                              accept();
                          });
}

void HttpServer::State::admit(tcp::socket socket) {
    beast::error_code error;
    const tcp::endpoint remote = socket.remote_endpoint(error);
    if (error) {
        return;
    }
    IpAddress peer;
    parseAddress(remote.address().to_string(), peer);
    {
        const std::lock_guard lock(sessionsMutex);
        int& ofPeer = connectionsByPeer[peer];
        const bool exempt = settings.trustedProxies.trusts(peer);
        if (static_cast<int>(sessions.size()) >= maxConnections ||
            (!exempt && ofPeer >= limits::CONNECTIONS_PER_CLIENT)) {
            if (ofPeer == 0) {
                connectionsByPeer.erase(peer);
            }
            socket.close(error);
            return;
        }
        ++ofPeer;
    }
    std::make_shared<Session>(*this, std::move(socket), peer)->start();
}

void HttpServer::State::offload(std::shared_ptr<Session> session, std::function<Answer()> job) {
    // The event loop runs on until the answer is written, even while it has nothing else to do.
    // Once the server stops, what has not begun is not begun: its client is told to try again
    // (elsewhere), and the stop is not held up.
    asio::post(work, [this, session = std::move(session), job = std::move(job),
                      busy = asio::make_work_guard(io)] {
        Answer answer = stopping ? Answer{503, errorJson("the server is stopping: try again"),
                                          "stopping", limits::RETRY_AFTER_WORKER}
                                 : job();
        asio::post(session->executor(),
                   [session, answer = std::move(answer)] { session->sendAnswer(answer); });
    });
}

void HttpServer::State::stop() {
    if (stopping.exchange(true)) {
        return;
    }
    beast::error_code ignored;
    acceptor.close(ignored);
    acceptRetry.cancel();
    signals.cancel();
    std::vector<std::shared_ptr<Session>> open;
    {
        const std::lock_guard lock(sessionsMutex);
        for (const auto& [_, session] : sessions) {
            if (auto alive = session.lock()) {
                open.push_back(std::move(alive));
            }
        }
    }
    for (const std::shared_ptr<Session>& session : open) {
        asio::dispatch(session->executor(), [session] { session->stop(); });
    }
    // Whatever the clients do, the server ends within STOP_TIME.
    deadline = std::thread([this] {
        std::unique_lock lock(stopMutex);
        if (!ended.wait_for(lock, limits::STOP_TIME, [this] { return loopEnded; })) {
            io.stop();
        }
    });
}

HttpServer::HttpServer(HttpSettings settings, RankingService& service, Metrics& metrics)
    : state_(std::make_unique<State>(std::move(settings), service, metrics)) {
    state_->maxConnections = connectionRoom();
}

HttpServer::~HttpServer() = default;

int HttpServer::listen() {
    State& state = *state_;
    beast::error_code error;
    const asio::ip::address address = asio::ip::make_address(state.settings.address, error);
    if (error) {
        throw std::runtime_error("'" + state.settings.address + "' is not an IP address");
    }
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(state.settings.port));
    const auto fail = [&](const char* what) {
        throw std::runtime_error(std::string("cannot ") + what + " " + state.settings.address +
                                 " port " + std::to_string(state.settings.port) + ": " +
                                 error.message());
    };
    if (state.acceptor.open(endpoint.protocol(), error)) {
        fail("listen on");
    }
    // Only the address's own earlier connections may linger: another server on the port
    // makes this one fail.
    state.acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (state.acceptor.bind(endpoint, error)) {
        fail("bind to");
    }
    if (state.acceptor.listen(limits::LISTEN_BACKLOG, error)) {
        fail("listen on");
    }
    return state.acceptor.local_endpoint().port();
}

void HttpServer::run() {
    State& state = *state_;
    state.signals.async_wait([&state](beast::error_code error, int) {
        if (!error) {
            state.stop();
        }
    });
    state.accept();
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < state.settings.ioThreads; ++i) {
        threads.emplace_back([&state] { state.io.run(); });
    }
    state.io.run();
    for (std::thread& thread : threads) {
        thread.join();
    }
    {
        const std::lock_guard lock(state.stopMutex);
        state.loopEnded = true;
    }
    state.ended.notify_all();
    if (state.deadline.joinable()) {
        state.deadline.join();
    }
    state.work.join();
}

}  // namespace numoteka::server
