#include "daily/recording.h"

#include <string>

#include "console/console.h"

namespace numoteka {

namespace {

std::string g_recorded;
bool g_recordedAll = true;

void record(std::string_view cp932) {
    if (g_recordedAll && g_recorded.size() + cp932.size() <= RECORDING_LIMIT) {
        g_recorded += cp932;
    } else {
        g_recordedAll = false;
    }
}

}  // namespace

void startRecording() {
    g_recorded.clear();
    g_recordedAll = true;
    setInputObserver(record);
}

void stopRecording() {
    setInputObserver(nullptr);
}

std::optional<std::string_view> recordedInput() {
    if (!g_recordedAll) {
        return std::nullopt;
    }
    return g_recorded;
}

}  // namespace numoteka
