#include "scratch_postgres.h"

#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace numoteka::server {

namespace {

constexpr int NOBODY = 65534;

int freePort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    close(probe);
    return ntohs(address.sin_port);
}

}  // namespace

std::unique_ptr<ScratchPostgres> ScratchPostgres::start() {
    namespace fs = std::filesystem;
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& version : fs::directory_iterator("/usr/lib/postgresql", error)) {
        if (fs::exists(version.path() / "bin" / "initdb")) {
            found.push_back(version.path() / "bin");
        }
    }
    if (found.empty()) {
        return nullptr;
    }
    std::unique_ptr<ScratchPostgres> made(new ScratchPostgres);
    std::sort(found.begin(), found.end());
    made->bin_ = found.back().string();
    std::string folder = (fs::temp_directory_path() / "numoteka_pg_XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        throw std::runtime_error("no scratch folder");
    }
    made->folder_ = folder;
    made->data_ = folder + "/data";
    fs::create_directory(made->data_);
    if (getuid() == 0) {
        fs::permissions(folder, fs::perms(0755));
        if (chown(made->data_.c_str(), NOBODY, NOBODY) != 0) {
            throw std::runtime_error("cannot give the scratch folder to nobody");
        }
        made->as_ = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const std::string initdb = made->as_ + made->bin_ + "/initdb -D " + made->data_ +
                               " -U numoteka --auth=trust -E UTF8 --no-sync >/dev/null 2>&1";
    if (std::system(initdb.c_str()) != 0) {
        throw std::runtime_error("initdb failed");
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        made->port_ = freePort();
        const std::string start = "cd / && " + made->as_ + made->bin_ + "/pg_ctl -D " +
                                  made->data_ + " -w -t 120 -l " + made->data_ + "/log -o '-p " +
                                  std::to_string(made->port_) +
                                  " -c listen_addresses=127.0.0.1 -c unix_socket_directories=\"\"'"
                                  " start >/dev/null 2>&1";
        if (std::system(start.c_str()) == 0) {
            return made;
        }
    }
    throw std::runtime_error("PostgreSQL does not start");
}

ScratchPostgres::~ScratchPostgres() {
    const std::string stop = "cd / && " + as_ + bin_ + "/pg_ctl -D " + data_ +
                             " -w -m immediate stop >/dev/null 2>&1";
    [[maybe_unused]] const int stopped = std::system(stop.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string ScratchPostgres::database(const std::string& name) {
    const std::string base = "postgresql://numoteka@127.0.0.1:" + std::to_string(port_) + "/";
    run(base + "postgres", "CREATE DATABASE " + name);
    return base + name;
}

void ScratchPostgres::run(const std::string& uri, const std::string& sql) {
    PGconn* connection = PQconnectdb(uri.c_str());
    PGresult* result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    const std::string why = PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        throw std::runtime_error(sql + ": " + why);
    }
}

}  // namespace numoteka::server
