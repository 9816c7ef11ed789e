// numoteka-server: the world ranking of the daily game on HTTP, and the web page beside it.
//
// numoteka-server [--port N] [--address HOST] [--database FILE] [--web DIR]
#include <getopt.h>
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "daily/replay_code.h"
#include "ranking_server.h"

namespace {

using namespace numoteka::server;

constexpr const char* USAGE =
    "Usage: numoteka-server [--port N] [--address HOST] [--database FILE] [--web DIR]\n"
    "The world ranking of numoteka's daily game: wins are verified by replaying their codes.\n"
    "\n"
    "  --port N         listen on port N (default 8080; 0: any free port)\n"
    "  --address HOST   listen on HOST (default 127.0.0.1; 0.0.0.0: every interface)\n"
    "  --database FILE  the SQLite database of the wins (default numoteka.db)\n"
    "  --web DIR        the web page to serve beside the API (default " NUMOTEKA_WEB_FOLDER
    ")\n"
    "  -h, --help       show this help\n"
    "  -V, --version    show the version\n";

struct Settings {
    int port = 8080;
    std::string address = "127.0.0.1";
    std::string database = "numoteka.db";
    std::string web = NUMOTEKA_WEB_FOLDER;
};

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The client: the peer, or, for a reverse proxy on this machine, the address it says it
// received the request from (the last of X-Forwarded-For, the one the proxy added).
std::string clientAddress(const httplib::Request& request) {
    const std::string& peer = request.remote_addr;
    const bool local = peer == "127.0.0.1" || peer == "::1" || peer == "::ffff:127.0.0.1";
    const std::string forwarded = request.get_header_value("X-Forwarded-For");
    if (!local || forwarded.empty()) {
        return peer;
    }
    const std::string last = forwarded.substr(forwarded.rfind(',') + 1);
    const size_t start = last.find_first_not_of(' ');
    return start == std::string::npos ? peer
                                      : last.substr(start, last.find_last_not_of(' ') - start + 1);
}

void reply(httplib::Response& response, const Answer& answer) {
    response.status = answer.status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(answer.body, "application/json");
}

std::mutex g_logMutex;

// One line per request: time, client, request, status, size, and the reason of a refusal. Bytes
// a terminal would act on show as "?".
void logRequest(const httplib::Request& request, const httplib::Response& response) {
    const time_t now = std::time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string line = std::string(time) + " " + clientAddress(request) + " " + request.method +
                       " " + request.target + " " + std::to_string(response.status) + " " +
                       std::to_string(response.body.size());
    if (response.status >= 400 && request.path.starts_with("/api/")) {
        line += " " + response.body;
    }
    for (char& byte : line) {
        if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F) {
            byte = '?';
        }
    }
    const std::lock_guard lock(g_logMutex);
    std::fprintf(stderr, "%s\n", line.c_str());
}

// What the server's own errors (no such address, a body too large, a request it cannot read)
// say: JSON under /api/, a line of text elsewhere.
void explainError(const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) {
        return;
    }
    const std::string reason = response.status == 404   ? "no such address"
                               : response.status == 413 ? "the body is too large"
                               : response.status < 500  ? "bad request"
                                                        : "internal error";
    if (request.path.starts_with("/api/")) {
        reply(response, errorAnswer(response.status, reason));
    } else {
        response.set_content(reason + "\n", "text/plain");
    }
}

// A build of the page keeps its files in a folder named after its version: they never change.
bool versioned(const std::string& path) {
    return path.size() > 18 && path[17] == '/' &&
           path.find_first_not_of("0123456789abcdef", 1) == 17;
}

