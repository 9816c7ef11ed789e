#include <gmock/gmock.h>

#include <cstdint>
#include <limits>
#include <string>

#include "contests/minigames.h"
#include "core/random.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class JankenTest : public SceneTest {};

// Both names of the fixture are 6 bytes of code page 932, so each field gets 6 blanks.
const std::string NAMES = "\t\tテスト      \t\tマサル      \n\n";
const std::string HAND_MENU = "1.グー　2.チョキ　3.パー\n";

void expectStats(int player, int32_t hp, int32_t attack, int32_t defense) {
    EXPECT_EQ(g_players[player].hp, hp);
    EXPECT_EQ(g_players[player].attack, attack);
    EXPECT_EQ(g_players[player].defense, defense);
}

TEST_F(JankenTest, MenuPathsThenEasyWinTakesThirtyPercent) {
    seedRandom(5);
    type("\nx\n2\n\n1\n9\n1\n\n\n\n");
    playJanken(PLAYER_HUMAN, '2');
    EXPECT_EQ(
        screen(),
        "\nじゃんけんゲーム！！\n>>"
        "1.ゲームを始める　2.説明を聞く\n1か2を入力してください\n\n"
        "1.ゲームを始める　2.説明を聞く\n"
        "－説明－\nテストさんとマサルさんがジャンケン対決！！\n"
        "勝ったほうが負けたほうのステータスの30%を奪えちゃいます！\n>>"
        "1.ゲームを始める　2.説明を聞く\n"
        "\nじゃーんけーん...\n\n" +
            HAND_MENU + "1～3を入力してください\n\n" + HAND_MENU + "\nぽん！\n\n" + NAMES +
            "\t\t　　グー！　　\t\t　　チョキ！\n>>"
            "テストさんの勝利！！\nマサルさんのステータスの30%がテストさんのものになります！\n>>" +
            statusBlock("テスト", 650, 130, 65, "マサル", 350));
    EXPECT_TRUE(allKeysRead());
    expectStats(PLAYER_HUMAN, 650, 130, 65);
    expectStats(PLAYER_COMPUTER, 350, 70, 35);
    EXPECT_EQ(rand(), drawAfter(5, 1)) << "easy draws nothing";
}

TEST_F(JankenTest, ComputerOnSquareNormalDrawThenComputerWins) {
    const uint32_t seed = findSeed({{3, 0}, {3, 2}});
    seedRandom(seed);
    type("\n2\n\n1\n2\n3\n\n\n\n");
    playJanken(PLAYER_COMPUTER, '1');
    const std::string shown = screen();
    EXPECT_THAT(shown, HasSubstr("－説明－\nマサルさんとテストさんがジャンケン対決！！\n"));
    EXPECT_THAT(shown, HasSubstr("\nぽん！\n\n" + NAMES +
                                 "\t\t　　チョキ！　\t\t　　チョキ！\n\n"
                                 "あいこ！！\n\nあーいこーで...\n\n" +
                                 HAND_MENU + "\nしょ!\n\n" + NAMES +
                                 "\t\t　　パー！　　\t\t　　チョキ！\n\n>>"
                                 "マサルさんの勝利！！\nテストさんのステータスの30%が"
                                 "マサルさんのものになります！\n>>"));
    EXPECT_TRUE(allKeysRead());
    expectStats(PLAYER_COMPUTER, 650, 130, 65);
    expectStats(PLAYER_HUMAN, 350, 70, 35);
    EXPECT_EQ(rand(), drawAfter(seed, 3)) << "one draw per throw";

    // The draw call does not carry over into the next game.
    type("\n1\n1\n\n\n\n");
    playJanken(PLAYER_HUMAN, '2');
    const std::string next = screen();
    EXPECT_THAT(next, HasSubstr("\nぽん！\n\n"));
    EXPECT_THAT(next, Not(HasSubstr("しょ")));
}

TEST_F(JankenTest, NormalAndHardOddsShowTheComputersHand) {
    struct Case {
        Difficulty difficulty;
        uint32_t seed;
        std::string keys;  // the hands typed
        std::string computerHands;
        bool humanWins;
    };
    const Case cases[] = {
        {'1', findSeed({{3, 1}}), "3\n", "\t\t　　パー！　　\t\t　　グー！\n\n", true},
        {'3', findSeed({{16, 2}, {16, 3}}), "1\n1\n",
         "\t\t　　グー！　　\t\t　　グー！\n\nあいこ！！\n\nあーいこーで...\n\n" + HAND_MENU +
             "\nしょ!\n\n" + NAMES + "\t\t　　グー！　　\t\t　　チョキ！\n\n",
         true},
        {'3', findSeed({{16, 4}}), "3\n", "\t\t　　パー！　　\t\t　　チョキ！\n\n", false},
        {'3', findSeed({{16, 15}}), "2\n", "\t\t　　チョキ！　\t\t　　グー！\n\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys + " at " + c.difficulty);
        setContestant(PLAYER_HUMAN, "テスト", 500, 100, 50);
        setContestant(PLAYER_COMPUTER, "マサル", 500, 100, 50);
        seedRandom(c.seed);
        type("\n1\n" + c.keys + "\n\n\n");
        playJanken(PLAYER_HUMAN, c.difficulty);
        EXPECT_THAT(screen(), HasSubstr(NAMES + c.computerHands + ">>"));
        EXPECT_TRUE(allKeysRead());
        EXPECT_EQ(g_players[PLAYER_HUMAN].hp, c.humanWins ? 650 : 350);
        EXPECT_EQ(g_players[PLAYER_COMPUTER].hp, c.humanWins ? 350 : 650);
    }
}

TEST_F(JankenTest, TransferTruncatesInDoublesAndSaturates) {
    setContestant(PLAYER_HUMAN, "テスト", 100, 10, 5);
    setContestant(PLAYER_COMPUTER, "マサル", 90, 180, 1);
    type("\n1\n1\n\n\n\n");
    playJanken(PLAYER_HUMAN, '2');
    expectStats(PLAYER_HUMAN, 127, 64, 5);
    expectStats(PLAYER_COMPUTER, 62, 125, 0);

    setContestant(PLAYER_HUMAN, "テスト", 2147483000, 10, 5);
    setContestant(PLAYER_COMPUTER, "マサル", 10000, 10, 5);
    type("\n1\n1\n\n\n\n");
    playJanken(PLAYER_HUMAN, '2');
    EXPECT_EQ(g_players[PLAYER_HUMAN].hp, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(g_players[PLAYER_COMPUTER].hp, 7000);
}

}  // namespace
}  // namespace numoteka::testing
