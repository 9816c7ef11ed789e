#include "http_server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server_limits.h"
#include "session.h"

namespace numoteka::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

struct HttpServer::State {
    State(HttpSettings settings_, Handler& handler, Metrics& metrics_, Descriptors& descriptors_)
        : settings(std::move(settings_)),
          metrics(metrics_),
          descriptors(descriptors_),
          work(settings.workThreads),
          context{handler, [this](std::function<void()> job) { return offload(std::move(job)); },
                  stopping} {}

    HttpSettings settings;
    Metrics& metrics;
    Descriptors& descriptors;
    std::atomic<bool> stopping = false;

    // The open connections, and each client's count. Declared before the event loop:
    // connections its queue still holds when it is destroyed unregister here.
    std::mutex sessionsMutex;
    std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
    std::map<IpAddress, int> connectionsByPeer;

    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::thread_pool work;
    std::atomic<size_t> jobs = 0;  // on the work threads or waiting for one
    SessionContext context;
    asio::signal_set signals{io, SIGINT, SIGTERM};
    asio::steady_timer acceptRetry{io};
    // Kept open to be given up when the process is out of descriptors all the same: a
    // connection then taken is closed at once, rather than left to wait in the kernel's queue.
    int spare = -1;

    // Ends the event loop at STOP_TIME after a stop, should connections still be open then.
    std::function<void()> stopped = [] {};
    std::chrono::steady_clock::time_point stoppedAt;
    std::mutex stopMutex;
    std::condition_variable ended;
    bool loopEnded = false;
    std::thread deadline;

    // Held by a session while it is open: its client's count and its descriptor.
    struct Admission {
        Admission(State& state_, IpAddress peer_, std::shared_ptr<void> descriptor_)
            : state(state_), peer(peer_), descriptor(std::move(descriptor_)) {}
        ~Admission();
        Admission(const Admission&) = delete;
        Admission& operator=(const Admission&) = delete;

        State& state;
        IpAddress peer;
        std::shared_ptr<void> descriptor;
        Session* session = nullptr;
    };

    void accept();
    void refuseOne();
    void admit(tcp::socket socket);
    void stop();
    bool offload(std::function<void()> job);
};

void HttpServer::State::accept() {
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code error,
                                                        tcp::socket socket) {
        if (!acceptor.is_open() || stopping) {
            return;
        }
        if (error == asio::error::no_descriptors || error.value() == ENFILE) {
            refuseOne();
            return accept();
        }
        if (error) {
            acceptRetry.expires_after(limits::ACCEPT_RETRY);
            acceptRetry.async_wait([this](beast::error_code) { accept(); });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

void HttpServer::State::refuseOne() {
    if (spare >= 0) {
        close(spare);
        spare = -1;
    }
    const int taken = accept4(acceptor.native_handle(), nullptr, nullptr, SOCK_CLOEXEC);
    if (taken >= 0) {
        close(taken);
    }
    spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (taken < 0 && spare < 0) {
        // Nothing could be taken or kept: wait rather than spin.
        acceptRetry.expires_after(limits::ACCEPT_RETRY);
        acceptRetry.async_wait([](beast::error_code) {});
    }
}

void HttpServer::State::admit(tcp::socket socket) {
    beast::error_code error;
    const tcp::endpoint remote = socket.remote_endpoint(error);
    if (error) {
        return;
    }
    IpAddress peer;
    parseAddress(remote.address().to_string(), peer);
    std::shared_ptr<void> descriptor = descriptors.take();
    {
        const std::lock_guard lock(sessionsMutex);
        const bool exempt = settings.trustedProxies.trusts(peer);
        const auto counted = connectionsByPeer.find(peer);
        const int ofPeer = counted == connectionsByPeer.end() ? 0 : counted->second;
        if (!descriptor || static_cast<int>(sessions.size()) >= limits::CONNECTIONS ||
            (!exempt && ofPeer >= limits::CONNECTIONS_PER_CLIENT)) {
            socket.close(error);
            return;
        }
        ++connectionsByPeer[peer];
    }
    metrics.connectionOpened();
    auto admission = std::make_shared<Admission>(*this, peer, std::move(descriptor));
    auto session = std::make_shared<Session>(context, std::move(socket), peer, admission);
    admission->session = session.get();
    {
        const std::lock_guard lock(sessionsMutex);
        sessions.emplace(session.get(), session);
    }
    session->start();
}

HttpServer::State::Admission::~Admission() {
    state.metrics.connectionClosed();
    const std::lock_guard lock(state.sessionsMutex);
    state.sessions.erase(session);
    if (--state.connectionsByPeer[peer] == 0) {
        state.connectionsByPeer.erase(peer);
    }
}

bool HttpServer::State::offload(std::function<void()> job) {
    if (jobs.fetch_add(1) >= settings.workThreads + limits::DATABASE_QUEUE) {
        --jobs;
        return false;
    }
    // The event loop runs on until the answer is written, even while it has nothing else to do.
    asio::post(work, [this, job = std::move(job), busy = asio::make_work_guard(io)] {
        job();
        --jobs;
    });
    return true;
}

void HttpServer::State::stop() {
    if (stopping.exchange(true)) {
        return;
    }
    stoppedAt = std::chrono::steady_clock::now();
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
    // Whatever the clients and the database do, the server ends within STOP_TIME: what the
    // requests under way wait for fails at STOP_WAITING_TIME, and each such wait ends within
    // the query time.
    deadline = std::thread([this] {
        std::unique_lock lock(stopMutex);
        if (ended.wait_for(lock, limits::STOP_WAITING_TIME, [this] { return loopEnded; })) {
            return;
        }
        lock.unlock();
        stopped();
        lock.lock();
        if (!ended.wait_until(lock, stoppedAt + limits::STOP_TIME, [this] { return loopEnded; })) {
            io.stop();
        }
    });
}

HttpServer::HttpServer(HttpSettings settings, Handler& handler, Metrics& metrics,
                       Descriptors& descriptors)
    : state_(std::make_unique<State>(std::move(settings), handler, metrics, descriptors)) {
    state_->spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

HttpServer::~HttpServer() {
    if (state_->spare >= 0) {
        close(state_->spare);
    }
}

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

void HttpServer::run(std::function<void()> stopped) {
    State& state = *state_;
    state.stopped = std::move(stopped);
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
    state.stopped();
    state.work.join();
}

}  // namespace numoteka::server
