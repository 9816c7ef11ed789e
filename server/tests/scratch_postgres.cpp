#include "scratch_postgres.h"

#include <libpq-fe.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

extern char** environ;

namespace numoteka::server {

namespace {

constexpr int SKIPPED = 77;  // the helper's status where PostgreSQL is not installed

}  // namespace

std::unique_ptr<ScratchPostgres> ScratchPostgres::start() {
    int output[2];
    if (pipe(output) != 0) {
        throw std::runtime_error("no pipe for the PostgreSQL helper");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string python = "python3";
    std::string helper = NUMOTEKA_SOURCE_DIR "/tests/scratch_postgres.py";
    char* arguments[] = {python.data(), helper.data(), nullptr};
    std::unique_ptr<ScratchPostgres> made(new ScratchPostgres);
    const int failed = posix_spawnp(&made->helper_, python.c_str(), &actions, nullptr, arguments,
                                    environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (failed != 0) {
        close(output[0]);
        throw std::runtime_error("cannot run python3");
    }
    char byte = 0;
    while (read(output[0], &byte, 1) == 1 && byte != '\n') {
        made->base_ += byte;
    }
    close(output[0]);
    if (!made->base_.starts_with("postgresql://")) {
        int status = 0;
        waitpid(made->helper_, &status, 0);
        made->helper_ = -1;
        if (WIFEXITED(status) && WEXITSTATUS(status) == SKIPPED) {
            return nullptr;
        }
        throw std::runtime_error("PostgreSQL does not start");
    }
    return made;
}

ScratchPostgres::~ScratchPostgres() {
    if (helper_ > 0) {
        kill(helper_, SIGTERM);
        waitpid(helper_, nullptr, 0);
    }
}

std::string ScratchPostgres::database(const std::string& name) {
    run(base_ + "postgres", "CREATE DATABASE " + name);
    return base_ + name;
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
