#include "board/squares.h"
#include "console/console.h"
#include "contests/minigames.h"
#include "core/primitives.h"
#include "core/random.h"
#include "core/stats.h"

namespace numoteka {

namespace {

enum Symbol { SEVEN, STAR, HP, ATTACK, DEFENSE, BLANK, SYMBOL_COUNT };

constexpr const char* SYMBOL_TEXTS[SYMBOL_COUNT] = {"７", "★", "hp", "攻", "防", "□"};

// A reel value 0 to 29 as its symbol: 4 sevens, 5 each of ★, hp, 攻 and 防, 6 blanks.
Symbol symbolOf(int value) {
    if (value <= 3) {
        return SEVEN;
    }
    if (value <= 8) {
        return STAR;
    }
    if (value <= 13) {
        return HP;
    }
    if (value <= 18) {
        return ATTACK;
    }
    if (value <= 23) {
        return DEFENSE;
    }
    return BLANK;
}

void showMenu() {
    while (!chooseToStart()) {
        say("－説明－\n%sさんのみの参加となります\n", g_players[PLAYER_HUMAN].name);
        say("スロットが見事そろえば絵柄に応じた賞品がもらえます！\n");
        say("\t７・７・７\t･･･ステータス40%%アップ！\n");
        say("\t★・★・★\t･･･ステータス15%%アップ！\n");
        say("\t★・★\t\t･･･ステータス5%%アップ！\n");
        say("\thp・hp\t\t･･･HP20%%アップ！\n");
        say("\t攻・攻\t\t･･･攻撃力20%%アップ！\n");
        say("\t防・防\t\t･･･防御力20%%アップ！\n");
        say("\t□・□\t\t･･･もう一回ダイスを振る！\n");
        waitKey();
    }
}

// The die of a □ pair: the player moves on and the event of the square reached follows.
void extraRoll(int player, Difficulty difficulty) {
    awaitRoll(player);
    const int roll = rollDie();
    say("\t%d!!\n\n", roll);
    waitKey();
    moveForward(player, roll);
    runSquareEvent(player, difficulty);
}

}  // namespace

void playSlot(int player, Difficulty difficulty) {
    PlayerRecord& record = g_players[player];
    say("\nスロットゲーム！！\n");
    waitKey();
    if (player == PLAYER_HUMAN) {
        showMenu();
    }
    say("\nスロットスタート！！\n");

    // Each reel is drawn before its stop prompt, so the moment of the key press changes nothing.
    int shown[SYMBOL_COUNT] = {};
    for (int reel = 0; reel < 3; ++reel) {
        const Symbol symbol = symbolOf(rand() % 30);
        if (player == PLAYER_HUMAN) {
            say("ストップ！（Enter）--->");
            readByte();
        } else {
            delayPause();
            say("ストップ！\n");
        }
        say("\n\t%s\n\n", toCp932(localized(SYMBOL_TEXTS[symbol])).c_str());
        ++shown[symbol];
    }

    // The first prize that holds applies; a pair of sevens wins nothing.
    if (shown[SEVEN] == 3) {
        say("スリーセブン！！！ステータス40%%アップ！\n");
        waitKey();
        scaleStats(player, 1.4);
    } else if (shown[STAR] == 3) {
        say("★が三つ揃いました！ステータス15%%アップ！\n");
        waitKey();
        scaleStats(player, 1.15);
    } else if (shown[STAR] == 2) {
        say("★が二つ揃いました！ステータス5%%アップ！\n");
        waitKey();
        scaleStats(player, 1.05);
    } else if (shown[HP] >= 2) {
        say("hpが揃いました！HP20%%アップ！\n");
        waitKey();
        record.hp = scaled(record.hp, 1.2);
    } else if (shown[ATTACK] >= 2) {
        say("攻が揃いました！攻撃力20%%アップ！\n");
        waitKey();
        record.attack = scaled(record.attack, 1.2);
    } else if (shown[DEFENSE] >= 2) {
        say("防が揃いました！防御力20%%アップ！\n");
        waitKey();
        record.defense = scaled(record.defense, 1.2);
    } else if (shown[BLANK] >= 2) {
        say("□が揃いました！もう一回ダイスを振る！\n");
        waitKey();
        extraRoll(player, difficulty);
        return;
    } else {
        say("はずれ！残念でした！\n");
        waitKey();
        return;
    }
    showStatus();
}

}  // namespace numoteka
