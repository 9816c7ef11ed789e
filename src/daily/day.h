// The days of the daily game: one seed for everyone each day, chosen by the date in Japan.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace numoteka {

// A day of the calendar as the days since 2000-01-01, the first day that has a daily game.
using Day = int32_t;

// The day of the date "YYYY-MM-DD" (Gregorian), if it is one from 2000-01-01 on.
std::optional<Day> parseDay(std::string_view date);

// "YYYY-MM-DD".
std::string dayText(Day day);

// The day in Japan (UTC+9, no daylight saving) at `unixSeconds`.
Day dayInJapan(int64_t unixSeconds);

// The day's seed: the 32-bit FNV-1a hash of its "YYYY-MM-DD", so every copy agrees without a
// network.
uint32_t dailySeed(Day day);

}  // namespace numoteka