int refuseArguments(const std::string& what) {
    std::fprintf(stderr, "numoteka-server: %s\nTry 'numoteka-server --help'.\n", what.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    static const option LONG_OPTIONS[] = {{"port", required_argument, nullptr, 'p'},
                                          {"address", required_argument, nullptr, 'a'},
                                          {"database", required_argument, nullptr, 'd'},
                                          {"web", required_argument, nullptr, 'w'},
                                          {"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {nullptr, 0, nullptr, 0}};
    Settings settings;
    opterr = 0;
    for (int option = 0; (option = getopt_long(argc, argv, ":hV", LONG_OPTIONS, nullptr)) != -1;) {
        switch (option) {
            case 'p': {
                char* end = nullptr;
                const long port = std::strtol(optarg, &end, 10);
                if (*optarg == '\0' || *end != '\0' || port < 0 || port > 65535) {
                    return refuseArguments(std::string("invalid port '") + optarg + "'");
                }
                settings.port = static_cast<int>(port);
                break;
            }
            case 'a':
                settings.address = optarg;
                break;
            case 'd':
                settings.database = optarg;
                break;
            case 'w':
                settings.web = optarg;
                break;
            case 'h':
                std::fputs(USAGE, stdout);
                return 0;
            case 'V':
                std::printf("numoteka-server %s\n", NUMOTEKA_VERSION);
                return 0;
            case ':':
                return refuseArguments(std::string("option '") + argv[optind - 1] +
                                       "' needs an argument");
            default:
                return refuseArguments(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) {
        return refuseArguments(std::string("unexpected argument '") + argv[optind] + "'");
    }

    // SIGTERM and SIGINT are taken by one thread of their own, which stops the server; every
    // other thread, the server's included, inherits them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Database database;
    try {
        openDatabase(database, settings.database);
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "numoteka-server: %s: %s\n", settings.database.c_str(), error.what());
        return 1;
    }

    httplib::Server server;
    server.set_payload_max_length(numoteka::REPLAY_CODE_LIMIT);
    server.set_logger(logRequest);
    server.set_error_handler(explainError);
    // A fault of the database's: 500, its reason in the answer and so in the log.
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& fault) {
                reply(response, errorAnswer(500, std::string("internal error: ") + fault.what()));
            }
        });
    // The day is the code's; the dated address, which pages of earlier builds use, checks it.
    const auto submission = [&](const httplib::Request& request, httplib::Response& response) {
        if (!takeSubmissionTurn(clientAddress(request), nowMs())) {
            reply(response, errorAnswer(429,
                                        "too many submissions from this address: wait a "
                                        "minute"));
            response.set_header("Retry-After", "60");
            return;
        }
        const std::string date = request.matches.size() > 1 ? request.matches[1].str() : "";
        reply(
            response,
            submitWin(database, date.empty() ? std::nullopt : std::optional<std::string_view>(date),
                      request.body, nowMs()));
    };
    server.Post("/api/daily/wins", submission);
    server.Post(R"(/api/daily/([^/]+)/wins)", submission);
    server.Get(R"(/api/daily/([^/]+)/ranking)",
               [&](const httplib::Request& request, httplib::Response& response) {
                   reply(response, dayRanking(database, request.matches[1].str(),
                                              request.get_param_value("difficulty"), nowMs()));
               });
    const bool page = std::filesystem::is_directory(settings.web);
    if (page) {
        server.set_mount_point("/", settings.web);
        server.set_file_extension_and_mimetype_mapping("webmanifest", "application/manifest+json");
        server.set_file_request_handler(
            [](const httplib::Request& request, httplib::Response& response) {
                response.set_header("Cache-Control", versioned(request.path)
                                                         ? "public, max-age=31536000, immutable"
                                                         : "no-cache");
            });
    }

    const int port =
        settings.port == 0
            ? server.bind_to_any_port(settings.address)
            : (server.bind_to_port(settings.address, settings.port) ? settings.port : -1);
    if (port < 0) {
        std::fprintf(stderr, "numoteka-server: cannot listen on %s port %d\n",
                     settings.address.c_str(), settings.port);
        closeDatabase(database);
        return 1;
    }
    std::fprintf(stderr, "numoteka-server: listening on http://%s:%d/ (database %s; %s)\n",
                 settings.address.c_str(), port, settings.database.c_str(),
                 page ? ("page " + settings.web).c_str() : "no page: API only");

    // Stopping closes the listening socket; listen_after_bind() then lets the requests under
    // way finish before it returns.
    std::atomic<bool> listening = true;
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        while (listening) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const bool listened = server.listen_after_bind();
    listening = false;
    pthread_kill(stopper.native_handle(), SIGTERM);  // in case no signal came
    stopper.join();
    closeDatabase(database);
    std::fprintf(stderr, "numoteka-server: stopped\n");
    return listened ? 0 : 1;
}
