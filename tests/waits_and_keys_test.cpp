// What the game shows before it waits, how often it pauses, and keys and bytes at the edges of
// what the console converts.
#include <string>
#include <vector>

#include "contests/minigames.h"
#include "core/primitives.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

struct Waits {
    int keys = 0;
    int pauses = 0;
    int withTextUnshown = 0;
};
Waits g_waits;

void countWait(Wait wait, bool outputWaiting) {
    ++(wait == Wait::KEYS ? g_waits.keys : g_waits.pauses);
    g_waits.withTextUnshown += outputWaiting ? 1 : 0;
}

class WaitTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        g_waits = {};
        setWaitObserver(countWait);
    }

    void TearDown() override {
        setWaitObserver(nullptr);
        SceneTest::TearDown();
    }
};

TEST_F(WaitTest, EverythingWrittenIsShownBeforeTheGameWaits) {
    // A game played to its end on "1" at every prompt, with every kind of wait in it.
    ScratchFolder scratch("numoteka_waits_");
    std::string keys = "1\nwaiter\n1\n";
    while (keys.size() < 3000) {
        keys += "11\n";
    }
    const std::string shown = playSession(7, keys);
    EXPECT_NE(shown.find("の勝利！！！"), std::string::npos);
    EXPECT_GT(g_waits.keys, 100);
    EXPECT_GT(g_waits.pauses, 10);
    EXPECT_EQ(g_waits.withTextUnshown, 0);
}

TEST_F(WaitTest, OnlyTheComputerPausesBeforeItsRoll) {
    struct Case {
        int player;
        const char* typed;
        int pauses;
        const char* shown;
    };
    const Case cases[] = {
        {PLAYER_HUMAN, "\n", 0, "（Enter）--->"},
        {PLAYER_COMPUTER, "", 2, "\n"},
    };
    for (const Case& c : cases) {
        g_waits = {};
        type(c.typed);
        awaitRoll(c.player);
        EXPECT_EQ(g_waits.pauses, c.pauses) << c.player;
        EXPECT_EQ(screen(), c.shown) << c.player;
        EXPECT_TRUE(allKeysRead()) << c.player;
    }
}

TEST_F(WaitTest, TheMiniGamesMenuTakesOnlyOneOrTwo) {
    const std::string menu = "1.ゲームを始める　2.説明を聞く\n";
    for (const char* wrong : {"0\n", "3\n", "x\n", "\n\n"}) {
        type(std::string(wrong) + "2\n");
        EXPECT_FALSE(chooseToStart()) << wrong;
        EXPECT_EQ(screen(), menu + ONE_OR_TWO + menu) << wrong;
        EXPECT_TRUE(allKeysRead()) << wrong;
    }
}

TEST(ConsoleEdges, UnconvertibleCodesAtTheEndOfTheTextAreOneQuestionMarkEach) {
    struct Case {
        std::string cp932;
        std::string utf8;
    };
    const Case cases[] = {
        {"a\x85\x40", "a?"},     // an unmapped pair, last in the text
        {"a\x81", "a?"},         // a lead byte with nothing after it
        {"\x85\x40\x85", "??"},  // an unmapped pair, then a lone lead byte
        {"\xFD", "?"},           // a byte that is no code at all
    };
    for (const Case& c : cases) {
        attachMemoryTerminal("", TerminalEncoding::Utf8);
        writeText(c.cp932);
        EXPECT_EQ(takeTerminalOutput(), c.utf8) << ::testing::PrintToString(c.cp932);
    }
}

TEST(ConsoleEdges, ACarriageReturnAtTheEndOfAPieceStillGoesWithItsLineFeed) {
    // 4,095 bytes and the CR fill the first piece of 4,096 exactly; the LF starts the next.
    for (TerminalEncoding encoding : {TerminalEncoding::Utf8, TerminalEncoding::ShiftJis}) {
        attachMemoryTerminal(std::string(4095, 'x') + "\r\nq\r\n", encoding);
        std::string read;
        try {
            for (;;) {
                read.push_back(static_cast<char>(readByte()));
            }
        } catch (const InputEnded&) {
        }
        EXPECT_EQ(read, std::string(4095, 'x') + "\nq\n");
    }
}

}  // namespace
}  // namespace numoteka::testing
