// One connection: reads requests, queues them (pipelined ones too, answered in the order they
// came), hands each to the handler and writes the answers. Every read and write is bounded in
// time (server_limits.h); after an answer that closes, what the client still sends is read and
// dropped for a while, so that it sees the answer rather than a reset.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "handler.h"

namespace numoteka::server {

// What a session needs of the server around it.
struct SessionContext {
    Handler& handler;
    // Runs `job` off the connections' threads; false when too many jobs wait already.
    std::function<bool(std::function<void()> job)> offload;
    const std::atomic<bool>& stopping;
};

class Session : public std::enable_shared_from_this<Session> {
public:
    // `admission` is held while the connection is open (its descriptor, its client's count).
    Session(SessionContext& context, boost::asio::ip::tcp::socket socket, IpAddress peer,
            std::shared_ptr<void> admission);

    void start();

    // The server stops: the connection reads no more, writes the answers under way and closes.
    void stop();

    boost::asio::any_io_executor executor();

private:
    struct Slot {
        Exchange exchange;
        std::optional<Reply> reply;  // once answered
        bool keepAlive = false;
    };

    void awaitRequest();
    void readHead();
    void onHead(boost::beast::error_code error, size_t headBytes);
    void readBody();
    void onRequest(HttpRequest request);
    void readFailed(boost::beast::error_code error);
    void queueRefusal(Reply reply);
    void writeNext();
    void written(boost::beast::error_code error, uint64_t bytes);
    void lingerAndClose();
    void drain();
    void close();

    SessionContext& context_;
    boost::beast::tcp_stream stream_;
    boost::asio::steady_timer requestTimer_;
    IpAddress peer_;
    std::shared_ptr<void> admission_;
    boost::beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::deque<std::unique_ptr<Slot>> queue_;  // in the order the requests came
    Slot* incoming_ = nullptr;                 // the last of them, while it is read
    bool reading_ = false;
    bool writing_ = false;
    bool readsEnded_ = false;  // no more requests are read: the connection closes once answered
    bool timedOut_ = false;
    bool stopping_ = false;
    size_t drained_ = 0;
};

}  // namespace numoteka::server
