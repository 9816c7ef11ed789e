#include <gmock/gmock.h>

#include <cstdint>
#include <string>

#include "contests/minigames.h"
#include "core/random.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

class SlotTest : public SceneTest {};

const std::string MENU = "1.ゲームを始める　2.説明を聞く\n";
const std::string STOP = "ストップ！（Enter）--->";
const std::string BOARD_LINE = " [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n";

std::string spaces(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "　";
    }
    return text;
}

TEST_F(SlotTest, MenuPathsThenAPairOfSevensLoses) {
    seedRandom(findSeed({{30, 0}, {30, 3}, {30, 13}}));
    type("\nx\n2\n\n1\n\n\n\n\n");
    playSlot(PLAYER_HUMAN, '1');
    EXPECT_EQ(screen(), "\nスロットゲーム！！\n>>" + MENU + "1か2を入力してください\n\n" + MENU +
                            "－説明－\nテストさんのみの参加となります\n"
                            "スロットが見事そろえば絵柄に応じた賞品がもらえます！\n"
                            "\t７・７・７\t･･･ステータス40%アップ！\n"
                            "\t★・★・★\t･･･ステータス15%アップ！\n"
                            "\t★・★\t\t･･･ステータス5%アップ！\n"
                            "\thp・hp\t\t･･･HP20%アップ！\n"
                            "\t攻・攻\t\t･･･攻撃力20%アップ！\n"
                            "\t防・防\t\t･･･防御力20%アップ！\n"
                            "\t□・□\t\t･･･もう一回ダイスを振る！\n>>" +
                            MENU + "\nスロットスタート！！\n" + STOP + "\n\t７\n\n" + STOP +
                            "\n\t７\n\n" + STOP + "\n\thp\n\nはずれ！残念でした！\n>>");
    EXPECT_TRUE(allKeysRead());
    EXPECT_EQ(g_players[PLAYER_HUMAN].hp, 500);
}

TEST_F(SlotTest, PrizesInTableOrder) {
    struct Case {
        int reels[3];
        const char* symbols[3];
        const char* message;
        int32_t hp, attack, defense;  // from 500 (7 for the sevens), 100, 50
    };
    const Case cases[] = {
        {{0, 1, 2}, {"７", "７", "７"}, "スリーセブン！！！ステータス40%アップ！\n", 9, 140, 70},
        {{4, 8, 6}, {"★", "★", "★"}, "★が三つ揃いました！ステータス15%アップ！\n", 575, 114, 57},
        {{5, 24, 7}, {"★", "□", "★"}, "★が二つ揃いました！ステータス5%アップ！\n", 525, 105, 52},
        {{9, 0, 13}, {"hp", "７", "hp"}, "hpが揃いました！HP20%アップ！\n", 600, 100, 50},
        {{14, 18, 19}, {"攻", "攻", "防"}, "攻が揃いました！攻撃力20%アップ！\n", 500, 120, 50},
        {{29, 19, 23}, {"□", "防", "防"}, "防が揃いました！防御力20%アップ！\n", 500, 100, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        setContestant(PLAYER_HUMAN, "テスト", c.reels[0] == 0 ? 7 : 500, 100, 50);
        seedRandom(findSeed({{30, c.reels[0]}, {30, c.reels[1]}, {30, c.reels[2]}}));
        type("\n1\n\n\n\n\n\n");
        playSlot(PLAYER_HUMAN, '1');
        const std::string shown = screen();
        EXPECT_THAT(shown, HasSubstr(STOP + "\n\t" + c.symbols[0] + "\n\n" + STOP + "\n\t" +
                                     c.symbols[1] + "\n\n" + STOP + "\n\t" + c.symbols[2] + "\n\n" +
                                     c.message + ">>\n\n―*ステータス*―"));
        EXPECT_TRUE(allKeysRead());
        EXPECT_EQ(g_players[PLAYER_HUMAN].hp, c.hp);
        EXPECT_EQ(g_players[PLAYER_HUMAN].attack, c.attack);
        EXPECT_EQ(g_players[PLAYER_HUMAN].defense, c.defense);
    }
}

TEST_F(SlotTest, ComputerSpinsWithoutMenu) {
    seedRandom(findSeed({{30, 10}, {30, 20}, {30, 12}}));
    type("\n\n\n");
    playSlot(PLAYER_COMPUTER, '1');
    EXPECT_EQ(screen(),
              "\nスロットゲーム！！\n>>\nスロットスタート！！\n"
              "ストップ！\n\n\thp\n\nストップ！\n\n\t防\n\nストップ！\n\n\thp\n\n"
              "hpが揃いました！HP20%アップ！\n>>" +
                  statusBlock("テスト", 500, 100, 50, "マサル", 600));
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SlotTest, ExtraRollPastTheGoalRunsNoEvent) {
    setContestant(PLAYER_COMPUTER, "マサル", 500, 100, 50, 26);
    const uint32_t seed = findSeed({{30, 24}, {30, 29}, {30, 0}, {6, 5}});
    seedRandom(seed);
    type("\n\n\n\n");
    playSlot(PLAYER_COMPUTER, '1');
    EXPECT_THAT(screen(), EndsWith("ストップ！\n\n\t７\n\n"
                                   "□が揃いました！もう一回ダイスを振る！\n>>\n\t6!!\n\n>>\n" +
                                   spaces(2) + "プ\n" + BOARD_LINE + spaces(36) + "コ\n\n>>"));
    EXPECT_TRUE(allKeysRead());
    EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 32);
    EXPECT_EQ(rand(), drawAfter(seed, 5));
}

TEST_F(SlotTest, ExtraRollRunsTheEventOfTheSquareReached) {
    setContestant(PLAYER_HUMAN, "テスト", 500, 100, 50, 6);
    const uint32_t seed = findSeed({{30, 26}, {30, 9}, {30, 27}, {6, 2}});
    seedRandom(seed);
    type("\n1\n\n\n\n\n\n\n\n\n");
    playSlot(PLAYER_HUMAN, '1');
    EXPECT_THAT(screen(), EndsWith(STOP +
                                   "\n\t□\n\n"
                                   "□が揃いました！もう一回ダイスを振る！\n>>（Enter）--->"
                                   "\t3!!\n\n>>\n" +
                                   spaces(13) + "プ\n" + BOARD_LINE + spaces(2) +
                                   "コ\n\n>>何もない一日だった･･････\n>>"));
    EXPECT_TRUE(allKeysRead());
    EXPECT_EQ(g_players[PLAYER_HUMAN].position, 9);
    EXPECT_EQ(rand(), drawAfter(seed, 5));
}

}  // namespace
}  // namespace numoteka::testing
