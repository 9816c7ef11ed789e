// The battle after every round. Every seed below is chosen by the draws it must give, in the
// order the battle makes them: human's first-strike die, computer's die (again on a tie), then
// per blow the extra damage (% 20) and the heavy test (% 26, or % 23 for the human's opening
// blow when the human strikes first), and last the back die. A draw that is odd can never be
// 0 modulo 26, which is how "not heavy" is asked for with {2, 1}.
#include "contests/battle.h"

#include <cstdint>
#include <string>

#include "core/random.h"
#include "harness.h"

namespace numoteka::testing {
namespace {

const std::string BOARD_LINE = " [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n";

std::string fullWidthSpaces(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "　";
    }
    return text;
}

// The board as shown with the human on square `human` and the computer on `computer` (both
// between START and 29), followed by the key wait.
std::string boardThenKey(int human, int computer) {
    const int humanIndent = human == 0 ? 2 : human + 4;
    const int computerIndent = computer == 0 ? 2 : computer + 4;
    return "\n" + fullWidthSpaces(humanIndent) + "プ\n" + BOARD_LINE +
           fullWidthSpaces(computerIndent) + "コ\n\n>>";
}

std::string hitPoints(const char* human, const char* computer, int humanHp, int computerHp) {
    return "\n\t" + std::string(human) + "\t\t" + computer + "\n\tHP:" + std::to_string(humanHp) +
           "\t\tHP:" + std::to_string(computerHp) + "\n\n";
}

void expectSameRecord(const PlayerRecord& after, const PlayerRecord& before) {
    EXPECT_EQ(std::string(after.name), std::string(before.name));
    EXPECT_EQ(after.hp, before.hp);
    EXPECT_EQ(after.attack, before.attack);
    EXPECT_EQ(after.defense, before.defense);
    EXPECT_EQ(after.position, before.position);
    EXPECT_EQ(after.restTurns, before.restTurns);
}

class BattleTest : public SceneTest {
protected:
    // Runs one battle on `seed` with exactly `keys` key presses typed; returns the screen.
    std::string fight(uint32_t seed, Difficulty difficulty, int keys) {
        seedRandom(seed);
        type(std::string(static_cast<size_t>(keys), '\n'));
        runBattle(difficulty);
        EXPECT_TRUE(allKeysRead());
        return screen();
    }
};

// Human 5 beats computer 2, the opening blow draws 0 (extra) and 1 modulo 23 (not heavy), the
// computer's blow 0 and an odd draw (not heavy). So both blows deal exactly the base damage.
uint32_t plainExchangeSeed() {
    return findSeed({{6, 4}, {6, 1}, {20, 0}, {23, 1}, {20, 0}, {2, 1}});
}

TEST_F(BattleTest, WholeBattleAgainstTheNormalOpponent) {
    // Human rolls 2, computer 5: the computer strikes with 7 extra, not heavy (207); the human
    // answers with 3 extra, not heavy (203), which fells the computer. The back die shows 6.
    const uint32_t seed = findSeed({{6, 1}, {6, 4}, {20, 7}, {2, 1}, {20, 3}, {2, 1}, {6, 5}});
    setContestant(PLAYER_HUMAN, "テスト", 300, 100, 50, 5, 1);
    setContestant(PLAYER_COMPUTER, "マサル", 150, 100, 50, 10, 2);
    const PlayerRecord human = g_players[PLAYER_HUMAN];
    PlayerRecord computer = g_players[PLAYER_COMPUTER];

    const std::string expected =
        "\n!×××××××××！バトル！×××××××××!\n\n>>"
        "―先攻後攻の決定―\n\n>>"
        "テストさんダイスを振ってください！（Enter）--->"
        "\n\t2!!\n\n>>"
        "マサル\t「とおりゃ！」\n"
        "\n\t5!!\n\n>>"
        "マサルさんの先攻です\n\n"
        "\nバトル開始！！\n\n" +
        hitPoints("テスト", "マサル", 300, 150) + ">>" +
        "マサルの攻撃！！\n\n"
        "マサル\t「くらえっ！」\n"
        "\n\tズガン！\n\n"
        "207のダメージ！\n>>" +
        hitPoints("テスト", "マサル", 93, 150) + ">>" +
        "テストさんの攻撃！！\n\n\tズガン！\n\n"
        "203のダメージ！\n>>" +
        hitPoints("テスト", "マサル", 93, 0) + ">>" +
        "\n\n－－－－－－テストさんの勝利！！－－－－－－\n\n>>"
        "ダイスを振ってマサルさんを戻すマスの数を決めてください！（Enter）--->"
        "\n\t4!!\n\n"
        "マサルさん4マス戻ります\n\n>>" +
        boardThenKey(5, 6);
    EXPECT_EQ(fight(seed, '1', 14), expected);

    // Only the loser's position changed; the hit points are untouched.
    expectSameRecord(g_players[PLAYER_HUMAN], human);
    computer.position = 6;
    expectSameRecord(g_players[PLAYER_COMPUTER], computer);
}

TEST_F(BattleTest, TiedRollsRepeatTheWholeRollThenTheHigherStrikesFirst) {
    // 3 against 3, then 1 against 6. The hard opponent's blow (130 * 130 / 50 = 338, extra 0,
    // odd heavy draw) is larger than the 300 hp left and fells the human; the back die shows 1
    // and the human, on START, stays there.
    const uint32_t seed = findSeed({{6, 2}, {6, 2}, {6, 0}, {6, 5}, {20, 0}, {2, 1}, {6, 0}});
    setContestant(PLAYER_HUMAN, "テスト", 300, 100, 50, 0);
    setContestant(PLAYER_COMPUTER, "魔王", 800, 130, 70, 7);

    const std::string expected =
        "\n!×××××××××！バトル！×××××××××!\n\n>>"
        "―先攻後攻の決定―\n\n>>"
        "テストさんダイスを振ってください！（Enter）--->\n\t3!!\n\n>>"
        "魔王\t「フッ」\n\n\t3!!\n\n>>"
        "もう一回！\n"
        "テストさんダイスを振ってください！（Enter）--->\n\t1!!\n\n>>"
        "魔王\t「フッ」\n\n\t6!!\n\n>>"
        "魔王さんの先攻です\n\n"
        "\nバトル開始！！\n\n" +
        hitPoints("テスト", "魔王", 300, 800) + ">>" +
        "魔王の攻撃！！\n\n"
        "魔王\t「ハッ！！」\n"
        "\n\tズガン！\n\n"
        "338のダメージ！\n>>" +
        hitPoints("テスト", "魔王", 0, 800) + ">>" +
        "\n\n－－－－－－魔王さんの勝利！！－－－－－－\n\n>>"
        "ダイスを振ってテストさんを戻すマスの数を決めてください！\n"
        "\n\t1!!\n\n"
        "テストさん1マス戻ります\n\n>>" +
        boardThenKey(0, 7);
    EXPECT_EQ(fight(seed, '3', 14), expected);
    EXPECT_EQ(g_players[PLAYER_HUMAN].position, 0);
    EXPECT_EQ(g_players[PLAYER_HUMAN].hp, 300);
}

TEST_F(BattleTest, BaseDamagesOfTheStartingMatchUps) {
    struct MatchUp {
        Difficulty difficulty;
        const char* name;
        int32_t attack;
        int32_t defense;
        const char* humanBlow;     // human 100 * 100 / opponent's defense
        const char* computerBlow;  // opponent's attack squared / 50
        const char* firstCry;
        const char* blowCry;
    };
    const MatchUp matchUps[] = {
        {'1', "マサル", 100, 50, "200のダメージ！\n", "200のダメージ！\n",
         "マサル\t「とおりゃ！」\n", "マサル\t「くらえっ！」\n"},
        {'3', "魔王", 130, 70, "142のダメージ！\n", "338のダメージ！\n", "魔王\t「フッ」\n",
         "魔王\t「ハッ！！」\n"},
        {'2', "ふにゃんこ丸", 80, 25, "400のダメージ！\n", "128のダメージ！\n",
         "ふにゃんこ丸\t「えい」\n", "ふにゃんこ丸\t「と～！」\n"},
    };
    const uint32_t seed = plainExchangeSeed();
    for (const MatchUp& matchUp : matchUps) {
        SCOPED_TRACE(matchUp.name);
        // A record hp of 0 still fights: the human strikes first, then falls to the answer.
        setContestant(PLAYER_HUMAN, "テスト", 0, 100, 50, 9);
        setContestant(PLAYER_COMPUTER, matchUp.name, 5000, matchUp.attack, matchUp.defense, 9);
        const std::string shown = fight(seed, matchUp.difficulty, 13);
        const std::string firstStrike = "\n\t5!!\n\n>>" + std::string(matchUp.firstCry) +
                                        "\n\t2!!\n\n>>テストさんの先攻です\n\n";
        EXPECT_NE(shown.find(firstStrike), std::string::npos);
        const std::string humanBlow =
            "テストさんの攻撃！！\n\n\tズガン！\n\n" + std::string(matchUp.humanBlow) + ">>";
        EXPECT_NE(shown.find(humanBlow), std::string::npos);
        const std::string computerBlow = std::string(matchUp.name) + "の攻撃！！\n\n" +
                                         matchUp.blowCry + "\n\tズガン！\n\n" +
                                         matchUp.computerBlow + ">>";
        EXPECT_NE(shown.find(computerBlow), std::string::npos);
        EXPECT_EQ(shown.find("ドギャウ"), std::string::npos);
        EXPECT_NE(shown.find("－－－－－－" + std::string(matchUp.name) + "さんの勝利！！"),
                  std::string::npos);
        EXPECT_EQ(g_players[PLAYER_HUMAN].hp, 0);
        EXPECT_EQ(g_players[PLAYER_COMPUTER].hp, 5000);
        EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 9);
    }
}

