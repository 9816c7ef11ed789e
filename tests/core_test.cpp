// The generator, the board and status displays, the opponents' set-up and the stats' limits.
#include <cstring>
#include <limits>

#include "core/primitives.h"
#include "core/random.h"
#include "core/stats.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

TEST(Generator, FollowsTheLinearCongruentialRule) {
    seedRandom(1);
    EXPECT_EQ(rand(), 41);
    seedRandom(0);
    EXPECT_EQ(rand(), 38);
    seedRandom(0);
    EXPECT_EQ(rollDie(), 3);  // 38 % 6 + 1
    // A run of draws agrees with the rule worked independently in the harness.
    seedRandom(123456789);
    for (int k = 1; k <= 1000; ++k) {
        ASSERT_EQ(rand(), drawAfter(123456789, k)) << "draw " << k;
    }
}

TEST(Generator, DieStaysWithinOneToSix) {
    seedRandom(7);
    int seen[7] = {};
    for (int i = 0; i < 6000; ++i) {
        const int die = rollDie();
        ASSERT_GE(die, 1);
        ASSERT_LE(die, 6);
        ++seen[die];
    }
    for (int face = 1; face <= 6; ++face) {
        EXPECT_GT(seen[face], 800) << face;
    }
}

class Board : public SceneTest {};

TEST_F(Board, MarkersStandAboveAndBelowTheirSquares) {
    struct Case {
        int32_t position;
        int indent;
    };
    for (const Case& c : {Case{0, 2}, Case{1, 5}, Case{29, 33}, Case{30, 36}, Case{45, 36},
                          Case{-2, 2}, Case{-4, 0}}) {
        g_players[PLAYER_HUMAN].position = c.position;
        g_players[PLAYER_COMPUTER].position = 0;
        showBoard();
        EXPECT_EQ(screen(), board(c.indent, 2)) << "human at " << c.position;
        g_players[PLAYER_HUMAN].position = 0;
        g_players[PLAYER_COMPUTER].position = c.position;
        showBoard();
        EXPECT_EQ(screen(), board(2, c.indent)) << "computer at " << c.position;
    }
}

TEST_F(Board, BothAtStartSitUnderStart) {
    showBoard();
    EXPECT_EQ(screen(), "\n　　プ\n [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n　　コ\n\n");
}

class Status : public SceneTest {};

TEST_F(Status, ShowsFourHumanValuesAndTheComputersHpThenWaits) {
    setContestant(PLAYER_HUMAN, "たろう", 612, 131, -3);
    setContestant(PLAYER_COMPUTER, "魔王", 800, 130, 70);
    type("abc\n");
    showStatus();
    EXPECT_EQ(screen(), statusBlock("たろう", 612, 131, -3, "魔王", 800));
    // One key read: the rest of the line stays for later reads.
    EXPECT_EQ(readByte(), 'b');
}

class Opponent : public SceneTest {};

TEST_F(Opponent, EachDifficultyBringsItsOwnOpponentAndGreeting) {
    struct Case {
        Difficulty difficulty;
        const char* name;
        int32_t hp, attack, defense;
        const char* greeting;
    };
    const Case cases[] = {
        {'1', "マサル", 500, 100, 50, "マサル\t「よろしくっ」\n\t･･････強さ：normal\n\n"},
        {'2', "ふにゃんこ丸", 300, 80, 25,
         "ふにゃんこ丸\t「ありぇ？ここどこ？」\n\t･･････強さ：easy\n\n"},
        {'3', "魔王", 800, 130, 70,
         "魔王\t「ヌハハハハ！！わしに勝負を挑むとは、バカな奴め！」\n\t･･････強さ：hard\n\n"},
    };
    for (const Case& c : cases) {
        g_players[PLAYER_COMPUTER].position = 17;
        g_players[PLAYER_COMPUTER].restTurns = 2;
        setupComputer(c.difficulty);
        const PlayerRecord& computer = g_players[PLAYER_COMPUTER];
        EXPECT_EQ(screen(), c.greeting);
        EXPECT_EQ(std::string(computer.name), cp932(c.name));
        EXPECT_EQ(computer.hp, c.hp);
        EXPECT_EQ(computer.attack, c.attack);
        EXPECT_EQ(computer.defense, c.defense);
        EXPECT_EQ(computer.position, 0);
        EXPECT_EQ(computer.restTurns, 0);
    }
}

TEST_F(Opponent, EasyAfterHardLeavesNothingOfTheHardOpponent) {
    setupComputer('3');
    g_players[PLAYER_COMPUTER].hp = 1234;
    g_players[PLAYER_COMPUTER].position = 12;
    g_players[PLAYER_COMPUTER].restTurns = 1;
    setupComputer('2');
    const PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    // The shorter name is copied with its terminator: no tail of "魔王" survives.
    EXPECT_STREQ(computer.name, cp932("ふにゃんこ丸").c_str());
    EXPECT_EQ(computer.hp, 300);
    EXPECT_EQ(computer.attack, 80);
    EXPECT_EQ(computer.defense, 25);
    EXPECT_EQ(computer.position, 0);
    EXPECT_EQ(computer.restTurns, 0);
}

TEST_F(Opponent, UnknownDifficultyOnlyResetsPositionAndRest) {
    g_players[PLAYER_COMPUTER].position = 9;
    g_players[PLAYER_COMPUTER].restTurns = 3;
    setupComputer('4');
    EXPECT_EQ(screen(), "");
    EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 0);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].restTurns, 0);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].hp, 500);
}

TEST_F(Opponent, WaitKeyTakesOneByteOfWhatWasTyped) {
    // Three letters and Enter feed the next three reads without further typing.
    type("xyz\n");
    waitKey();
    EXPECT_EQ(screen(), ">>");
    EXPECT_EQ(readByte(), 'y');
    EXPECT_EQ(readByte(), 'z');
    EXPECT_EQ(readByte(), '\n');
    EXPECT_TRUE(allKeysRead());
}

TEST(Stats, SaturateAtTheBottomOf32Bits) {
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
