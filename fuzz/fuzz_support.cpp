#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace numoteka::fuzz {

namespace fs = std::filesystem;

namespace {

fs::path g_scratch;

void removeScratch() {
    std::error_code ignored;
    fs::remove_all(g_scratch, ignored);
}

}  // namespace

void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    removeScratch();  // abort() skips the handlers of atexit
    std::abort();
}

const fs::path& scratchFolder() {
    if (g_scratch.empty()) {
        const char* base = std::getenv("NUMOTEKA_FUZZ_SCRATCH");
        const fs::path parent = base != nullptr && *base != '\0' ? fs::path(base)
                                : fs::is_directory("/dev/shm")   ? fs::path("/dev/shm")
                                                                 : fs::temp_directory_path();
        fs::create_directories(parent);
        std::string pattern = (parent / "numoteka_fuzz_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            fail("no scratch folder in " + parent.string());
        }
        g_scratch = pattern;
        std::atexit(removeScratch);
    }
    return g_scratch;
}

std::string fileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        fail("cannot write " + path.string());
    }
}

std::string folderState(const fs::path& folder) {
    if (!fs::is_directory(folder)) {
        return "";
    }
    std::vector<std::string> entries;
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (name == STORE_LOCK) {
            continue;
        }
        entries.push_back(item.is_directory() ? name + " (folder)"
                                              : name + ": " + fileBytes(item.path()));
    }
    std::sort(entries.begin(), entries.end());
    std::string state;
    for (const std::string& entry : entries) {
        state += entry + "\n";
    }
    return state;
}

uint8_t InputReader::byte() {
    return at_ < size_ ? data_[at_++] : 0;
}

uint16_t InputReader::twoBytes() {
    const uint8_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
}

std::string InputReader::bytes(size_t count) {
    count = std::min(count, size_ - at_);
    std::string taken(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return taken;
}

std::string InputReader::rest() {
    return bytes(size_ - at_);
}

bool isControl(unsigned char byte) {
    return (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F;
}

namespace {

std::vector<std::string> crLfLines(const fs::path& path) {
    const std::string text = fileBytes(path);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            fail(path.string() + ": bytes after the last CR LF");
        }
        lines.push_back(text.substr(at, end - at));
        if (lines.back().find('\n') != std::string::npos) {
            fail(path.string() + ": a line feed inside line " + std::to_string(lines.size()));
        }
        at = end + 2;
    }
    if (lines.size() != 30) {
        fail(path.string() + ": " + std::to_string(lines.size()) + " lines instead of 30");
    }
    return lines;
}

}  // namespace

std::vector<Entry> checkWrittenRanking(const fs::path& folder) {
    const std::vector<std::string> counts = crLfLines(folder / "dice_data.dat");
    const std::vector<std::string> names = crLfLines(folder / "name_data.dat");
    std::vector<Entry> entries;
    for (size_t line = 0; line < counts.size(); ++line) {
        const std::string& count = counts[line];
        const std::string& name = names[line];
        const std::string where = "ranking line " + std::to_string(line + 1) + ": ";
        if (count.empty() || count.size() > 4 ||
            count.find_first_not_of("0123456789") != std::string::npos ||
            (count.size() > 1 && count[0] == '0')) {
            fail(where + "count \"" + count + "\"");
        }
        if (name.size() > 12 || name.find('\0') != std::string::npos || endsInHalfCharacter(name)) {
            fail(where + "name \"" + name + "\"");
        }
        entries.push_back({name, std::stoi(count)});
    }
    return entries;
}

}  // namespace numoteka::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    numoteka::fuzz::runCase(data, size);
    return 0;
}
