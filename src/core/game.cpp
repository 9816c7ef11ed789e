#include "core/game.h"

#include <cstring>
#include <string>

#include "console/console.h"
#include "contests/battle.h"
#include "core/players.h"
#include "core/primitives.h"
#include "core/random.h"
#include "core/turns.h"
#include "records/ranking.h"

namespace numoteka {

namespace {

constexpr size_t NAME_LIMIT = 10;  // bytes of code page 932

// The rounds of the current game: 0 before it, at the menu.
int32_t g_turnCount = 0;

struct ClosingWords {
    Format<const char*> afterHumanWin;
    Format<const char*> afterComputerWin;
};

// The opponent's last words, by difficulty ('1' to '3').
constexpr ClosingWords CLOSING_WORDS[3] = {
    {"\n%s\t「くっそー、負けたぜ。強いなお前」\n",
     "\n%s\t「へっへー、またいつでも相手になるぜ！」\n"},
    {"\n%s\t「あれれ？まけちゃった～」\n", "\n%s\t「わーい！！かったよ～」\n"},
    {"\n%s\t「ムグググ･･････、認めん！！断じて認めんぞッッ！！」\n",
     "\n%s\t「フッフッフッフッフ･･････ザコめ！」\n"},
};

void sayFarewell() {
    say("ゲームを終了します\n\n\n");
    say("////////////////////////////////////////////////////////////////////////////\n\n\n");
}

void resetHuman() {
    PlayerRecord& human = g_players[PLAYER_HUMAN];
    human.hp = 500;
    human.attack = 100;
    human.defense = 50;
    human.restTurns = 0;
    human.position = 0;
}

void enterName() {
    char(&name)[sizeof PlayerRecord::name] = g_players[PLAYER_HUMAN].name;
    for (;;) {
        say("プレイヤーの名前を入力してください（半角10字以内）\n--->");
        // The line feed is consumed, not stored; bytes beyond what the field holds are dropped.
        readLine(name, sizeof name);
        if (name[0] == '\0') {
            const std::string nameless = toCp932(localized("名無し"));
            std::memcpy(name, nameless.c_str(), nameless.size() + 1);
        }
        if (std::strlen(name) <= NAME_LIMIT) {
            return;
        }
        say("半角10字以内で入力してください\n");
    }
}

Difficulty chooseDifficulty() {
    say("コンピュータの強さを設定してください･･･1.normal 2.easy 3.hard\n--->");
    for (;;) {
        const unsigned char choice = readChoice();
        if (choice >= '1' && choice <= '3') {
            return static_cast<Difficulty>(choice);
        }
        say("1～3を入力してください\n\n");
    }
}

void offerSave(Difficulty difficulty, int32_t turnCount) {
    for (;;) {
        say("今回のデータをセーブしますか？　1.セーブする　2.しない\n");
        const unsigned char answer = readChoice();
        if (answer == '1') {
            saveRecord(difficulty, turnCount);
            return;
        }
        if (answer == '2') {
            return;
        }
        say("1か2を入力してください\n\n");
    }
}

void endWithHumanWin(Difficulty difficulty, int32_t turnCount) {
    say("\n\n*************%sさんの勝利！！！*************\n", g_players[PLAYER_HUMAN].name);
    waitKey();
    if (const int index = difficultyIndex(difficulty); index >= 0) {
        say(CLOSING_WORDS[index].afterHumanWin, g_players[PLAYER_COMPUTER].name);
    }
    waitKey();
    say("\n*************おめでとうございます！！！*************\n");
    waitKey();
    offerSave(difficulty, turnCount);
}

void endWithComputerWin(Difficulty difficulty) {
    say("\n\n%sの勝利！！！\n", g_players[PLAYER_COMPUTER].name);
    waitKey();
    if (const int index = difficultyIndex(difficulty); index >= 0) {
        say(CLOSING_WORDS[index].afterComputerWin, g_players[PLAYER_COMPUTER].name);
    }
    waitKey();
    say("\n残念でした！　また遊んでね！\n");
    waitKey();
}

// Rounds until a contestant reaches the goal or the human gives up. Returns the rounds played.
int32_t playRounds(Difficulty difficulty) {
    PlayerRecord& human = g_players[PLAYER_HUMAN];
    PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    for (int32_t turnCount = 1;; ++turnCount) {
        g_turnCount = turnCount;
        turnBegins();
        int gaveUp = 0;
        if (human.restTurns != 0) {
            sayCount("%sさんはあと%d回休みです\n", human.restTurns, human.name, human.restTurns);
            waitKey();
            --human.restTurns;
        } else {
            gaveUp = humanTurn(turnCount, difficulty);
        }
        if (human.position >= GOAL_POSITION || gaveUp != 0) {
            return turnCount;
        }
        if (computer.restTurns != 0) {
            sayCount("%sさんはあと%d回休みです\n", computer.restTurns, computer.name,
                     computer.restTurns);
            waitKey();
            --computer.restTurns;
        } else {
            computerTurn(difficulty);
        }
        if (computer.position >= GOAL_POSITION) {
            return turnCount;
        }
        runBattle(difficulty);
    }
}

}  // namespace

MatchEnd playMatch(Difficulty difficulty) {
    const int32_t turnCount = playRounds(difficulty);
    if (g_players[PLAYER_HUMAN].position >= GOAL_POSITION) {
        endWithHumanWin(difficulty, turnCount);
        return {difficulty, turnCount, Outcome::HUMAN_WON};
    }
    if (g_players[PLAYER_COMPUTER].position >= GOAL_POSITION) {
        endWithComputerWin(difficulty);
        return {difficulty, turnCount, Outcome::COMPUTER_WON};
    }
    return {difficulty, turnCount, Outcome::GAVE_UP};
}

namespace {

MatchEnd playOneGame(void (*gameBegun)(Difficulty difficulty)) {
    enterName();
    const Difficulty difficulty = chooseDifficulty();
    setupComputer(difficulty);
    waitKey();
    say("ゲーム開始！！\n\n");
    if (gameBegun != nullptr) {
        gameBegun(difficulty);
    }
    return playMatch(difficulty);
}

// The main menu, until the user quits.
void runMenu(void (*gameEnded)(const MatchEnd& end), void (*gameBegun)(Difficulty difficulty)) {
    for (;;) {
        resetHuman();
        g_turnCount = 0;
        for (;;) {
            say("\n◆メニュー◆\n\n");
            say("1.ゲームを始める 　2.ゲームをやめる　3.ランキングを見る\n");
            const unsigned char choice = readChoice();
            if (choice == '1') {
                break;
            }
            if (choice == '2') {
                sayFarewell();
                return;
            }
            if (choice == '3') {
                showRanking();
            } else {
                say("1～3を入力してください\n\n");
            }
        }
        const MatchEnd end = playOneGame(gameBegun);
        if (gameEnded != nullptr) {
            gameEnded(end);
        }
    }
}

}  // namespace

int32_t currentTurnCount() {
    return g_turnCount;
}

int runGame(uint32_t seed, void (*gameEnded)(const MatchEnd& end),
            void (*gameBegun)(Difficulty difficulty)) {
    seedRandom(seed);
    g_players[PLAYER_HUMAN] = PlayerRecord{};
    g_players[PLAYER_COMPUTER] = PlayerRecord{};
    try {
        say("\n＊◆＊□＊戦え！ぬもてかゲーム＊■＊◇＊\n\n\n");
        say("プ･･･プレイヤー\nコ･･･コンピュータ\n\n");
        showBoard();
        runMenu(gameEnded, gameBegun);
    } catch (const InputEnded&) {
        // The input is gone, so no answer can come: leave as the menu's quit does.
        sayFarewell();
    }
    flushOutput();
    return 0;
}

}  // namespace numoteka
