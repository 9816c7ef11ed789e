// The ranking store's calls that differ from platform to platform. store_files_posix.cpp or
// store_files_windows.cpp answers the file calls (a web page's files are POSIX ones, kept in
// memory), and store_lock_posix.cpp, store_lock_windows.cpp or store_lock_web.cpp the
// StoreLock; the build compiles those of the platform it builds for.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace numoteka {

// How often a lock that is taken is asked for again, within the wait.
inline constexpr auto LOCK_RETRY = std::chrono::milliseconds(5);

// Creates a file that must not exist yet, not even as a link, for writing.
std::FILE* createNewFile(const std::string& path);

// Writes what the system holds of a flushed file through to the disk.
bool syncFile(std::FILE* file);

// Puts `from` in the place of `to`, replacing it, in one step. A link at `to` is replaced, not
// followed.
bool moveFile(const std::string& from, const std::string& to);

// Makes the renames in the folder durable; a failure here loses nothing already written.
void syncFolder(const std::string& folder);

}  // namespace numoteka
