// The dialogue around a game: menu, name, difficulty, rounds, the end texts and the save prompt.
#include "core/game.h"

#include <string>

#include "core/primitives.h"
#include "core/random.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

const std::string OPENING = TITLE + LEGEND + board(2, 2);
const std::string GREETING_NORMAL = "マサル\t「よろしくっ」\n\t･･････強さ：normal\n\n";

std::string turnHeading(const std::string& name, int turn) {
    return "\n" + name + "さんの番です（" + std::to_string(turn) + "ターン目）\n>>";
}

TEST(Dialogue, StartUpThenQuit) {
    EXPECT_EQ(playSession(1, "2\n"), OPENING + MENU + FAREWELL);
}

TEST(Dialogue, WrongKeysAtTheMenuAskAgain) {
    EXPECT_EQ(playSession(1, "x\n9\n2\n"),
              OPENING + MENU + ONE_TO_THREE + MENU + ONE_TO_THREE + MENU + FAREWELL);
}

TEST(Dialogue, EnterAloneAtTheMenuTakesTheNextLinesFirstKey) {
    // The line feed is the (wrong) choice; the dropped key is "x" of the next line, whose "2"
    // is then the next choice.
    EXPECT_EQ(playSession(1, "\nx2\n"), OPENING + MENU + ONE_TO_THREE + MENU + FAREWELL);
}

TEST(Dialogue, SecondKeyAfterOneLeavesAnEmptyNameLine) {
    // "1x": the "x" is dropped and the line feed is read at once as an empty name.
    const std::string shown = playSession(1, "1x\n1\n\n\n3\n2\n");
    EXPECT_EQ(shown, OPENING + MENU + NAME_PROMPT + DIFFICULTY_PROMPT + GREETING_NORMAL + ">>" +
                         GAME_START + turnHeading("名無し", 1) + board(2, 2) + TURN_MENU + MENU +
                         FAREWELL);
}

TEST(Dialogue, WrongDifficultyKeyRepeatsOnlyTheMessage) {
    const std::string shown = playSession(1, "1\nHana\n0\n4\n2\n\n\n3\n2\n");
    EXPECT_EQ(shown,
              OPENING + MENU + NAME_PROMPT + DIFFICULTY_PROMPT + ONE_TO_THREE + ONE_TO_THREE +
                  "ふにゃんこ丸\t「ありぇ？ここどこ？」\n\t･･････強さ：easy\n\n" + ">>" +
                  GAME_START + turnHeading("Hana", 1) + board(2, 2) + TURN_MENU + MENU + FAREWELL);
}

// Plays a name entry and gives up at once; returns what the name prompt loop showed.
std::string nameEntry(const std::string& typedNames, TerminalEncoding encoding) {
    const std::string shown = playSession(1, "1\n" + typedNames + "3\n\n\n3\n2\n", encoding);
    return shown;
}

TEST(Dialogue, NamesOfTenBytesPassAndLongerAreRefused) {
    // Typed on a UTF-8 terminal: five full-width characters are 15 bytes of UTF-8 but 10 of
    // code page 932, so they pass; six do not.
    const std::string shown =
        nameEntry("abcdefghijk\nあいうえおか\nabcdefghij\n", TerminalEncoding::Utf8);
    EXPECT_EQ(shown.find(NAME_PROMPT + NAME_REFUSED + NAME_PROMPT + NAME_REFUSED + NAME_PROMPT +
                         DIFFICULTY_PROMPT),
              OPENING.size() + MENU.size());
    EXPECT_NE(shown.find(turnHeading("abcdefghij", 1)), std::string::npos);

    const std::string fullWidth = nameEntry("あいうえお\n", TerminalEncoding::Utf8);
    EXPECT_NE(fullWidth.find(NAME_PROMPT + DIFFICULTY_PROMPT), std::string::npos);
    EXPECT_NE(fullWidth.find(turnHeading("あいうえお", 1)), std::string::npos);
}

TEST(Dialogue, NamesTypedOnAShiftJisTerminalCountTheSameBytes) {
    const std::string six = cp932("あいうえおか");
    const std::string five = cp932("あいうえお");
    const std::string shown = nameEntry(six + "\n" + five + "\n", TerminalEncoding::ShiftJis);
    const std::string prompt = cp932(NAME_PROMPT.c_str());
    EXPECT_NE(shown.find(prompt + cp932(NAME_REFUSED.c_str()) + prompt +
                         cp932(DIFFICULTY_PROMPT.c_str())),
              std::string::npos);
    EXPECT_NE(shown.find(cp932(turnHeading("あいうえお", 1).c_str())), std::string::npos);
    // Raw code page 932 on the way out: the title as bytes, not UTF-8.
    EXPECT_EQ(shown.substr(0, cp932(TITLE.c_str()).size()), cp932(TITLE.c_str()));
}

