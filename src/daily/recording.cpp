#include "daily/recording.h"

#include <string>
#include <utility>
#include <vector>

#include "console/console.h"

namespace numoteka {

namespace {

std::string g_recorded;
bool g_recordedAll = true;
std::vector<std::pair<size_t, size_t>> g_namesRead;  // where in g_recorded

void record(std::string_view cp932) {
    if (g_recordedAll && g_recorded.size() + cp932.size() <= RECORDING_LIMIT) {
        g_recorded += cp932;
    } else {
        g_recordedAll = false;
    }
}

void recordName(size_t from, size_t to) {
    g_namesRead.emplace_back(from, to);
}

}  // namespace

void startRecording() {
    g_recorded.clear();
    g_recordedAll = true;
    g_namesRead.clear();
    setInputObserver(record);
    setLineObserver(recordName);
}

void stopRecording() {
    setInputObserver(nullptr);
    setLineObserver(nullptr);
}

std::optional<std::string_view> recordedInput() {
    if (!g_recordedAll) {
        return std::nullopt;
    }
    return g_recorded;
}

std::optional<std::string> recordedInputWithoutNames() {
    if (!g_recordedAll) {
        return std::nullopt;
    }
    std::string kept;
    size_t at = 0;
    for (const auto& [from, to] : g_namesRead) {
        kept.append(g_recorded, at, from - at);
        at = to;
    }
    return kept.append(g_recorded, at);
}

}  // namespace numoteka
