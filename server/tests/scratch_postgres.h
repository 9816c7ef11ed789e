// A PostgreSQL of the test's own: tests/scratch_postgres.py run as a program (initdb in a
// scratch folder, run by an unprivileged user on a free port, removed at the end), stopped
// when this goes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace numoteka::server {

class ScratchPostgres {
public:
    // Nothing when PostgreSQL is not installed; throws when it does not start.
    static std::unique_ptr<ScratchPostgres> start();
    ~ScratchPostgres();
    ScratchPostgres(const ScratchPostgres&) = delete;
    ScratchPostgres& operator=(const ScratchPostgres&) = delete;

    // The URI of a new, empty database.
    std::string database(const std::string& name);
    // Runs `sql` on the database of `uri`; throws when it fails.
    static void run(const std::string& uri, const std::string& sql);

private:
    ScratchPostgres() = default;
    pid_t helper_ = -1;
    std::string base_;  // "postgresql://user@host:port/"
};

}  // namespace numoteka::server
