// The events of the squares 1 to 29, for either contestant.
#include "board/squares.h"

#include <cstdint>
#include <limits>
#include <string>

#include "core/random.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

constexpr int32_t MAX_STAT = std::numeric_limits<int32_t>::max();

std::string keys(int count) {
    return std::string(count, '\n');
}

// The status display with the fixture's names, ending in the ">>" of its key wait.
std::string statusText(int32_t hp, int32_t attack, int32_t defense, int32_t computerHp) {
    return statusBlock("テスト", hp, attack, defense, "マサル", computerHp);
}

// The board with each marker after the given number of full-width spaces.
std::string boardText(int humanSpaces, int computerSpaces) {
    std::string text = "\n";
    for (int i = 0; i < humanSpaces; ++i) {
        text += "　";
    }
    text += "プ\n [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n";
    for (int i = 0; i < computerSpaces; ++i) {
        text += "　";
    }
    return text + "コ\n\n";
}

class SquareTest : public SceneTest {
protected:
    // Puts the mover on `position` and plays the square with the generator seeded by `seed`.
    void play(int player, int32_t position, uint32_t seed, int keyCount) {
        seed_ = seed;
        g_players[player].position = position;
        seedRandom(seed);
        type(keys(keyCount));
        runSquareEvent(player, '1');
    }

    // The event took exactly `count` draws: the next one is draw count + 1 of the seed.
    void expectDrawsTaken(int count) {
        EXPECT_EQ(numoteka::rand(), drawAfter(seed_, count + 1));
    }

    static void expectStats(int player, int32_t hp, int32_t attack, int32_t defense) {
        const PlayerRecord& record = g_players[player];
        EXPECT_EQ(record.hp, hp);
        EXPECT_EQ(record.attack, attack);
        EXPECT_EQ(record.defense, defense);
    }

    uint32_t seed_ = 0;
};

using SquareLayout = SquareTest;
using SquareFixedEvents = SquareTest;
using SquareTwoWayEvents = SquareTest;
using SquareDice = SquareTest;
using SquareMovesBack = SquareTest;
using SquareEqualiser = SquareTest;
using SquareLimits = SquareTest;

// --- which event each square carries ---

TEST_F(SquareLayout, EachSquareOpensWithItsEventsFirstText) {
    // A first draw that is 1 modulo 2, 5 and 8 (the second outcome of each random square),
    // 1 modulo 3 and 1 modulo 6 (a die of 2).
    const uint32_t seed = findSeed({{120, 1}});
    const char* const opening[30] = {
        nullptr,
        "―「始めの一歩」マス！―\n",
        "テストさんはふと故郷に帰りたくなった\n",
        "ゲームをやった！面白い！もっとやろっと\n",
        "重力10倍の修行！！\n",
        "―「チャンスorダイ」マス！！―\n",
        "―ゲームマス！―\n",
        "ズガン！\n",
        "やる気満々！もう一回ダイスを振る！",
        "何もない一日だった･･････\n",
        "―「チャンスorダイ」マス！！―\n",
        "転んだ\n",
        "どどどどどどどどどどどどどどどど！！\n",
        "ズガン！\n",
        "カレーを食べた！\n",
        "―「チャンスorダイ」マス！！―\n",
        "―ゲームマス！―\n",
        "達人の薬を手に入れた！\n",
        "やる気満々！もう一回ダイスを振る！",
        "鋼鉄のよろいを手に入れた！\n",
        "―「チャンスorダイ」マス！！―\n",
        "神が現れた！\n神\t「お前はけいけんな優れた信者じゃ！ ほうびをやろう」\n",
        "テストさんはふと故郷に帰りたくなった\n",
        "どどどどどどどどどどどどどどどど！！\n",
        "わりといい事が起きた！\n",
        "―「チャンスorダイ」マス！！―\n",
        "―ゲームマス！―\n",
        "手紙が落ちていた\n",
        "（あー、つくるのあきた）\n",
        "―「ゴール直前」マス！―\n",
    };
    for (int32_t square = 1; square <= 29; ++square) {
        SCOPED_TRACE("square " + std::to_string(square));
        setContestant(PLAYER_HUMAN, "テスト", 500, 100, 50);
        setContestant(PLAYER_COMPUTER, "マサル", 500, 100, 50);
        try {
            // Plenty of keys; a mini-game may still ask for more than are typed.
            play(PLAYER_HUMAN, square, seed, 40);
        } catch (const InputEnded&) {
        }
        const std::string shown = screen();
        const std::string expected = opening[square];
        EXPECT_EQ(shown.substr(0, expected.size()), expected);
    }
}

