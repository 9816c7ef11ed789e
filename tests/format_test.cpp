// The console's formats: what they print, filled, on each kind of terminal.
#include "console/format.h"

#include <cstdio>
#include <string>
#include <utility>

#include "console/console.h"
#include "harness.h"

namespace numoteka::testing {
namespace {

TEST(Format, WidthsCountCp932Bytes) {
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    const std::string name = toCp932("たろう");  // six bytes of code page 932
    say("[%-12s][%d%%]", name.c_str(), -7);
    EXPECT_EQ(takeTerminalOutput(), "[たろう      ][-7%]");
    std::string longName(600, 'n');
    say("%s!", longName.c_str());
    EXPECT_EQ(takeTerminalOutput(), longName + "!");
}

TEST(Format, ANameEndingInHalfACharacterPairsWithTheTextAfterIt) {
    // The lead byte 0x82 of a name pairs with the first byte of "さん" (0x82 0xB3) into "ｂ", and
    // the rest of "さ" (0xB3) reads as "ｳ": as if the whole line had been written at once.
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    say("%sさん", "\x82");
    EXPECT_EQ(takeTerminalOutput(), "ｂｳん");
    // "]" (0x5D) may trail a lead byte too: the unmapped pair is one "?".
    say("[%s]%d", "\x82", 7);
    EXPECT_EQ(takeTerminalOutput(), "[?7");
}

// Formats of their own, "#<n> %d\n", each at an address of its own.
template <int N>
struct NumberedFormat {
    static constexpr char text[] = {'#',
                                    static_cast<char>('0' + N / 1000),
                                    static_cast<char>('0' + N / 100 % 10),
                                    static_cast<char>('0' + N / 10 % 10),
                                    static_cast<char>('0' + N % 10),
                                    ' ',
                                    '%',
                                    'd',
                                    '\n',
                                    '\0'};
};

template <int... N>
void sayEach(std::integer_sequence<int, N...>) {
    const int said[] = {(say(NumberedFormat<N>::text, -N), 0)...};
    static_cast<void>(said);
}

TEST(Format, FormatsBeyondTheFirstSizeOfTheTableAllStayFound) {
    // The console keeps formats in a table of 1,024 places that grows when half full; the game
    // has a few hundred, these are 1,100 more (a table that did not grow could not hold them),
    // said twice.
    constexpr int COUNT = 1100;
    std::string expected;
    for (int n = 0; n < COUNT; ++n) {
        char line[16];
        std::snprintf(line, sizeof line, "#%04d %d\n", n, -n);
        expected += line;
    }
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    sayEach(std::make_integer_sequence<int, COUNT>());
    EXPECT_EQ(takeTerminalOutput(), expected);
    sayEach(std::make_integer_sequence<int, COUNT>());
    EXPECT_EQ(takeTerminalOutput(), expected);
}

}  // namespace
}  // namespace numoteka::testing
