#include "core/primitives.h"

#include <cstring>
#include <string>
#include <string_view>

#include "console/console.h"

namespace numoteka {

namespace {

double g_delayPauseLength = 10000000.0;

struct Opponent {
    Difficulty difficulty;
    const char* name;
    int32_t hp;
    int32_t attack;
    int32_t defense;
    Format<> greeting;
};

constexpr Opponent OPPONENTS[] = {
    {'1', "マサル", 500, 100, 50, "マサル\t「よろしくっ」\n\t･･････強さ：normal\n\n"},
    {'2', "ふにゃんこ丸", 300, 80, 25,
     "ふにゃんこ丸\t「ありぇ？ここどこ？」\n\t･･････強さ：easy\n\n"},
    {'3', "魔王", 800, 130, 70,
     "魔王\t「ヌハハハハ！！わしに勝負を挑むとは、バカな奴め！」\n\t･･････強さ：hard\n\n"},
};

// Full-width spaces that put a marker above or below square `position` of the board line.
int boardIndent(int32_t position) {
    if (position == 0) {
        return 2;
    }
    if (position >= GOAL_POSITION) {
        return 36;
    }
    return position + 4 > 0 ? position + 4 : 0;
}

void sayIndent(int32_t position) {
    // The widest indent, made once in each language, of cells as wide as a square of the board.
    static std::string widest[LANGUAGE_COUNT];
    static size_t cellBytes[LANGUAGE_COUNT];
    const int language = static_cast<int>(g_language);
    if (widest[language].empty()) {
        // Translators: one cell of the board's indent, as wide as a square of the board's line.
        const std::string cell = toCp932(localized("　"));
        for (int i = boardIndent(GOAL_POSITION); i > 0; --i) {
            widest[language] += cell;
        }
        cellBytes[language] = cell.size();
    }
    writeText(std::string_view(widest[language])
                  .substr(0, cellBytes[language] * static_cast<size_t>(boardIndent(position))));
}

}  // namespace

void delayPause() {
    // What was written shows before the pause, not with the next prompt.
    flushOutput();
    waiting(Wait::PAUSE);
    // The pause is the counting itself, so the counter must not be optimised away.
    volatile int count = 1;
    while (static_cast<double>(count) < g_delayPauseLength) {
        count = count + 1;
    }
}

void setDelayPauseLength(double counts) {
    g_delayPauseLength = counts;
}

void waitKey() {
    say(">>");
    readByte();
}

unsigned char readChoice() {
    const unsigned char choice = readByte(Awaited::CHOICE);
    readByte(Awaited::CHOICE);
    return choice;
}

void awaitRoll(int player) {
    if (player == PLAYER_HUMAN) {
        say("（Enter）--->");
        readByte();
    } else {
        delayPause();
        delayPause();
        say("\n");
    }
}

void showStatus() {
    const PlayerRecord& human = g_players[PLAYER_HUMAN];
    const PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    say("\n\n―*ステータス*―\n\t名前：\t\t%s\n\tＨＰ：\t\t%d\n\t攻撃力：\t%d\n\t防御力：\t%d\n\n",
        human.name, human.hp, human.attack, human.defense);
    say("―*ステータス*―\n\t名前：\t\t%s\n\tＨＰ：\t\t%d\n\n\n", computer.name, computer.hp);
    waitKey();
}

void showBoard() {
    say("\n");
    sayIndent(g_players[PLAYER_HUMAN].position);
    say("プ\n");
    // Translators: the markers stand over and under their squares: " [START]" is four cells of
    // the indent wide, each bar and square one, and a marker stands in the first of its square.
    say(" [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n");
    sayIndent(g_players[PLAYER_COMPUTER].position);
    say("コ\n\n");
}

void setupComputer(Difficulty difficulty) {
    PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    computer.restTurns = 0;
    computer.position = 0;
    for (const Opponent& opponent : OPPONENTS) {
        if (opponent.difficulty != difficulty) {
            continue;
        }
        const std::string name = toCp932(localized(opponent.name));
        std::memcpy(computer.name, name.c_str(), name.size() + 1);
        computer.hp = opponent.hp;
        computer.attack = opponent.attack;
        computer.defense = opponent.defense;
        say(opponent.greeting);
    }
}

}  // namespace numoteka
