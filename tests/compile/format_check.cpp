// Compiled by the tests with one of the macros below defined, each a mistake the console's
// formats must refuse while compiling; without any, it must compile.
#include "console/console.h"

void sayEverything(const char* name, char* edited) {
    numoteka::say("%s\t%-12s %5d %3.0f%%\n", name, edited, 42, 12.5);
#if defined(FORMAT_NOT_A_LITERAL)
    numoteka::say(edited);
#elif defined(FORMAT_MUTABLE_TEXT)
    // Its address is fixed, but not its text.
    static char changing[] = "%d";
    numoteka::say(changing, 1);
#elif defined(FORMAT_TEXT_FOR_NUMBER)
    numoteka::say("%d", name);
#elif defined(FORMAT_MISSING_VALUE)
    numoteka::say("%s %d", name);
#elif defined(FORMAT_UNKNOWN_DIRECTIVE)
    numoteka::say("%x", 42);
#elif defined(FORMAT_ZERO_FILL)
    numoteka::say("%05d", 42);
#elif defined(FORMAT_NULL_TEXT)
    numoteka::say("%s", nullptr);
#endif
}