TEST_F(SquareLayout, PositionsOffTheBoardHaveNoEvent) {
    for (const int32_t position : {0, -1, 30, 35}) {
        SCOPED_TRACE("position " + std::to_string(position));
        setContestant(PLAYER_COMPUTER, "マサル", 500, 100, 50, 0, 0);
        play(PLAYER_COMPUTER, position, 7, 0);
        EXPECT_EQ(screen(), "");
        expectStats(PLAYER_COMPUTER, 500, 100, 50);
        EXPECT_EQ(g_players[PLAYER_COMPUTER].position, position);
        EXPECT_EQ(g_players[PLAYER_COMPUTER].restTurns, 0);
        expectDrawsTaken(0);
    }
}

TEST_F(SquareLayout, GameSquareDrawsOnceAndStartsTheChosenGame) {
    const char* const gameHeadings[3] = {"\nじゃんけんゲーム！！\n", "\nスロットゲーム！！\n",
                                         "\nハイ＆ローゲーム！！\n"};
    const int32_t squares[3] = {6, 16, 26};
    for (int choice = 0; choice < 3; ++choice) {
        for (const int player : {PLAYER_HUMAN, PLAYER_COMPUTER}) {
            SCOPED_TRACE("choice " + std::to_string(choice) + ", player " + std::to_string(player));
            // No keys typed: each game stops at its first key wait, before drawing.
            try {
                play(player, squares[choice], findSeed({{3, choice}}), 0);
            } catch (const InputEnded&) {
            }
            const std::string shown = screen();
            const std::string heading = "―ゲームマス！―\n";
            ASSERT_EQ(shown.substr(0, heading.size()), heading);
            const std::string rest = shown.substr(heading.size());
            EXPECT_TRUE(rest.empty() || rest == std::string(gameHeadings[choice]) + ">>") << rest;
            expectDrawsTaken(1);
        }
    }
}

// --- squares without a random choice ---

TEST_F(SquareFixedEvents, FirstStepAddsToAllThree) {
    play(PLAYER_HUMAN, 1, 1, 3);
    EXPECT_EQ(screen(),
              "―「始めの一歩」マス！―\n>>1を出しちゃった君にプレゼント！！\n"
              "HP\t+100\n攻撃力\t+10\n防御力\t+5\n>>" +
                  statusText(600, 110, 55, 500));
    expectStats(PLAYER_HUMAN, 600, 110, 55);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareFixedEvents, GravityTrainingScalesByOnePointOne) {
    setContestant(PLAYER_HUMAN, "テスト", 25, 100, 50);
    play(PLAYER_HUMAN, 4, 1, 2);
    EXPECT_EQ(screen(), "重力10倍の修行！！\nHP、攻撃力、防御力10%アップ！！\n>>" +
                            statusText(27, 110, 55, 500));
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareFixedEvents, StumblingAsksTwelveKeysBeforeTheStatus) {
    std::string expected = "転んだ\n>>";
    for (int i = 0; i < 10; ++i) {
        expected += "また転んだ\n>>";
    }
    expected +=
        "転びまくったおかげで体中にかさぶたが！！！\n数日後..."
        "完治した皮膚は何倍もの厚みになっていた！！防御力アップ！！\n防御力 +10\n>>";
    play(PLAYER_HUMAN, 11, 1, 13);
    EXPECT_EQ(screen(), expected + statusText(500, 100, 60, 500));
    EXPECT_TRUE(allKeysRead());

    // The computer's stumbling waits for the same thirteen keys; twelve are not enough.
    play(PLAYER_COMPUTER, 11, 1, 13);
    EXPECT_EQ(screen(), expected + statusText(500, 100, 60, 500));
    EXPECT_TRUE(allKeysRead());
    EXPECT_THROW(play(PLAYER_COMPUTER, 11, 1, 12), InputEnded);
    EXPECT_EQ(screen(), expected + statusText(500, 100, 60, 500));
    EXPECT_EQ(g_players[PLAYER_COMPUTER].defense, 70);
}

