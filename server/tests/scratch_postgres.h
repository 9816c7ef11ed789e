// A PostgreSQL of the test's own, as tests/scratch_postgres.py makes one: initdb in a scratch
// folder, run as an unprivileged user (nobody, when the test runs as root) on a free port of
// this machine, stopped and removed at the end. Missing where Debian's postgresql is not
// installed: the tests that need it are then skipped, but fail under CI=true.
#pragma once

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
    std::string bin_, folder_, data_, as_;
    int port_ = 0;
};

}  // namespace numoteka::server
