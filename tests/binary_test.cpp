// The real program, run with piped input.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

struct BinaryRun {
    int status;
    std::string output;
};

// Runs the game with `typed` on its standard input, in a locale of `locale`.
BinaryRun runBinary(const std::string& typed, const std::string& locale) {
    const std::string base = ::testing::TempDir() + "numoteka_binary_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::ofstream(base + ".in", std::ios::binary) << typed;
    const std::string command = "env -u LC_ALL -u LC_CTYPE LANG=" + locale + " timeout 60 " +
                                NUMOTEKA_BINARY + " < " + base + ".in > " + base + ".out";
    const int status = std::system(command.c_str());
    std::ifstream shown(base + ".out", std::ios::binary);
    std::ostringstream text;
    text << shown.rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

const std::string OPENING = TITLE + LEGEND + board(2, 2) + MENU;

TEST(Binary, QuitsFromTheMenuWithStatusZero) {
    const BinaryRun run = runBinary("2\n", "C.UTF-8");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, OPENING + FAREWELL);
}

TEST(Binary, EndOfInputInsideAGameEndsCleanly) {
    const BinaryRun run = runBinary("1\r\nたろう\r\n1\r\n\r\n\r\n", "C.UTF-8");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output.substr(run.output.size() - TURN_MENU.size() - FAREWELL.size()),
              TURN_MENU + FAREWELL);
    EXPECT_NE(run.output.find("\nたろうさんの番です（1ターン目）\n>>"), std::string::npos);
}

TEST(Binary, ShiftJisLocaleWritesCodePage932) {
    const BinaryRun run = runBinary("2\n", "ja_JP.SJIS");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, cp932((OPENING + FAREWELL).c_str()));
}

}  // namespace
}  // namespace numoteka::testing
