// numoteka-server: the world ranking of the daily game on HTTP, and the web page beside it.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <stop_token>
#include <thread>

#include "clock.h"
#include "daily/replay_check.h"
#include "descriptors.h"
#include "handler.h"
#include "http_server.h"
#include "ranking_service.h"
#include "replay_workers.h"
#include "server_limits.h"
#include "settings.h"
#include "win_store.h"

namespace {

using namespace numoteka;
using namespace numoteka::server;

// What the program is started with to be a replay worker (see replay_workers.h).
constexpr std::string_view REPLAY_WORKER = "--replay-worker";

// The game of a code stored by an earlier version, which kept no games: replayed here, before
// the server has threads or workers.
std::string gameOfStoredCode(const std::string& code) {
    const std::optional<Replay> replay = decodeReplay(code);
    const ReplayCheck check = replay ? checkReplay(*replay) : ReplayCheck{};
    if (check.verdict != ReplayVerdict::WON) {
        throw std::runtime_error("a stored code is no won game: " + code);
    }
    return gameKey(check.win);
}

// The page installed beside the program (PREFIX/share/numoteka/web for PREFIX/sbin), else the
// source tree's build/web; none when neither is there.
std::optional<std::filesystem::path> defaultWebFolder() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    for (const fs::path& folder :
         {program.parent_path().parent_path() / "share" / "numoteka" / "web",
          fs::path(NUMOTEKA_WEB_FOLDER)}) {
        if (!error && fs::is_directory(folder, error)) {
            return folder;
        }
        error.clear();
    }
    return std::nullopt;
}

int fail(const std::string& what) {
    std::fprintf(stderr, "numoteka-server: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // The server starts its replay workers as this program again, talking on descriptor 3.
    if (argc == 2 && std::string_view(argv[1]) == REPLAY_WORKER) {
        return runReplayWorker(3);
    }
    const Invocation invocation = readCommandLine(argc, argv);
    switch (invocation.action) {
        case Invocation::Action::HELP:
            std::fputs(USAGE, stdout);
            return 0;
        case Invocation::Action::VERSION:
            std::printf("numoteka-server %s\n", NUMOTEKA_VERSION);
            return 0;
        case Invocation::Action::REFUSE:
            std::fprintf(stderr, "numoteka-server: %s\nTry 'numoteka-server --help'.\n",
                         invocation.complaint.c_str());
            return 2;
        case Invocation::Action::SERVE:
            break;
    }
    const Settings& settings = invocation.settings;

    HttpSettings http;
    http.ioThreads = std::max(2u, std::thread::hardware_concurrency());
    // Submissions wait for their replays and for the disk, rankings for the database: while
    // some do, others go on.
    http.workThreads = 2 * http.ioThreads;
    // The work threads' connections to the database, and the health probe's.
    const unsigned databaseConnections = http.workThreads + 1;
    std::unique_ptr<WinStore> store;
    try {
        store = openStore(settings.database, gameOfStoredCode, databaseConnections);
    } catch (const std::exception& error) {
        return fail(settings.database + ": " + error.what());
    }
    std::optional<ReplayWorkers> workers;
    try {
        workers.emplace("/proc/self/exe", std::string(REPLAY_WORKER),
                        settings.workers > 0 ? settings.workers
                                             : std::max(1u, std::thread::hardware_concurrency()),
                        limits::REPLAY_TIME);
    } catch (const std::exception& error) {
        return fail(error.what());
    }
    Metrics metrics;
    RankingService service(
        *store, [&workers](const Replay& replay) { return workers->check(replay); }, unixMs,
        metrics);

    http.address = settings.address;
    http.port = settings.port;
    std::vector<IpAddress> proxies;
    for (const std::string& proxy : settings.trustedProxies) {
        parseAddress(proxy, proxies.emplace_back());
    }
    http.trustedProxies = TrustedProxies(proxies);
    std::optional<std::filesystem::path> web;
    std::error_code error;
    if (!settings.web.empty()) {
        if (!std::filesystem::is_directory(settings.web, error)) {
            return fail(settings.web + ": no such folder");
        }
        web = settings.web;
    } else {
        web = defaultWebFolder();
    }
    std::optional<StaticFiles> files;
    if (web) {
        files.emplace(*web);
    }
    // What is open now stays open; the database's connections not made yet, a worker being
    // replaced and the listener's own are kept free.
    Descriptors descriptors(descriptorRoom(static_cast<int>(databaseConnections) + 8));
    Handler handler(http.trustedProxies, std::move(files), service, metrics, descriptors);
    service.probeHealth();
    std::jthread prober([&service](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any wake;
        for (std::unique_lock lock(mutex); !stop.stop_requested();) {
            if (!wake.wait_for(lock, stop, limits::HEALTH_PROBE_EVERY, [] { return false; })) {
                service.probeHealth();
            }
        }
    });
    try {
        HttpServer server(http, handler, metrics, descriptors);
        const int port = server.listen();
        std::fprintf(stderr, "numoteka-server: listening on http://%s:%d/ (database %s; %s)\n",
                     settings.address.find(':') == std::string::npos
                         ? settings.address.c_str()
                         : ("[" + settings.address + "]").c_str(),
                     port, settings.database.c_str(),
                     web ? ("page " + web->string()).c_str() : "no page: API only");
        // What the requests under way wait for ends with the stop: none holds it up.
        server.run([&] {
            workers->stop();
            store->stop();
            prober.request_stop();
        });
    } catch (const std::exception& failure) {
        return fail(failure.what());
    }
    prober.request_stop();
    prober.join();
    workers.reset();
    store.reset();  // the database's write-ahead log goes back into it
    std::fprintf(stderr, "numoteka-server: stopped\n");
    return 0;
}
