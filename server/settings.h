// numoteka-server's settings: its command line, and for what the command line leaves out, the
// environment (NUMOTEKA_PORT, NUMOTEKA_ADDRESS, NUMOTEKA_DATABASE, NUMOTEKA_WEB).
#pragma once

#include <string>
#include <vector>

namespace numoteka::server {

struct Settings {
    int port = 8080;
    std::string address = "127.0.0.1";
    std::string database = "numoteka.db";
    std::string web;  // empty: the default folder, if it is there
    std::vector<std::string> trustedProxies = {"127.0.0.1", "::1"};
    unsigned workers = 0;  // processes that replay submissions; 0: one per core
};

// What the command line asks for.
struct Invocation {
    enum class Action { SERVE, HELP, VERSION, REFUSE } action = Action::SERVE;
    Settings settings;
    std::string complaint;  // for REFUSE: what was wrong, one line
};

Invocation readCommandLine(int argc, char** argv);

extern const char* const USAGE;

}  // namespace numoteka::server
