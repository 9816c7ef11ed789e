#include "core/turns.h"

#include "board/squares.h"
#include "console/console.h"
#include "core/primitives.h"
#include "core/random.h"
#include "core/stats.h"

namespace numoteka {

namespace {

// The opponent's remarks, by difficulty ('1' to '3') and by a draw of rand() % 4.
constexpr Format<const char*> REMARKS[3][4] = {
    {"%s\t「よーし、いくぜ～！」\n", "%s\t「絶対勝つ！！」\n", "%s\t「ふう！いけるぜ！」\n",
     "%s\t「お前と勝負できてうれしいぜ！」\n"},
    {"%s\t「がんばるのら～」\n",
     "%s\t「ganbaru!\n\t\t  ･･････間違えてローマ字でしゃべっちゃったにょ～」\n",
     "%s\t「う～ん、いいプレイやね～」\n", "%s\t「あーあ、おなか減ったよ～」\n"},
    {"%s「ンヌハハハ！！進め～！」\n", "%s「フッ、わしが負けるはずがなかろう」\n",
     "%s「いいか？気を抜いていると･･････フッフッフ」\n",
     "%s「フン、今のうちに降参したらどうだ？」\n"},
};

}  // namespace

int humanTurn(int32_t turnNumber, Difficulty difficulty) {
    PlayerRecord& human = g_players[PLAYER_HUMAN];
    say("\n%sさんの番です（%dターン目）\n", human.name, turnNumber);
    waitKey();
    for (;;) {
        showBoard();
        say("1.ダイスを振る　2.ステータスを見る 3.あきらめる\n");
        const unsigned char choice = readChoice();
        if (choice == '1') {
            break;
        }
        if (choice == '2') {
            showStatus();
        } else if (choice == '3') {
            return 1;
        } else {
            say("1～3を入力してください\n\n");
        }
    }
    say("ダイスを振る！！（Enter）--->");
    readByte();
    const int roll = rollDie();
    addTo(human.position, roll);
    say("\n\t%d!!\n\n", roll);
    delayPause();
    waitKey();
    showBoard();
    waitKey();
    if (human.position < GOAL_POSITION) {
        runSquareEvent(PLAYER_HUMAN, difficulty);
    }
    return 0;
}

void computerTurn(Difficulty difficulty) {
    PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    say("\n\n%sの番です\n", computer.name);
    waitKey();
    const int remark = rand() % 4;
    if (const int index = difficultyIndex(difficulty); index >= 0) {
        say(REMARKS[index][remark], computer.name);
    }
    say("\n");
    waitKey();
    say("%sはダイスを振った！\n\n", computer.name);
    delayPause();
    delayPause();
    const int roll = rollDie();
    say("\t%d!!\n\n", roll);
    addTo(computer.position, roll);
    waitKey();
    showBoard();
    waitKey();
    if (computer.position < GOAL_POSITION) {
        runSquareEvent(PLAYER_COMPUTER, difficulty);
    }
}

}  // namespace numoteka
