// The real program, run with piped input.
#include <string>

#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

// Runs the game with `typed` on its standard input, in a locale of `locale`.
ProgramRun runWithKeys(const std::string& typed, const std::string& locale = "C.UTF-8") {
    return runBinary({{}, typed, locale});
}

const std::string OPENING = TITLE + LEGEND + board(2, 2) + MENU;

TEST(Binary, QuitsFromTheMenuWithStatusZero) {
    const ProgramRun run = runWithKeys("2\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENING + FAREWELL);
}

TEST(Binary, EndOfInputInsideAGameEndsCleanly) {
    const ProgramRun run = runWithKeys("1\r\nたろう\r\n1\r\n\r\n\r\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(run.out.size() - TURN_MENU.size() - FAREWELL.size()),
              TURN_MENU + FAREWELL);
    EXPECT_NE(run.out.find("\nたろうさんの番です（1ターン目）\n>>"), std::string::npos);
}

TEST(Binary, ShiftJisLocaleWritesCodePage932) {
    const ProgramRun run = runWithKeys("2\n", "ja_JP.SJIS");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, cp932((OPENING + FAREWELL).c_str()));
}

TEST(Binary, ShiftJisLocaleKeepsCodePage932ThroughAGame) {
    // A name whose characters end in the byte 0x5C (a backslash), typed as raw code page 932 after
    // a refused one of 12 bytes; hard; a wrong key and the status in the turn menu, then give up.
    const std::string name = "ソ能表";
    const std::string typed =
        "1\n" + cp932("あいうえおか") + "\n" + cp932(name.c_str()) + "\n3\n\n\nx\n2\n\n3\n2\n";
    const ProgramRun run = runWithKeys(typed, "ja_JP.SJIS");
    EXPECT_EQ(run.status, 0);
    const std::string status = statusBlock(name, 500, 100, 50, "魔王", 800);
    const std::string expected =
        OPENING + NAME_PROMPT + NAME_REFUSED + NAME_PROMPT + DIFFICULTY_PROMPT +
        "魔王\t「ヌハハハハ！！わしに勝負を挑むとは、バカな奴め！」\n\t･･････強さ：hard\n\n" +
        ">>" + GAME_START + "\n" + name + "さんの番です（1ターン目）\n>>" + board(2, 2) +
        TURN_MENU + ONE_TO_THREE + board(2, 2) + TURN_MENU + status + board(2, 2) + TURN_MENU +
        MENU + FAREWELL;
    EXPECT_EQ(run.out, cp932(expected.c_str()));
}

TEST(Binary, PipedLineLongerThanAPieceIsReadWhole) {
    // A name of 6,000 bytes of UTF-8 (4,000 of code page 932) is refused as one line, and the
    // next line is the name.
    const ProgramRun run = runWithKeys("1\n" + repeated("あ", 2000) + "\r\nab\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              OPENING + NAME_PROMPT + NAME_REFUSED + NAME_PROMPT + DIFFICULTY_PROMPT + FAREWELL);
}

}  // namespace
}  // namespace numoteka::testing