TEST(Dialogue, AVeryLongNameLineIsRefusedWhole) {
    const std::string shown = nameEntry(std::string(300, 'N') + "\nok\n", TerminalEncoding::Utf8);
    EXPECT_EQ(
        shown.substr(OPENING.size() + MENU.size()),
        NAME_PROMPT + NAME_REFUSED + NAME_PROMPT + DIFFICULTY_PROMPT +
            "魔王\t「ヌハハハハ！！わしに勝負を挑むとは、バカな奴め！」\n\t･･････強さ：hard\n\n" +
            ">>" + GAME_START + turnHeading("ok", 1) + board(2, 2) + TURN_MENU + MENU + FAREWELL);
}

TEST(Dialogue, StatusAndWrongKeysInTheTurnMenuRedrawTheBoard) {
    const std::string shown = playSession(1, "1\nA\n1\n\n\n2\n\n7\n3\n2\n");
    const std::string status = statusBlock("A", 500, 100, 50, "マサル", 500);
    EXPECT_EQ(shown.substr(shown.find(GAME_START)),
              GAME_START + turnHeading("A", 1) + board(2, 2) + TURN_MENU + status + board(2, 2) +
                  TURN_MENU + ONE_TO_THREE + board(2, 2) + TURN_MENU + MENU + FAREWELL);
}

TEST(Dialogue, GivingUpResetsTheHumanForTheNextGame) {
    // Round 1: the human rolls 1 and the computer 4 (squares without menus); afterwards every key
    // is "3", so the human gives up in round 2 and the menu shows rankings until the input ends.
    const uint32_t seed = findSeed({{6, 0}, {1, 0}, {6, 3}});
    const std::string shown = playSession(seed, "1\nA\n1\n\n\n1\n\n" + std::string(400, '3'));
    EXPECT_NE(shown.find(turnHeading("A", 2)), std::string::npos);
    EXPECT_NE(shown.find(MENU, shown.find(turnHeading("A", 2))), std::string::npos);
    const PlayerRecord& human = g_players[PLAYER_HUMAN];
    EXPECT_EQ(human.hp, 500);
    EXPECT_EQ(human.attack, 100);
    EXPECT_EQ(human.defense, 50);
    EXPECT_EQ(human.position, 0);
    EXPECT_EQ(human.restTurns, 0);
    EXPECT_STREQ(human.name, "A");
}

TEST(Dialogue, EndOfInputAnywhereSaysFarewell) {
    // At the menu, at the name prompt, inside a turn and at a key wait.
    EXPECT_EQ(playSession(1, ""), OPENING + MENU + FAREWELL);
    EXPECT_EQ(playSession(1, "1\nunfinished"), OPENING + MENU + NAME_PROMPT + FAREWELL);
    const std::string inTurn = playSession(1, "1\nA\n1\n\n\n");
    EXPECT_EQ(inTurn.substr(inTurn.size() - TURN_MENU.size() - FAREWELL.size()),
              TURN_MENU + FAREWELL);
    const std::string atWait = playSession(1, "1\nA\n1\n");
    EXPECT_EQ(atWait.substr(atWait.size() - 2 - FAREWELL.size()), ">>" + FAREWELL);
}

class Match : public SceneTest {
protected:
    // The computer of a difficulty on `position`, the human "テスト" on `humanPosition`.
    void setUp(Difficulty difficulty, int32_t humanPosition, int32_t computerPosition,
               int32_t humanRest = 0, int32_t computerRest = 0) {
        setupComputer(difficulty);
        g_players[PLAYER_COMPUTER].position = computerPosition;
        g_players[PLAYER_COMPUTER].restTurns = computerRest;
        g_players[PLAYER_HUMAN].position = humanPosition;
        g_players[PLAYER_HUMAN].restTurns = humanRest;
        screen();
    }
};

