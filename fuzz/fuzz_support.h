// What the fuzz targets share: failing loudly, a scratch folder of their own, reading the input
// field by field, and the checks of the ranking files as a save writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "console/cp932.h"

namespace numoteka::fuzz {

// One run of a fuzz target on one input: each target defines it, and LLVMFuzzerTestOneInput,
// libFuzzer's entry (fuzz_support.cpp), calls it.
void runCase(const uint8_t* data, size_t size);

// Prints what went wrong to standard error and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const std::string& what);

// A folder of this process's own, made on first use below $NUMOTEKA_FUZZ_SCRATCH, else in
// /dev/shm (the save syncs its files, which a disk makes slow), and removed at exit.
const std::filesystem::path& scratchFolder();

std::string fileBytes(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view bytes);

// The lock file a ranking store may keep in its folder for good; no ranking file.
inline constexpr const char* STORE_LOCK = "ranking.lock";

// Everything a folder holds but the store's lock, as one text: each entry's name and kind and
// a file's bytes. Empty for an empty folder and for none.
std::string folderState(const std::filesystem::path& folder);

// The fields of an input in turn; past its end every field reads as zero or empty.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte();
    uint16_t twoBytes();  // little-endian
    std::string bytes(size_t count);
    std::string rest();

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Bytes a terminal acts on: below 0x20 except tab and line feed, and DEL.
bool isControl(unsigned char byte);

// One place of a table.
struct Entry {
    std::string name;
    int count;
};

// Both ranking files in `folder` as a save must leave them: 30 lines each ending in CR LF,
// counts in decimal below 10000, names of at most 12 bytes that never end in half a
// character. Returns the 30 entries in file order; fails on anything else.
std::vector<Entry> checkWrittenRanking(const std::filesystem::path& folder);

}  // namespace numoteka::fuzz
