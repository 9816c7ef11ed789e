// numoteka-server's listener: Boost.Beast on Boost.Asio, event-driven, so that slow or idle
// clients cost a little memory each and hold up no one. It takes connections (within the
// descriptors' budget and each client's share), gives each to a session (session.h), runs the
// requests that wait for the database or a worker on a bounded pool of their own, and stops on
// SIGTERM.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "client_address.h"
#include "descriptors.h"
#include "handler.h"
#include "metrics.h"

namespace numoteka::server {

struct HttpSettings {
    std::string address = "127.0.0.1";
    int port = 8080;  // 0: any free one
    TrustedProxies trustedProxies{{}};
    unsigned ioThreads = 2;
    unsigned workThreads = 2;  // for submissions and rankings, which wait for the database
};

class HttpServer {
public:
    HttpServer(HttpSettings settings, Handler& handler, Metrics& metrics,
               Descriptors& descriptors);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Takes the address and port; throws std::runtime_error, with one line saying why, when it
    // cannot (the port taken, say). Returns the port.
    int listen();

    // Serves until SIGTERM or SIGINT, then stops taking connections, lets the answers under way
    // be written (within limits::STOP_TIME) and returns. `stopped` ends what requests wait for
    // (the workers, the database): called once STOP_WAITING_TIME has passed, or the answers
    // are written, whichever comes first; it may be called twice.
    void run(std::function<void()> stopped = [] {});

    struct State;  // http_server.cpp

private:
    std::unique_ptr<State> state_;
};

}  // namespace numoteka::server