TEST_F(Match, HumanReachingTheGoalWinsAtOnceAndIsOfferedASave) {
    struct Case {
        Difficulty difficulty;
        const char* computer;
        const char* words;
    };
    const Case cases[] = {
        {'1', "マサル", "\nマサル\t「くっそー、負けたぜ。強いなお前」\n"},
        {'2', "ふにゃんこ丸", "\nふにゃんこ丸\t「あれれ？まけちゃった～」\n"},
        {'3', "魔王", "\n魔王\t「ムグググ･･････、認めん！！断じて認めんぞッッ！！」\n"},
    };
    for (const Case& c : cases) {
        // From square 25 a roll of 6 overshoots to 31: still the goal.
        seedRandom(findSeed({{6, 5}}));
        setUp(c.difficulty, 25, 3);
        type("\n1\n\n\n\n\n\n\nx\n2\n");
        playMatch(c.difficulty);
        EXPECT_EQ(screen(), turnHeading("テスト", 1) + board(29, 7) + TURN_MENU +
                                "ダイスを振る！！（Enter）--->\n\t6!!\n\n>>" + board(36, 7) +
                                ">>\n\n*************テストさんの勝利！！！*************\n>>" +
                                c.words +
                                ">>\n*************おめでとうございます！！！*************\n>>" +
                                SAVE_PROMPT + ONE_OR_TWO + SAVE_PROMPT)
            << c.difficulty;
        EXPECT_TRUE(allKeysRead());
        EXPECT_EQ(g_players[PLAYER_HUMAN].position, 31);
    }
}

TEST_F(Match, ComputerReachingTheGoalEndsTheGameBeforeTheBattle) {
    struct Case {
        Difficulty difficulty;
        const char* remark;  // the remark of a draw leaving 2 modulo 4
        const char* words;
        const char* name;
    };
    const Case cases[] = {
        {'1', "マサル\t「ふう！いけるぜ！」\n",
         "\nマサル\t「へっへー、またいつでも相手になるぜ！」\n", "マサル"},
        {'2', "ふにゃんこ丸\t「う～ん、いいプレイやね～」\n",
         "\nふにゃんこ丸\t「わーい！！かったよ～」\n", "ふにゃんこ丸"},
        {'3', "魔王「いいか？気を抜いていると･･････フッフッフ」\n",
         "\n魔王\t「フッフッフッフッフ･･････ザコめ！」\n", "魔王"},
    };
    for (const Case& c : cases) {
        // The human sits out round 1; the computer, on 27, rolls 3.
        seedRandom(findSeed({{4, 2}, {6, 2}}));
        setUp(c.difficulty, 0, 27, 1, 0);
        type("\n\n\n\n\n\n\n\n");
        playMatch(c.difficulty);
        const std::string name = c.name;
        EXPECT_EQ(screen(), "テストさんはあと1回休みです\n>>\n\n" + name + "の番です\n>>" +
                                c.remark + "\n>>" + name + "はダイスを振った！\n\n\t3!!\n\n>>" +
                                board(2, 36) + ">>\n\n" + name + "の勝利！！！\n>>" + c.words +
                                ">>\n残念でした！　また遊んでね！\n>>")
            << c.difficulty;
        EXPECT_TRUE(allKeysRead());
        EXPECT_EQ(g_players[PLAYER_HUMAN].restTurns, 0);
    }
}

TEST_F(Match, RestsCountRoundsWithoutShowingTheirTurnNumber) {
    // Both sit out round 1 (the battle follows); the human gives up in round 2 (all keys "3").
    setUp('1', 0, 0, 1, 2);
    type(std::string(400, '3'));
    playMatch('1');
    const std::string shown = screen();
    EXPECT_EQ(shown.rfind("テストさんはあと1回休みです\n>>マサルさんはあと2回休みです\n>>", 0), 0u);
    EXPECT_NE(shown.find(turnHeading("テスト", 2)), std::string::npos);
    EXPECT_EQ(shown.find("1ターン目"), std::string::npos);
    EXPECT_EQ(g_players[PLAYER_COMPUTER].restTurns, 1);
}

TEST_F(Match, EndOfInputAtTheSavePromptEndsTheMatch) {
    seedRandom(findSeed({{6, 0}}));
    setUp('2', 29, 0);
    type("\n1\n\n\n\n\n\n\n");
    EXPECT_THROW(playMatch('2'), InputEnded);
    const std::string shown = screen();
    EXPECT_EQ(shown.substr(shown.size() - SAVE_PROMPT.size()), SAVE_PROMPT);
}

}  // namespace
}  // namespace numoteka::testing
