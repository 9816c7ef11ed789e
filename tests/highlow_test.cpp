#include <gmock/gmock.h>

#include <cstdint>
#include <string>

#include "contests/minigames.h"
#include "core/random.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

using ::testing::HasSubstr;

class HighLowTest : public SceneTest {};

const std::string MENU = "1.ゲームを始める　2.説明を聞く\n";
const std::string ASK = "次の値はこの値より･･･ 1.大きい！ 2.小さい！\n";
const std::string HUMAN_ROLL = "ダイスを振る！！（Enter）--->";
const std::string COMPUTER_ROLL = "ダイスを振る！！\n";

TEST_F(HighLowTest, MenuPathsThenAnEqualValueLosesAtOnce) {
    seedRandom(findSeed({{4, 1}, {6, 2}}));  // first value 3, then a roll of 3
    type("\nx\n2\n\n1\n\n\n3\n1\n\n\n\n");
    playHighLow(PLAYER_HUMAN);
    EXPECT_EQ(screen(), "\nハイ＆ローゲーム！！\n>>" + MENU + "1か2を入力してください\n\n" + MENU +
                            "－説明－\nテストさんのみの参加となります\n"
                            "ダイスを振って、次のダイスの目がその値より\n"
                            "大きい値か小さい値かを予想します\n"
                            "一回成功するごとにステータスの増加率が3%ずつアップ！\n>>" +
                            MENU + HUMAN_ROLL + "\n\t3!!\n\n>>" + ASK +
                            "1か2を入力してください\n\n" + ASK + HUMAN_ROLL +
                            "\n\t3!!\n\n失敗！！\n>>一回もできなかった！　ショック！\n>>");
    EXPECT_TRUE(allKeysRead());
    EXPECT_EQ(g_players[PLAYER_HUMAN].hp, 500);
    EXPECT_EQ(g_players[PLAYER_HUMAN].attack, 100);
    EXPECT_EQ(g_players[PLAYER_HUMAN].defense, 50);
}

TEST_F(HighLowTest, OneSuccessRaisesByThreePercent) {
    // First value 2; "bigger" meets a 5; "smaller" meets another 5 and fails.
    seedRandom(findSeed({{4, 0}, {6, 4}, {6, 4}}));
    type("\n1\n\n\n1\n\n\n2\n\n\n\n\n");
    playHighLow(PLAYER_HUMAN);
    EXPECT_THAT(screen(),
                HasSubstr("\n\t2!!\n\n>>" + ASK + HUMAN_ROLL +
                          "\n\t5!!\n\n成功！！　ステータス増加率  3%\n>>" + ASK + HUMAN_ROLL +
                          "\n\t5!!\n\n失敗！！\n>>"
                          "ステータス増加率  3%なので\n"
                          "テストさんのステータス  3%アップ！！\n>>\n\n―*ステータス*―"));
    EXPECT_TRUE(allKeysRead());
    EXPECT_EQ(g_players[PLAYER_HUMAN].hp, 515);
    EXPECT_EQ(g_players[PLAYER_HUMAN].attack, 103);
    EXPECT_EQ(g_players[PLAYER_HUMAN].defense, 51);
}

TEST_F(HighLowTest, ComputerGuessesAtRandomFiveTimesRight) {
    // First value 2. The guesses (0 bigger, 1 smaller) and rolls alternate: bigger 6, smaller 1,
    // bigger 6, smaller 1, bigger 6, and then bigger than 6 again, which meets a 6.
    seedRandom(findSeed({{4, 0},
                         {2, 0},
                         {6, 5},
                         {2, 1},
                         {6, 0},
                         {2, 0},
                         {6, 5},
                         {2, 1},
                         {6, 0},
                         {2, 0},
                         {6, 5},
                         {2, 0},
                         {6, 5}}));
    type(std::string(16, '\n'));
    playHighLow(PLAYER_COMPUTER);

    const std::string bigger = "次の値はこの値より･･･\n\n\tマサル\t「大きい！」\n>>";
    const std::string smaller = "次の値はこの値より･･･\n\n\tマサル\t「小さい！」\n>>";
    EXPECT_EQ(screen(),
              "\nハイ＆ローゲーム！！\n>>" + COMPUTER_ROLL + "\n\t2!!\n\n>>" + bigger +
                  COMPUTER_ROLL + "\n\t6!!\n\n成功！！　ステータス増加率  3%\n>>" + smaller +
                  COMPUTER_ROLL + "\n\t1!!\n\n成功！！　ステータス増加率  6%\n>>" + bigger +
                  COMPUTER_ROLL + "\n\t6!!\n\n成功！！　ステータス増加率  9%\n>>" + smaller +
                  COMPUTER_ROLL + "\n\t1!!\n\n成功！！　ステータス増加率 12%\n>>" + bigger +
                  COMPUTER_ROLL + "\n\t6!!\n\n成功！！　ステータス増加率 15%\n>>" + bigger +
                  COMPUTER_ROLL + "\n\t6!!\n\n失敗！！\n>>" +
                  "ステータス増加率 15%なので\nマサルさんのステータス 15%アップ！！\n>>" +
                  statusBlock("テスト", 500, 100, 50, "マサル", 575));
    EXPECT_TRUE(allKeysRead());
    EXPECT_EQ(g_players[PLAYER_COMPUTER].attack, 114);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].defense, 57);
}

}  // namespace
}  // namespace numoteka::testing
