// The process's file descriptors, budgeted: each connection holds one (its socket) and each file
// being sent another, taken from what the process may open less what it has open for the rest
// (the database, the workers, the log) and a reserve. A shortage then refuses a connection or a
// file, never the database's next connection or a worker's replacement, and accepting never
// fails for want of a descriptor.
#pragma once

#include <atomic>
#include <memory>

namespace numoteka::server {

class Descriptors {
public:
    // `room` descriptors to hand out.
    explicit Descriptors(int room) : free_(room) {}

    // A descriptor's share, given back when the last copy goes; empty when none is free.
    std::shared_ptr<void> take();

    int free() const {
        return free_;
    }

private:
    std::atomic<int> free_;
};

// What the process may open (its soft limit raised to the hard one), less those open now, less
// `moreLater` it will open for itself (connections to the database not made yet, say) and
// limits::RESERVED_DESCRIPTORS.
int descriptorRoom(int moreLater);

}  // namespace numoteka::server
