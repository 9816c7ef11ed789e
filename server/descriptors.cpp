#include "descriptors.h"

#include <sys/resource.h>

#include <algorithm>
#include <filesystem>

#include "server_limits.h"

namespace numoteka::server {

std::shared_ptr<void> Descriptors::take() {
    int free = free_.load();
    do {
        if (free <= 0) {
            return nullptr;
        }
    } while (!free_.compare_exchange_weak(free, free - 1));
    return std::shared_ptr<void>(this, [](Descriptors* descriptors) { ++descriptors->free_; });
}

int descriptorRoom(int moreLater) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) {
        return 2 * limits::CONNECTIONS;
    }
    std::error_code error;
    int open = 0;
    for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end;
         !error && entry != end; entry.increment(error)) {
        ++open;
    }
    const auto room = static_cast<long long>(std::min<rlim_t>(files.rlim_cur, 1 << 30)) - open -
                      moreLater - limits::RESERVED_DESCRIPTORS;
    return static_cast<int>(std::clamp<long long>(room, 0, 2 * limits::CONNECTIONS));
}

}  // namespace numoteka::server
