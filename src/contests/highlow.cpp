#include "console/console.h"
#include "contests/minigames.h"
#include "core/primitives.h"
#include "core/random.h"
#include "core/stats.h"

namespace numoteka {

namespace {

void showMenu() {
    while (!chooseToStart()) {
        say("－説明－\n%sさんのみの参加となります\n", g_players[PLAYER_HUMAN].name);
        say("ダイスを振って、次のダイスの目がその値より\n"
            "大きい値か小さい値かを予想します\n"
            "一回成功するごとにステータスの増加率が3%%ずつアップ！\n");
        waitKey();
    }
}

// Before every roll: the human presses Enter, the computer pauses.
void diePause(int player) {
    say("ダイスを振る！！");
    awaitRoll(player);
}

// '1' for bigger, '2' for smaller. The computer guesses at random without looking at the value.
unsigned char readGuess(int player) {
    if (player != PLAYER_HUMAN) {
        say("次の値はこの値より･･･\n\n");
        const bool bigger = rand() % 2 == 0;
        if (bigger) {
            say("\t%s\t「大きい！」\n", g_players[player].name);
        } else {
            say("\t%s\t「小さい！」\n", g_players[player].name);
        }
        waitKey();
        return bigger ? '1' : '2';
    }
    for (;;) {
        say("次の値はこの値より･･･ 1.大きい！ 2.小さい！\n");
        const unsigned char guess = readChoice();
        if (guess == '1' || guess == '2') {
            return guess;
        }
        say("1か2を入力してください\n\n");
    }
}

}  // namespace

void playHighLow(int player) {
    say("\nハイ＆ローゲーム！！\n");
    waitKey();
    if (player == PLAYER_HUMAN) {
        showMenu();
    }

    diePause(player);
    int currentValue = rand() % 4 + 2;
    say("\n\t%d!!\n\n", currentValue);
    waitKey();

    // Every right guess adds 3 points to the rate; the first wrong one, or an equal value, ends it.
    double increaseRate = 0.0;
    for (;;) {
        const unsigned char guess = readGuess(player);
        diePause(player);
        const int roll = rollDie();
        say("\n\t%d!!\n\n", roll);
        const bool right =
            (guess == '1' && roll > currentValue) || (guess == '2' && roll < currentValue);
        if (!right) {
            say("失敗！！\n");
            waitKey();
            break;
        }
        increaseRate += 3.0;
        say("成功！！　ステータス増加率%3.0f%%\n", increaseRate);
        currentValue = roll;
        waitKey();
    }

    if (increaseRate == 0.0) {
        say("一回もできなかった！　ショック！\n");
        waitKey();
        return;
    }
    say("ステータス増加率%3.0f%%なので\n%sさんのステータス%3.0f%%アップ！！\n", increaseRate,
        g_players[player].name, increaseRate);
    waitKey();
    const double rateShare = increaseRate * 0.01;
    scaleStats(player, rateShare + 1.0);
    showStatus();
}

}  // namespace numoteka