TEST_F(BattleTest, BothAtZeroHpTheFirstStrikerWinsWithItsFirstBlow) {
    setContestant(PLAYER_HUMAN, "テスト", 0, 100, 50, 4);
    setContestant(PLAYER_COMPUTER, "マサル", 0, 100, 50, 4);
    const std::string shown = fight(plainExchangeSeed(), '1', 12);
    EXPECT_NE(shown.find("200のダメージ！\n>>" + hitPoints("テスト", "マサル", 0, 0) +
                         ">>\n\n－－－－－－テストさんの勝利！！－－－－－－\n\n>>"),
              std::string::npos);
    EXPECT_EQ(shown.find("マサルの攻撃"), std::string::npos);
    EXPECT_EQ(g_players[PLAYER_HUMAN].position, 4);
    EXPECT_LT(g_players[PLAYER_COMPUTER].position, 4);
}

// Records for the heavy blows: human base 30 * 30 / 9 = 100, computer base 50 * 50 / 7 = 357
// (truncated); a heavy blow adds twice the striker's attack.
void setHeavyRecords(int32_t humanHp, int32_t computerHp) {
    setContestant(PLAYER_HUMAN, "テスト", humanHp, 30, 7, 12);
    setContestant(PLAYER_COMPUTER, "マサル", computerHp, 50, 9, 2);
}

