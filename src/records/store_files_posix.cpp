// The ranking store's files on a POSIX system, and in a web page, whose file system Emscripten
// makes a POSIX one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "records/ranking_store.h"
#include "records/store_platform.h"

namespace numoteka {

std::string storePath(const std::string& folder, const char* file) {
    return folder + '/' + file;
}

std::FILE* openStoreFile(const std::string& path) {
    // Without waiting: a pipe or a device planted at the path must not hold the game up.
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        return nullptr;
    }
    struct stat status {};
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(file);
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* stream = fdopen(file, "rb");
    if (stream == nullptr) {
        close(file);
    }
    return stream;
}

std::FILE* createNewFile(const std::string& path) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return file < 0 ? nullptr : fdopen(file, "wb");
}

bool syncFile(std::FILE* file) {
    return fsync(fileno(file)) == 0;
}

bool moveFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void syncFolder(const std::string& folder) {
    const int handle = open(folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle >= 0) {
        fsync(handle);
        close(handle);
    }
}

}  // namespace numoteka
