// The tables of the catalogue of messages, which the build makes from po/*.po: one entry per text
// of the sources, each checked while compiling against the text it translates.
#pragma once

#include <cstddef>

#include "console/format.h"

namespace numoteka {

// Translations must take the values of their text: reaching this while compiling is the error.
inline void translationError(const char*) {}

// A text of the sources and its translation; for a text that tells a count, the translation
// for one and the one for any other count.
struct Translation {
    const char* source;
    const char* one;
    const char* other;

    consteval Translation(const char* text, const char* translation)
        : Translation(text, translation, translation) {}
    consteval Translation(const char* text, const char* forOne, const char* forOther)
        : source(text), one(forOne), other(forOther) {
        if (!sameConversions(text, forOne) || !sameConversions(text, forOther)) {
            translationError("the translation does not take its text's conversions, in order");
        }
    }
};

// A language's entries, sorted by the bytes of their source texts.
struct Catalogue {
    const Translation* entries;
    size_t count;
};

extern const Catalogue ENGLISH_CATALOGUE;

}  // namespace numoteka
