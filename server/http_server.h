// numoteka-server's HTTP: Boost.Beast on Boost.Asio, event-driven, so that slow or idle clients
// cost a little memory each and hold up no one. Every request is bounded in size and time
// (limits.h), answered in order on its connection, and logged.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "client_address.h"
#include "metrics.h"
#include "ranking_service.h"
#include "static_files.h"

namespace numoteka::server {

struct HttpSettings {
    std::string address = "127.0.0.1";
    int port = 8080;  // 0: any free one
    TrustedProxies trustedProxies{{}};
    std::optional<std::filesystem::path> web;  // the page's folder, if it is served
    unsigned ioThreads = 2;
    unsigned workThreads = 2;  // for submissions, whose replays and writes take a while
};

class HttpServer {
public:
    HttpServer(HttpSettings settings, RankingService& service, Metrics& metrics);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Takes the address and port; throws std::runtime_error, with one line saying why, when it
    // cannot (the port taken, say). Returns the port.
    int listen();

    // Serves until SIGTERM or SIGINT, then stops taking connections, lets the answers under way
    // be written (within limits::STOP_TIME) and returns.
    void run();

    struct State;  // http_server.cpp

private:
    std::unique_ptr<State> state_;
};

}  // namespace numoteka::server
