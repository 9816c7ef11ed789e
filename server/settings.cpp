#include "settings.h"

#include <getopt.h>

#include <cstdlib>
#include <optional>

#include "client_address.h"
#include "server_limits.h"

namespace numoteka::server {

const char* const USAGE =
    "Usage: numoteka-server [OPTION]...\n"
    "The world ranking of numoteka's daily game: wins are verified by replaying their codes.\n"
    "\n"
    "  --port N             listen on port N (default 8080; 0: any free port)\n"
    "  --address HOST       listen on HOST (default 127.0.0.1; 0.0.0.0 or :: for every\n"
    "                       interface)\n"
    "  --database DB        the database of the wins: a SQLite file (default numoteka.db),\n"
    "                       or a postgresql:// URI for several servers on one database\n"
    "  --web DIR            the web page to serve beside the API (default: the installed\n"
    "                       page, else the source tree's build/web)\n"
    "  --trusted-proxy ADDR a reverse proxy whose X-Forwarded-For is believed; may be given\n"
    "                       more than once (default 127.0.0.1 and ::1)\n"
    "  --workers N          replay submissions in N processes (default: one per core)\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "\n"
    "NUMOTEKA_PORT, NUMOTEKA_ADDRESS, NUMOTEKA_DATABASE and NUMOTEKA_WEB stand for the options\n"
    "they are named after; an option given wins.\n";

namespace {

enum Option { PORT = 0x100, ADDRESS, DATABASE, WEB, TRUSTED_PROXY, WORKERS };

constexpr option LONG_OPTIONS[] = {{"port", required_argument, nullptr, PORT},
                                   {"address", required_argument, nullptr, ADDRESS},
                                   {"database", required_argument, nullptr, DATABASE},
                                   {"web", required_argument, nullptr, WEB},
                                   {"trusted-proxy", required_argument, nullptr, TRUSTED_PROXY},
                                   {"workers", required_argument, nullptr, WORKERS},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, 'V'},
                                   {nullptr, 0, nullptr, 0}};

std::optional<int> portNumber(const std::string& text) {
    char* end = nullptr;
    const long port = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || port < 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<int>(port);
}

Invocation refused(std::string complaint) {
    Invocation invocation;
    invocation.action = Invocation::Action::REFUSE;
    invocation.complaint = std::move(complaint);
    return invocation;
}

}  // namespace

Invocation readCommandLine(int argc, char** argv) {
    Invocation invocation;
    Settings& settings = invocation.settings;
    std::optional<std::string> port, address, database, web;
    std::vector<std::string> proxies;
    opterr = 0;
    optind = 0;
    for (int option = 0; (option = getopt_long(argc, argv, ":hV", LONG_OPTIONS, nullptr)) != -1;) {
        switch (option) {
            case PORT:
                port = optarg;
                break;
            case ADDRESS:
                address = optarg;
                break;
            case DATABASE:
                database = optarg;
                break;
            case WEB:
                web = optarg;
                break;
            case TRUSTED_PROXY:
                proxies.emplace_back(optarg);
                break;
            case WORKERS: {
                char* end = nullptr;
                const long workers = std::strtol(optarg, &end, 10);
                if (*optarg == '\0' || *end != '\0' || workers < 1 || workers > limits::MOST_WORKERS) {
                    return refused(std::string("invalid number of workers '") + optarg +
                                   "' (1 to " + std::to_string(limits::MOST_WORKERS) + ")");
                }
                settings.workers = static_cast<unsigned>(workers);
                break;
            }
            case 'h':
                invocation.action = Invocation::Action::HELP;
                return invocation;
            case 'V':
                invocation.action = Invocation::Action::VERSION;
                return invocation;
            case ':':
                return refused(std::string("option '") + argv[optind - 1] + "' needs an argument");
            default:
                return refused(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) {
        return refused(std::string("unexpected argument '") + argv[optind] + "'");
    }
    // The environment for what the command line leaves out; an empty variable counts as unset.
    const auto fromEnvironment = [](std::optional<std::string>& value, const char* variable) {
        const char* set = std::getenv(variable);
        if (!value && set != nullptr && *set != '\0') {
            value = set;
        }
    };
    fromEnvironment(port, "NUMOTEKA_PORT");
    fromEnvironment(address, "NUMOTEKA_ADDRESS");
    fromEnvironment(database, "NUMOTEKA_DATABASE");
    fromEnvironment(web, "NUMOTEKA_WEB");
    if (port) {
        const std::optional<int> number = portNumber(*port);
        if (!number) {
            return refused("invalid port '" + *port + "'");
        }
        settings.port = *number;
    }
    if (address) {
        IpAddress parsed;
        if (!parseAddress(*address, parsed)) {
            return refused("invalid address '" + *address + "' (an IPv4 or IPv6 address)");
        }
        settings.address = *address;
    }
    if (database) {
        if (database->empty()) {
            return refused("the database needs a name");
        }
        settings.database = *database;
    }
    if (web) {
        settings.web = *web;
    }
    for (const std::string& proxy : proxies) {
        IpAddress parsed;
        if (!parseAddress(proxy, parsed)) {
            return refused("invalid trusted proxy '" + proxy + "' (an IPv4 or IPv6 address)");
        }
    }
    if (!proxies.empty()) {
        settings.trustedProxies = proxies;
    }
    return invocation;
}

}  // namespace numoteka::server
