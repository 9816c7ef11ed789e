// The language the game speaks. Its own is Japanese: every text of the sources is Japanese, and
// is the key of its translations in the catalogue of messages (po/*.po, made into tables when
// the game is built). Only a choice made on purpose changes it, never the locale.
#pragma once

#include <string_view>

namespace numoteka {

enum class Language { JAPANESE, ENGLISH };
inline constexpr int LANGUAGE_COUNT = 2;

extern Language g_language;

// Chosen before the game says anything; Japanese until then.
void setLanguage(Language language);

// The language of a name as the command line gives it: "ja" or "en". False for any other.
bool languageNamed(std::string_view name, Language& language);

// A text of the sources (UTF-8 Japanese) in the run's language, UTF-8: the text itself in
// Japanese, or where the catalogue does not hold it.
const char* localized(const char* text);

// The same for a text that tells `count` of something: the form of the language for it.
const char* localizedCount(const char* text, long long count);

}  // namespace numoteka