TEST_F(SquareFixedEvents, CurryAddsEightyHp) {
    play(PLAYER_COMPUTER, 14, 1, 2);
    EXPECT_EQ(screen(), "カレーを食べた！\nHP +80\n>>" + statusText(500, 100, 50, 580));
    expectStats(PLAYER_COMPUTER, 580, 100, 50);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareFixedEvents, DivineRewardScalesByOnePointOneFive) {
    setContestant(PLAYER_HUMAN, "テスト", 800, 100, 50);
    play(PLAYER_HUMAN, 21, 1, 3);
    EXPECT_EQ(screen(),
              "神が現れた！\n神\t「お前はけいけんな優れた信者じゃ！ ほうびをやろう」\n>>"
              "能力を上げてくれた！　HP、攻撃力、防御力15%アップ！！\n>>" +
                  statusText(919, 114, 57, 500));
    EXPECT_TRUE(allKeysRead());

    play(PLAYER_COMPUTER, 21, 1, 3);
    expectStats(PLAYER_COMPUTER, 575, 114, 57);
}

// --- squares that choose between two outcomes ---

TEST_F(SquareTwoWayEvents, HomesickRestsAndNamesTheMover) {
    setContestant(PLAYER_COMPUTER, "マサル", 500, 100, 50, 0, 1);
    play(PLAYER_COMPUTER, 2, findSeed({{2, 1}}), 1);
    EXPECT_EQ(screen(), "マサルさんはふと故郷に帰りたくなった\n一回休み\n>>");
    EXPECT_EQ(g_players[PLAYER_COMPUTER].restTurns, 2);
    expectStats(PLAYER_COMPUTER, 500, 100, 50);
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(1);
}

TEST_F(SquareTwoWayEvents, ShadowBoxingAddsAttack) {
    play(PLAYER_HUMAN, 22, findSeed({{2, 0}}), 2);
    EXPECT_EQ(screen(),
              "シャドウボクシングをしてみた！\n攻撃力\t+15\n>>" + statusText(500, 115, 50, 500));
    EXPECT_EQ(g_players[PLAYER_HUMAN].restTurns, 0);
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(1);
}

TEST_F(SquareTwoWayEvents, VideoGameRestsAndGainsYawnDoesNothing) {
    play(PLAYER_HUMAN, 3, findSeed({{2, 1}}), 2);
    EXPECT_EQ(
        screen(),
        "ゲームをやった！面白い！もっとやろっと\n一回休み\n\nHP\t+40\n攻撃力\t+4\n防御力\t+2\n>>" +
            statusText(540, 104, 52, 500));
    EXPECT_EQ(g_players[PLAYER_HUMAN].restTurns, 1);
    EXPECT_TRUE(allKeysRead());

    play(PLAYER_HUMAN, 3, findSeed({{2, 0}}), 1);
    EXPECT_EQ(screen(), "あくびがでた　ふあーー\nとくになし！\n>>");
    expectStats(PLAYER_HUMAN, 540, 104, 52);
    EXPECT_EQ(g_players[PLAYER_HUMAN].restTurns, 1);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareTwoWayEvents, TimberFloorsHpAtZero) {
    for (const int32_t hp : {15, 20}) {
        setContestant(PLAYER_HUMAN, "テスト", hp, 100, 50);
        play(PLAYER_HUMAN, 7, findSeed({{2, 1}}), 2);
        EXPECT_EQ(screen(),
                  "ズガン！\n木材が降ってきた！\nHP -20\n>>" + statusText(0, 100, 50, 500));
        EXPECT_TRUE(allKeysRead());
    }
}

TEST_F(SquareTwoWayEvents, CatGivesAttack) {
    play(PLAYER_COMPUTER, 13, findSeed({{2, 0}}), 2);
    EXPECT_EQ(screen(),
              "にゃー  猫が現れた！\n猫\t「ほれ！これやるよ」\nコ･･･コレは！\n"
              "筋肉増強剤だった！\n攻撃力 +20\n>>" +
                  statusText(500, 100, 50, 500));
    expectStats(PLAYER_COMPUTER, 500, 120, 50);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareTwoWayEvents, PigsFloorHpAtZero) {
    setContestant(PLAYER_HUMAN, "テスト", 40, 100, 50);
    play(PLAYER_HUMAN, 12, findSeed({{2, 1}}), 2);
    EXPECT_EQ(screen(),
              "どどどどどどどどどどどどどどどど！！\n豚の大群だ！\nぐしゃ\nぐしゃ\nHP -40\n>>" +
                  statusText(0, 100, 50, 500));
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareTwoWayEvents, PunishmentScalesByNineTenths) {
    play(PLAYER_HUMAN, 23, findSeed({{2, 0}}), 3);
    EXPECT_EQ(screen(),
              "神が現れた！\n神\t「天罰じゃ！」\n>>"
              "能力を下げられた！　HP、攻撃力、防御力10%ダウン！！\n>>" +
                  statusText(450, 90, 45, 500));
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareTwoWayEvents, GenuineMedicine) {
    play(PLAYER_HUMAN, 17, findSeed({{5, 0}}), 3);
    EXPECT_EQ(screen(),
              "達人の薬を手に入れた！\n･･････なんと！  本物だった！！！！\n能力値大幅アップ！>>"
              "HP\t+200\n攻撃力\t+44\n防御力\t+22\n>>" +
                  statusText(700, 144, 72, 500));
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(1);
}

