// The ranking store's files on Windows.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "records/ranking_store.h"
#include "records/store_platform.h"

namespace numoteka {

std::string storePath(const std::string& folder, const char* file) {
    return folder + '\\' + file;
}

std::FILE* openStoreFile(const std::string& path) {
    return std::fopen(path.c_str(), "rb");
}

std::FILE* createNewFile(const std::string& path) {
    // _O_EXCL creates the file new or fails, whatever is at the path.
    const int file =
        _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return file < 0 ? nullptr : _fdopen(file, "wb");
}

bool syncFile(std::FILE* file) {
    return _commit(_fileno(file)) == 0;
}

bool moveFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// MOVEFILE_WRITE_THROUGH made each rename durable already.
void syncFolder(const std::string& /*folder*/) {}

}  // namespace numoteka
