#include "console/console.h"
#include "contests/minigames.h"
#include "core/primitives.h"
#include "core/random.h"
#include "core/stats.h"

namespace numoteka {

namespace {

// Hands as the menu numbers them: 1 グー, 2 チョキ, 3 パー.
constexpr int ROCK = 1;
constexpr int SCISSORS = 2;
constexpr int PAPER = 3;

enum class Outcome { DRAW, HUMAN_WINS, COMPUTER_WINS };

// The hand that `hand` beats, and the hand that beats it.
int loserTo(int hand) {
    return hand == ROCK ? SCISSORS : hand == SCISSORS ? PAPER : ROCK;
}

int winnerOver(int hand) {
    return hand == ROCK ? PAPER : hand == SCISSORS ? ROCK : SCISSORS;
}

// Texts of each hand, indexed by hand - 1: the human's column at normal and hard, the
// computer's hand word, and the easy line, where the computer always shows the hand that loses.
// Translators: each hand stands under its player's name, which begins in column 16 and 40.
constexpr Format<> HUMAN_COLUMNS[3] = {"\t\t　　グー！　　\t\t　　", "\t\t　　チョキ！　\t\t　　",
                                       "\t\t　　パー！　　\t\t　　"};
constexpr Format<> HAND_WORDS[3] = {"グー！\n\n", "チョキ！\n\n", "パー！\n\n"};
// Translators: as in the columns above, each hand under its player's name.
constexpr Format<> EASY_LINES[3] = {"\t\t　　グー！　　\t\t　　チョキ！\n",
                                    "\t\t　　チョキ！　\t\t　　パー！\n",
                                    "\t\t　　パー！　　\t\t　　グー！\n"};

void showMenu(int player) {
    const PlayerRecord& first = g_players[player == PLAYER_HUMAN ? PLAYER_HUMAN : PLAYER_COMPUTER];
    const PlayerRecord& second = g_players[player == PLAYER_HUMAN ? PLAYER_COMPUTER : PLAYER_HUMAN];
    say("\nじゃんけんゲーム！！\n");
    waitKey();
    while (!chooseToStart()) {
        say("－説明－\n%sさんと%sさんがジャンケン対決！！\n", first.name, second.name);
        say("勝ったほうが負けたほうのステータスの30%%を奪えちゃいます！\n");
        waitKey();
    }
}

int readHand() {
    for (;;) {
        say("1.グー　2.チョキ　3.パー\n");
        const unsigned char choice = readChoice();
        if (choice >= '1' && choice <= '3') {
            return choice - '0';
        }
        say("1～3を入力してください\n\n");
    }
}

// Shows both hands and decides the throw. Easy draws nothing; normal and hard draw once.
Outcome throwHands(int hand, Difficulty difficulty) {
    if (difficulty == '2') {
        say(EASY_LINES[hand - 1]);
        return Outcome::HUMAN_WINS;
    }
    Outcome outcome;
    if (difficulty == '1') {
        const int k = rand() % 3;
        outcome = k == 0 ? Outcome::DRAW : k == 1 ? Outcome::HUMAN_WINS : Outcome::COMPUTER_WINS;
    } else {
        const int k = rand() % 16;
        outcome = k <= 2 ? Outcome::DRAW : k == 3 ? Outcome::HUMAN_WINS : Outcome::COMPUTER_WINS;
    }
    say(HUMAN_COLUMNS[hand - 1]);
    if (outcome == Outcome::DRAW) {
        say(HAND_WORDS[hand - 1]);
    } else if (outcome == Outcome::HUMAN_WINS) {
        say(HAND_WORDS[loserTo(hand) - 1]);
    } else {
        say(HAND_WORDS[winnerOver(hand) - 1]);
    }
    return outcome;
}

// The winner's stat plus 30 % of the loser's: the product is rounded to a double before the
// sum, and only the sum is truncated.
int32_t withGain(int32_t winnerStat, int32_t loserStat) {
    const double gain = static_cast<double>(loserStat) * 0.3;
    return toStat(gain + static_cast<double>(winnerStat));
}

void transfer(PlayerRecord& winner, PlayerRecord& loser) {
    winner.hp = withGain(winner.hp, loser.hp);
    winner.attack = withGain(winner.attack, loser.attack);
    winner.defense = withGain(winner.defense, loser.defense);
    loser.hp = scaled(loser.hp, 0.7);
    loser.attack = scaled(loser.attack, 0.7);
    loser.defense = scaled(loser.defense, 0.7);
}

}  // namespace

// Whoever stands on the square, the human types the hand against the computer; `player` only
// decides who is named first in the explanation.
void playJanken(int player, Difficulty difficulty) {
    PlayerRecord& human = g_players[PLAYER_HUMAN];
    PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    showMenu(player);

    say("\nじゃーんけーん...\n\n");
    bool hadDraw = false;
    Outcome outcome = Outcome::DRAW;
    while (outcome == Outcome::DRAW) {
        const int hand = readHand();
        if (hadDraw) {
            say("\nしょ!\n\n");
        } else {
            say("\nぽん！\n\n");
        }
        say("\t\t%-12s\t\t%-12s\n\n", human.name, computer.name);
        outcome = throwHands(hand, difficulty);
        if (outcome == Outcome::DRAW) {
            delayPause();
            say("あいこ！！\n\n");
            say("あーいこーで...\n\n");
            hadDraw = true;
        }
    }

    PlayerRecord& winner = outcome == Outcome::HUMAN_WINS ? human : computer;
    PlayerRecord& loser = outcome == Outcome::HUMAN_WINS ? computer : human;
    waitKey();
    say("%sさんの勝利！！\n%sさんのステータスの30%%が%sさんのものになります！\n", winner.name,
        loser.name, winner.name);
    waitKey();
    transfer(winner, loser);
    showStatus();
}

}  // namespace numoteka