TEST_F(SquareTwoWayEvents, FakeMedicineFloorsHpAndDefense) {
    setContestant(PLAYER_HUMAN, "テスト", 25, 100, 1);
    play(PLAYER_HUMAN, 17, findSeed({{5, 4}}), 3);
    EXPECT_EQ(screen(),
              "達人の薬を手に入れた！\n･･････なんと！  パチもんだった･･････\n>>"
              "HP\t-30\n攻撃力\t+6\n防御力\t-2\n>>" +
                  statusText(0, 106, 0, 500));
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareTwoWayEvents, SteelSwordOrArmour) {
    play(PLAYER_HUMAN, 19, findSeed({{2, 0}}), 2);
    EXPECT_EQ(screen(),
              "鋼鉄のつるぎを手に入れた！\n攻撃力 +35\n>>" + statusText(500, 135, 50, 500));
    play(PLAYER_HUMAN, 19, findSeed({{2, 1}}), 2);
    EXPECT_EQ(screen(),
              "鋼鉄のよろいを手に入れた！\n防御力 +35\n>>" + statusText(500, 135, 85, 500));
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareTwoWayEvents, LuckAddsFiftyHp) {
    play(PLAYER_COMPUTER, 24, findSeed({{8, 7}}), 2);
    EXPECT_EQ(screen(), "わりといい事が起きた！\nHP +50\n>>" + statusText(500, 100, 50, 550));
    expectStats(PLAYER_HUMAN, 500, 100, 50);
    EXPECT_TRUE(allKeysRead());
}

// --- the mover's own dice ---

TEST_F(SquareDice, ChanceEvenForTheHuman) {
    play(PLAYER_HUMAN, 5, findSeed({{6, 1}}), 5);
    EXPECT_EQ(
        screen(),
        "―「チャンスorダイ」マス！！―\n>>ダイスの目が偶数ならとってもイイ事が！奇数なら･･･\n>>"
        "ダイスを振ってください（Enter）--->\n\t2!!\n\n>>"
        "偶数！\n\tHP、攻撃力、防御力30%アップ！！\n" +
            statusText(650, 130, 65, 500));
    EXPECT_EQ(g_players[PLAYER_HUMAN].restTurns, 0);
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(1);
}

TEST_F(SquareDice, ChanceOddForTheComputerRestsWithoutAKeyForTheDie) {
    setContestant(PLAYER_COMPUTER, "マサル", 20, 100, 50);
    play(PLAYER_COMPUTER, 25, findSeed({{6, 4}}), 4);
    EXPECT_EQ(
        screen(),
        "―「チャンスorダイ」マス！！―\n>>ダイスの目が偶数ならとってもイイ事が！奇数なら･･･\n>>"
        "ダイスを振ってください\n\t5!!\n\n>>"
        "奇数！\n\tHP、攻撃力、防御力15%ダウン･･･\n\tさらに一回休み！\n" +
            statusText(500, 100, 50, 17));
    expectStats(PLAYER_COMPUTER, 17, 85, 42);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].restTurns, 1);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareDice, ExtraRollFromEightPlaysChanceOnTen) {
    // Dice 2 and then 4.
    const uint32_t seed = findSeed({{6, 1}, {6, 3}});
    const std::string chance =
        "―「チャンスorダイ」マス！！―\n>>ダイスの目が偶数ならとってもイイ事が！奇数なら･･･\n>>"
        "ダイスを振ってください";
    const std::string evenEnd = "\n\t4!!\n\n>>偶数！\n\tHP、攻撃力、防御力30%アップ！！\n";

    play(PLAYER_HUMAN, 8, seed, 8);
    EXPECT_EQ(screen(), "やる気満々！もう一回ダイスを振る！（Enter）--->\n\t2!!\n\n>>" +
                            boardText(14, 2) + ">>" + chance + "（Enter）--->" + evenEnd +
                            statusText(650, 130, 65, 500));
    EXPECT_EQ(g_players[PLAYER_HUMAN].position, 10);
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(2);

    // The computer reads no key at either die.
    play(PLAYER_COMPUTER, 8, seed, 6);
    EXPECT_EQ(screen(), "やる気満々！もう一回ダイスを振る！\n\n\t2!!\n\n>>" + boardText(14, 14) +
                            ">>" + chance + evenEnd + statusText(650, 130, 65, 650));
    EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 10);
    expectStats(PLAYER_COMPUTER, 650, 130, 65);
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(2);
}

