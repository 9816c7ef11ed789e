#include "core/daily.h"

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "core/replay.h"

namespace numoteka {

namespace {

// Days since 1970-01-01 of a Gregorian date, and back (Howard Hinnant's civil-day algorithms).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

struct CivilDate {
    int64_t year;
    unsigned month;
    unsigned day;
};

CivilDate civilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month,
            dayOfYear - (153 * shiftedMonth + 2) / 5 + 1};
}

const int64_t DAY_ZERO = daysFromCivil(2000, 1, 1);
constexpr int64_t JAPAN_OFFSET_SECONDS = 9 * 60 * 60;
constexpr int64_t SECONDS_PER_DAY = 24 * 60 * 60;

// The words of the line to share, by difficulty ('1' to '3') and by outcome.
constexpr const char* DIFFICULTY_WORDS[3] = {"ふつう", "かんたん", "むずかしい"};
constexpr const char* OUTCOME_WORDS[3] = {"勝利", "敗北", "ギブアップ"};

// The line to share, in UTF-8: "ぬもてか 2026-12-08 ふつう 勝利 24ターン".
std::string dailyLine(Day day, const MatchEnd& end) {
    const char* difficulty = end.difficulty >= '1' && end.difficulty <= '3'
                                 ? DIFFICULTY_WORDS[end.difficulty - '1']
                                 : "?";
    return "ぬもてか " + dayText(day) + " " + difficulty + " " +
           OUTCOME_WORDS[static_cast<int>(end.outcome)] + " " + std::to_string(end.turns) +
           "ターン";
}

}  // namespace

std::optional<Day> parseDay(std::string_view date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') {
        return std::nullopt;
    }
    int fields[3] = {};
    const size_t starts[3] = {0, 5, 8};
    const size_t lengths[3] = {4, 2, 2};
    for (int field = 0; field < 3; ++field) {
        for (size_t at = starts[field]; at < starts[field] + lengths[field]; ++at) {
            if (date[at] < '0' || date[at] > '9') {
                return std::nullopt;
            }
            fields[field] = fields[field] * 10 + (date[at] - '0');
        }
    }
    const auto month = static_cast<unsigned>(fields[1]);
    const auto day = static_cast<unsigned>(fields[2]);
    const int64_t days = daysFromCivil(fields[0], month, day);
    const CivilDate back = civilFromDays(days);
    // A month or day out of range comes back as another date.
    if (month < 1 || month > 12 || day < 1 || back.month != month || back.day != day ||
        days < DAY_ZERO) {
        return std::nullopt;
    }
    return static_cast<Day>(days - DAY_ZERO);
}

std::string dayText(Day day) {
    const CivilDate date = civilFromDays(DAY_ZERO + day);
    char text[16];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(date.year),
                  date.month, date.day);
    return text;
}

Day dayInJapan(int64_t unixSeconds) {
    const int64_t local = unixSeconds + JAPAN_OFFSET_SECONDS;
    const int64_t days = local / SECONDS_PER_DAY - (local % SECONDS_PER_DAY < 0 ? 1 : 0);
    return static_cast<Day>(days - DAY_ZERO);
}

uint32_t dailySeed(Day day) {
    uint32_t hash = 2166136261u;
    for (const char character : dayText(day)) {
        hash = (hash ^ static_cast<uint8_t>(character)) * 16777619u;
    }
    return hash;
}

void sayDailyResult(DailyGame& daily, const MatchEnd& end) {
    daily.end = end;
    std::memcpy(daily.name, g_players[PLAYER_HUMAN].name, sizeof daily.name);
    const std::string line = toCp932(dailyLine(daily.day, end));
    say("\n%s\n", line.c_str());
    std::string code;
    if (const std::optional<std::string_view> typed = recordedInput()) {
        code = encodeReplay({dailySeed(daily.day), daily.day, std::string(*typed)});
        say("リプレイコード %s\n", code.c_str());
    }
    shareResult(line, code);
}

}  // namespace numoteka