TEST_F(BattleTest, HumansOpeningBlowIsHeavyOnZeroModulo23) {
    // Human 5 against 2; extra 19; the heavy draw is an odd multiple of 23, so it is 0 modulo
    // 23 but not modulo 26. Damage 100 + 19 + 60 = 179, more than the 100 hp left. The back
    // die shows 6: the computer goes from square 2 back to START, not below.
    const uint32_t seed = findSeed({{6, 4}, {6, 1}, {20, 19}, {46, 23}, {6, 5}});
    setHeavyRecords(500, 100);
    const std::string expected =
        "テストさんの攻撃！！\n\n\tズガン！\n\n"
        "\tさらにドギャウ！！\n\n"
        "179のダメージ！！！\n>>" +
        hitPoints("テスト", "マサル", 500, 0) + ">>" +
        "\n\n－－－－－－テストさんの勝利！！－－－－－－\n\n>>";
    const std::string shown = fight(seed, '1', 12);
    EXPECT_NE(shown.find(expected), std::string::npos);
    EXPECT_NE(shown.find("\n\t4!!\n\nマサルさん4マス戻ります\n\n>>" + boardThenKey(12, 0)),
              std::string::npos);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 0);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].hp, 100);
}

TEST_F(BattleTest, ComputersHeavyBlowHasOneExclamationMark) {
    // Human 1 against 6; extra 5 and a heavy draw of 0 modulo 26: 357 + 5 + 100 = 462. The
    // back die shows 1.
    const uint32_t seed = findSeed({{6, 0}, {6, 5}, {20, 5}, {26, 0}, {6, 0}});
    setHeavyRecords(462, 100);
    const std::string expected =
        "マサルの攻撃！！\n\nマサル\t「と～！」\n\n\tズガン！\n\n"
        "\tさらにドギャウ！！\n\n"
        "462のダメージ！\n>>" +
        hitPoints("テスト", "マサル", 0, 100) + ">>";
    const std::string shown = fight(seed, '2', 11);
    EXPECT_NE(shown.find(expected), std::string::npos);
    EXPECT_NE(shown.find("テストさん1マス戻ります\n\n>>"), std::string::npos);
    EXPECT_EQ(g_players[PLAYER_HUMAN].position, 11);
    EXPECT_EQ(g_players[PLAYER_HUMAN].hp, 462);
}