// --- squares that send the mover back without an event ---

TEST_F(SquareMovesBack, LetterFromTheMaker) {
    play(PLAYER_HUMAN, 27, findSeed({{2, 1}}), 1);
    EXPECT_EQ(screen(),
              "手紙が落ちていた\n\t「もうすぐゴール！がんばれ！！  ...製作者より」\n\n>>");
    EXPECT_EQ(g_players[PLAYER_HUMAN].position, 27);
    expectStats(PLAYER_HUMAN, 500, 100, 50);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(SquareMovesBack, LetterPenaltyEndsOnTwentyOne) {
    play(PLAYER_HUMAN, 27, findSeed({{2, 0}}), 3);
    EXPECT_EQ(screen(),
              "手紙が落ちていた\n\t「もうすぐゴール！がんばれ！！  ...なんつってな！！\n"
              "\t ステータス20%ダウン！さらに6マス戻る！！」\n>>" +
                  statusText(400, 80, 40, 500) + boardText(25, 2) + ">>");
    EXPECT_EQ(g_players[PLAYER_HUMAN].position, 21);
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(1);
}

TEST_F(SquareMovesBack, GoalFrontEndsOnNineteen) {
    g_players[PLAYER_HUMAN].position = 3;
    play(PLAYER_COMPUTER, 29, 1, 3);
    EXPECT_EQ(screen(),
              "―「ゴール直前」マス！―\n>>いやな予感してるでしょ？正解～\n10マス戻る！！\n>>" +
                  boardText(7, 23) + ">>");
    EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 19);
    EXPECT_TRUE(allKeysRead());
    expectDrawsTaken(0);
}

// --- the equaliser of square 24 ---

TEST_F(SquareEqualiser, ComputerTriggersItForBoth) {
    setContestant(PLAYER_HUMAN, "テスト", 600, 130, 60, 9);
    setContestant(PLAYER_COMPUTER, "マサル", 301, 100, 51);
    play(PLAYER_COMPUTER, 24, findSeed({{8, 0}}), 4);
    EXPECT_EQ(screen(), "ドン！！！\n>>社会主義国家成立！！！　能力が分配、均等化されます！\n>>" +
                            statusText(450, 115, 55, 450) + "さらに！　同じ場所に集合！\n" +
                            boardText(20, 20) + ">>");
    for (const int player : {PLAYER_HUMAN, PLAYER_COMPUTER}) {
        expectStats(player, 450, 115, 55);
        EXPECT_EQ(g_players[player].position, 16);
    }
    EXPECT_TRUE(allKeysRead());
    // Square 16 would have drawn for its game.
    expectDrawsTaken(1);
}

TEST_F(SquareEqualiser, AveragesOfHugeValuesDoNotOverflow) {
    setContestant(PLAYER_HUMAN, "テスト", MAX_STAT, MAX_STAT, -5, 24);
    setContestant(PLAYER_COMPUTER, "マサル", MAX_STAT - 2, 1, 0, 3);
    play(PLAYER_HUMAN, 24, findSeed({{8, 0}}), 4);
    expectStats(PLAYER_HUMAN, MAX_STAT - 1, MAX_STAT / 2 + 1, -2);
    expectStats(PLAYER_COMPUTER, MAX_STAT - 1, MAX_STAT / 2 + 1, -2);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].position, 13);
}

// --- scaling and the 32-bit limits ---

TEST_F(SquareLimits, AdditionsSaturate) {
    setContestant(PLAYER_HUMAN, "テスト", 2147483600, MAX_STAT - 5, 50);
    play(PLAYER_HUMAN, 1, 1, 3);
    expectStats(PLAYER_HUMAN, MAX_STAT, MAX_STAT, 55);
}

TEST_F(SquareLimits, ScalingsSaturate) {
    setContestant(PLAYER_COMPUTER, "マサル", 2000000000, MAX_STAT, 1000);
    play(PLAYER_COMPUTER, 20, findSeed({{6, 5}}), 4);
    expectStats(PLAYER_COMPUTER, MAX_STAT, MAX_STAT, 1300);
}

}  // namespace
}  // namespace numoteka::testing
