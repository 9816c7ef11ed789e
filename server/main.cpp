// numoteka-server: the world ranking of the daily game on HTTP, and the web page beside it.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "clock.h"
#include "daily/replay_check.h"
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
    // Submissions wait for their replays and for the disk: while some do, others go on.
    http.workThreads = 2 * http.ioThreads;
    std::unique_ptr<WinStore> store;
    try {
        store = openStore(settings.database, gameOfStoredCode, http.ioThreads + http.workThreads);
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
    std::error_code error;
    if (!settings.web.empty()) {
        if (!std::filesystem::is_directory(settings.web, error)) {
            return fail(settings.web + ": no such folder");
        }
        http.web = settings.web;
    } else {
        http.web = defaultWebFolder();
    }
    try {
        HttpServer server(http, service, metrics);
        const int port = server.listen();
        std::fprintf(stderr, "numoteka-server: listening on http://%s:%d/ (database %s; %s)\n",
                     settings.address.find(':') == std::string::npos
                         ? settings.address.c_str()
                         : ("[" + settings.address + "]").c_str(),
                     port, settings.database.c_str(),
                     http.web ? ("page " + http.web->string()).c_str() : "no page: API only");
        server.run();
    } catch (const std::exception& failure) {
        return fail(failure.what());
    }
    workers.reset();
    store.reset();  // the database's write-ahead log goes back into it
    std::fprintf(stderr, "numoteka-server: stopped\n");
    return 0;
}