TEST_F(BattleTest, OnlyTheHumansOpeningBlowUsesModulo23) {
    {
        SCOPED_TRACE("human strikes first, heavy draw 0 modulo 26 but not 23");
        const uint32_t seed = findSeed({{6, 4}, {6, 1}, {20, 0}, {26, 0}});
        ASSERT_NE(drawAfter(seed, 4) % 23, 0);
        // The computer falls to a plain 100.
        setHeavyRecords(500, 100);
        const std::string shown = fight(seed, '1', 12);
        EXPECT_NE(shown.find("テストさんの攻撃！！\n\n\tズガン！\n\n100のダメージ！\n>>"),
                  std::string::npos);
        EXPECT_EQ(shown.find("ドギャウ"), std::string::npos);
    }
    {
        SCOPED_TRACE("computer strikes first, the human's first blow draws 0 modulo 23");
        // The computer's blow: extra 0, odd draw; the human's: extra 0, an odd multiple of 23.
        const uint32_t seed = findSeed({{6, 0}, {6, 5}, {20, 0}, {2, 1}, {20, 0}, {46, 23}});
        setHeavyRecords(500, 100);
        const std::string shown = fight(seed, '1', 14);
        EXPECT_NE(shown.find("357のダメージ！\n>>" + hitPoints("テスト", "マサル", 143, 100)),
                  std::string::npos);
        EXPECT_NE(shown.find("テストさんの攻撃！！\n\n\tズガン！\n\n100のダメージ！\n>>" +
                             hitPoints("テスト", "マサル", 143, 0)),
                  std::string::npos);
        EXPECT_EQ(shown.find("ドギャウ"), std::string::npos);
    }
}

TEST_F(BattleTest, BackCountIsHalfTheDiePlusOne) {
    // Human 1 against 6; the computer fells the human (hp 0) with a plain blow; then die d.
    const int backCounts[] = {1, 2, 2, 3, 3, 4};
    for (int die = 1; die <= 6; ++die) {
        SCOPED_TRACE(die);
        const uint32_t seed = findSeed({{6, 0}, {6, 5}, {20, 0}, {2, 1}, {6, die - 1}});
        setContestant(PLAYER_HUMAN, "テスト", 0, 100, 50, 10);
        setContestant(PLAYER_COMPUTER, "マサル", 500, 100, 50, 8);
        const int back = backCounts[die - 1];
        const std::string expected =
            "\n\n－－－－－－マサルさんの勝利！！－－－－－－\n\n>>"
            "ダイスを振ってテストさんを戻すマスの数を決めてください！\n"
            "\n\t" +
            std::to_string(back) + "!!\n\nテストさん" + std::to_string(back) +
            "マス戻ります\n\n>>" + boardThenKey(10 - back, 8);
        const std::string shown = fight(seed, '1', 11);
        ASSERT_GE(shown.size(), expected.size());
        EXPECT_EQ(shown.substr(shown.size() - expected.size()), expected);
        EXPECT_EQ(g_players[PLAYER_HUMAN].position, 10 - back);
        EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 8);
    }
}

TEST_F(BattleTest, DefenseZeroDividesByOne) {
    setContestant(PLAYER_HUMAN, "テスト", 5000, 100, 0, 5);
    setContestant(PLAYER_COMPUTER, "マサル", 20000, 100, 0, 5);
    const std::string shown = fight(plainExchangeSeed(), '1', 13);
    EXPECT_NE(shown.find("テストさんの攻撃！！\n\n\tズガン！\n\n10000のダメージ！\n>>" +
                         hitPoints("テスト", "マサル", 5000, 10000)),
              std::string::npos);
    EXPECT_NE(shown.find("マサル\t「くらえっ！」\n\n\tズガン！\n\n10000のダメージ！\n>>" +
                         hitPoints("テスト", "マサル", 0, 10000)),
              std::string::npos);
}

TEST_F(BattleTest, HugeAttacksSaturateInsteadOfOverflowing) {
    {
        SCOPED_TRACE("46341 squared no longer fits; defense 0");
        setContestant(PLAYER_HUMAN, "テスト", 0, 46341, 1, 5);
        setContestant(PLAYER_COMPUTER, "マサル", 2147483647, 100, 0, 5);
        const std::string shown = fight(plainExchangeSeed(), '1', 12);
        EXPECT_NE(shown.find("2147483647のダメージ！\n>>" + hitPoints("テスト", "マサル", 0, 0)),
                  std::string::npos);
    }
    {
        SCOPED_TRACE("the human's heavy opening blow at the largest attack");
        const uint32_t seed = findSeed({{6, 4}, {6, 1}, {20, 19}, {46, 23}});
        setContestant(PLAYER_HUMAN, "テスト", 2147483647, 2147483647, 2147483647, 5);
        setContestant(PLAYER_COMPUTER, "マサル", 2147483647, 2147483647, 0, 5);
        const std::string shown = fight(seed, '1', 12);
        EXPECT_NE(shown.find("2147483647のダメージ！！！\n>>"), std::string::npos);
        EXPECT_EQ(g_players[PLAYER_COMPUTER].hp, 2147483647);
    }
}

}  // namespace
}  // namespace numoteka::testing
