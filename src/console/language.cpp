#include "console/language.h"

#include <algorithm>
#include <cstring>

#include "console/catalogue.h"

namespace numoteka {

Language g_language = Language::JAPANESE;

namespace {

const Translation* translationOf(const char* text) {
    if (g_language != Language::ENGLISH) {
        return nullptr;
    }
    const Translation* begin = ENGLISH_CATALOGUE.entries;
    const Translation* end = begin + ENGLISH_CATALOGUE.count;
    const Translation* found =
        std::lower_bound(begin, end, text, [](const Translation& entry, const char* wanted) {
            return std::strcmp(entry.source, wanted) < 0;
        });
    return found != end && std::strcmp(found->source, text) == 0 ? found : nullptr;
}

}  // namespace

void setLanguage(Language language) {
    if (language != g_language) {
        g_language = language;
        forgetPreparedFormats();
    }
}

bool languageNamed(std::string_view name, Language& language) {
    if (name == "ja") {
        language = Language::JAPANESE;
        return true;
    }
    if (name == "en") {
        language = Language::ENGLISH;
        return true;
    }
    return false;
}

const char* localized(const char* text) {
    const Translation* translation = translationOf(text);
    return translation != nullptr ? translation->one : text;
}

const char* localizedCount(const char* text, long long count) {
    const Translation* translation = translationOf(text);
    if (translation == nullptr) {
        return text;
    }
    // English's plural forms, as po/en.po declares them: nplurals=2; plural=(n != 1).
    return count == 1 ? translation->one : translation->other;
}

}  // namespace numoteka
