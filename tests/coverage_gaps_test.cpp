// Cases that only the coverage report showed no test reaching: the rarer failures of the
// ranking save, input from a real pipe longer than the console's piece, terminals that cannot
// answer the width question, a table of formats grown past its first size, and stats
// saturating at the bottom of 32 bits.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <utility>

#include "core/console.h"
#include "core/stats.h"
#include "harness.h"
#include "records/ranking.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

class RankingGaps : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        setRankingFolder("System", false);
        fs::create_directory("System");
    }

    ScratchFolder scratch_{"numoteka_gaps_"};
};

TEST_F(RankingGaps, SaveForAnUnknownDifficultyFailsAndWritesNothing) {
    for (const Difficulty difficulty : {'0', '4', '\0'}) {
        saveRecord(difficulty, 12);
        EXPECT_EQ(screen(), "セーブ失敗\n") << static_cast<int>(difficulty);
    }
    EXPECT_TRUE(fs::is_empty("System"));
}

TEST(ConsoleGaps, PipedLineLongerThanAPieceIsReadWhole) {
    // A name of 6,000 bytes of UTF-8 (4,000 of code page 932) is refused as one line, and the
    // next line is the name.
    std::string typed = "1\n";
    for (int i = 0; i < 2000; ++i) {
        typed += "あ";
    }
    typed += "\r\nab\n";
    const fs::path base = fs::path(::testing::TempDir()) / "numoteka_gaps_long_line";
    std::ofstream(base.string() + ".in", std::ios::binary) << typed;
    const std::string command = "env -u LC_ALL -u LC_CTYPE LANG=C.UTF-8 timeout 60 " +
                                std::string(NUMOTEKA_BINARY) + " < " + base.string() + ".in > " +
                                base.string() + ".out";
    const int status = std::system(command.c_str());
    const std::string shown = fileText(base.string() + ".out");
    fs::remove(base.string() + ".in");
    fs::remove(base.string() + ".out");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(shown, TITLE + LEGEND + board(2, 2) + MENU + NAME_PROMPT + NAME_REFUSED +
                         NAME_PROMPT + DIFFICULTY_PROMPT + FAREWELL);
}

TEST(ConsoleGaps, WidthQuestionNobodyCanAnswerCountsAsTwoColumns) {
    // Input from a pipe: no terminal to ask, so nothing is written.
    int input[2];
    int output[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(pipe(output), 0);
    std::string typedAhead;
    EXPECT_FALSE(terminalDrawsAmbiguousNarrow(input[0], output[1], 1000, typedAhead));
    close(output[1]);
    char byte = 0;
    EXPECT_EQ(read(output[0], &byte, 1), 0);
    for (const int end : {input[0], input[1], output[0]}) {
        close(end);
    }

    // A terminal that hangs up once asked: its answer is not waited for.
    int terminal = -1;
    int program = -1;
    ASSERT_EQ(openpty(&terminal, &program, nullptr, nullptr, nullptr), 0);
    std::thread emulator([terminal] {
        std::string question;
        char got = 0;
        while (question.find("\x1B[6n") == std::string::npos && read(terminal, &got, 1) == 1) {
            question.push_back(got);
        }
        close(terminal);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(terminalDrawsAmbiguousNarrow(program, program, 20000, typedAhead));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    emulator.join();
    close(program);
    EXPECT_EQ(typedAhead, "");
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

TEST(ConsoleGaps, FormatsBeyondTheFirstSizeOfTheTableAllStayFound) {
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

TEST(StatsGaps, StatsSaturateAtTheBottomOf32Bits) {
    constexpr int32_t LOWEST = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(toStat(-1e12), LOWEST);
    EXPECT_EQ(toStat(-2147483648.0), LOWEST);
    EXPECT_EQ(toStat(-2147483647.9), LOWEST + 1);
    EXPECT_EQ(scaled(LOWEST, 1.5), LOWEST);
    int32_t stat = LOWEST + 5;
    addTo(stat, -10);
    EXPECT_EQ(stat, LOWEST);
    addTo(stat, 4);
    EXPECT_EQ(stat, LOWEST + 4);
}

}  // namespace
}  // namespace numoteka::testing
