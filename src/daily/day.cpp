#include "daily/day.h"

#include <chrono>
#include <cstdio>

namespace numoteka {

namespace {

using namespace std::chrono;

constexpr sys_days DAY_ZERO = sys_days{year{2000} / January / 1};
// Japan keeps no daylight saving time.
constexpr hours JAPAN_OFFSET{9};

// The digits of date[at, at + count), or -1 when one is not a digit.
int number(std::string_view date, size_t at, size_t count) {
    int value = 0;
    for (const char digit : date.substr(at, count)) {
        if (digit < '0' || digit > '9') {
            return -1;
        }
        value = value * 10 + (digit - '0');
    }
    return value;
}

}  // namespace

std::optional<Day> parseDay(std::string_view date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') {
        return std::nullopt;
    }
    const int yearNumber = number(date, 0, 4);
    const int monthNumber = number(date, 5, 2);
    const int dayNumber = number(date, 8, 2);
    if (yearNumber < 0 || monthNumber < 0 || dayNumber < 0) {
        return std::nullopt;
    }
    const year_month_day civil{year{yearNumber}, month{static_cast<unsigned>(monthNumber)},
                               day{static_cast<unsigned>(dayNumber)}};
    if (!civil.ok() || sys_days{civil} < DAY_ZERO) {
        return std::nullopt;
    }
    return static_cast<Day>((sys_days{civil} - DAY_ZERO).count());
}

std::string dayText(Day day) {
    const year_month_day civil{DAY_ZERO + days{day}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(civil.year()),
                  static_cast<unsigned>(civil.month()), static_cast<unsigned>(civil.day()));
    return text;
}

Day dayInJapan(int64_t unixSeconds) {
    const sys_seconds inJapan = sys_seconds{seconds{unixSeconds}} + JAPAN_OFFSET;
    return static_cast<Day>((floor<days>(inJapan) - DAY_ZERO).count());
}

uint32_t dailySeed(Day day) {
    uint32_t hash = 2166136261u;
    for (const char character : dayText(day)) {
        hash = (hash ^ static_cast<uint8_t>(character)) * 16777619u;
    }
    return hash;
}

}  // namespace numoteka
