#include "contests/battle.h"

#include <cstdint>

#include "console/console.h"
#include "core/primitives.h"
#include "core/random.h"
#include "core/stats.h"

namespace numoteka {

namespace {

// The computer's cries, by difficulty ('1' to '3'): before its first-strike roll, and at each
// of its blows.
constexpr Format<const char*> FIRST_STRIKE_CRIES[3] = {"%s\t「とおりゃ！」\n", "%s\t「えい」\n",
                                                       "%s\t「フッ」\n"};
constexpr Format<const char*> BLOW_CRIES[3] = {"%s\t「くらえっ！」\n", "%s\t「と～！」\n",
                                               "%s\t「ハッ！！」\n"};

// Working hit points: the records' own hp are never touched by a battle.
struct HitPoints {
    int32_t human;
    int32_t computer;
};

void sayCry(const Format<const char*> (&cries)[3], Difficulty difficulty) {
    if (const int index = difficultyIndex(difficulty); index >= 0) {
        say(cries[index], g_players[PLAYER_COMPUTER].name);
    }
}

// Attack squared over the other's defense, saturating at the 32-bit limit. A defense of 0
// (which square events and janken can leave behind) divides by 1 instead.
int32_t baseDamage(int32_t attack, int32_t defense) {
    const int64_t divisor = defense > 0 ? defense : 1;
    int32_t damage = 0;
    addTo(damage, static_cast<int64_t>(attack) * attack / divisor);
    return damage;
}

void showHitPoints(const HitPoints& hp) {
    say("\n\t%s\t\t%s\n\tHP:%d\t\tHP:%d\n\n", g_players[PLAYER_HUMAN].name,
        g_players[PLAYER_COMPUTER].name, hp.human, hp.computer);
}

// Rolls until the two dice differ. Returns whether the human strikes first.
bool rollForFirstStrike(Difficulty difficulty) {
    for (;;) {
        say("%sさんダイスを振ってください！（Enter）--->", g_players[PLAYER_HUMAN].name);
        readByte();
        const int humanRoll = rollDie();
        say("\n\t%d!!\n\n", humanRoll);
        waitKey();
        sayCry(FIRST_STRIKE_CRIES, difficulty);
        delayPause();
        const int computerRoll = rollDie();
        say("\n\t%d!!\n\n", computerRoll);
        waitKey();
        if (humanRoll != computerRoll) {
            return humanRoll > computerRoll;
        }
        say("もう一回！\n");
    }
}

struct Blow {
    int32_t damage;  // the whole damage, saturating at the 32-bit limit
    bool heavy;
};

// Draws a blow's extra damage, then its heavy test (heavy when the draw modulo `heavyOdds` is
// 0), and announces a heavy blow.
Blow strike(int32_t base, int32_t attack, int heavyOdds) {
    const int extra = rand() % 20;
    const bool heavy = rand() % heavyOdds == 0;
    int64_t damage = static_cast<int64_t>(base) + extra;
    if (heavy) {
        say("\tさらにドギャウ！！\n\n");
        delayPause();
        damage += 2 * static_cast<int64_t>(attack);
    }
    Blow blow{0, heavy};
    addTo(blow.damage, damage);
    return blow;
}

void computerBlow(Difficulty difficulty, int32_t base, HitPoints& hp) {
    say("%sの攻撃！！\n\n", g_players[PLAYER_COMPUTER].name);
    sayCry(BLOW_CRIES, difficulty);
    say("\n\tズガン！\n\n");
    delayPause();
    const Blow blow = strike(base, g_players[PLAYER_COMPUTER].attack, 26);
    say("%dのダメージ！\n", blow.damage);
    subtractFloored(hp.human, blow.damage);
    waitKey();
    showHitPoints(hp);
    waitKey();
}

// `opening` marks the battle's first blow, which the human deals only when striking first:
// it is heavy on a draw of 0 modulo 23 rather than 26.
void humanBlow(int32_t base, bool opening, HitPoints& hp) {
    say("%sさんの攻撃！！\n\n\tズガン！\n\n", g_players[PLAYER_HUMAN].name);
    delayPause();
    const Blow blow = strike(base, g_players[PLAYER_HUMAN].attack, opening ? 23 : 26);
    if (blow.heavy) {
        say("%dのダメージ！！！\n", blow.damage);
    } else {
        say("%dのダメージ！\n", blow.damage);
    }
    subtractFloored(hp.computer, blow.damage);
    waitKey();
    showHitPoints(hp);
    waitKey();
}

// The winner's die sends the loser back 1 to 4 squares, not below START.
void sendLoserBack(int winner, int loser) {
    PlayerRecord& loserRecord = g_players[loser];
    say("\n\n－－－－－－%sさんの勝利！！－－－－－－\n\n", g_players[winner].name);
    waitKey();
    say("ダイスを振って%sさんを戻すマスの数を決めてください！", loserRecord.name);
    if (winner == PLAYER_HUMAN) {
        say("（Enter）--->");
        readByte();
    } else {
        delayPause();
        say("\n");
    }
    const int backCount = rollDie() / 2 + 1;
    say("\n\t%d!!\n\n", backCount);
    sayCount("%sさん%dマス戻ります\n\n", backCount, loserRecord.name, backCount);
    waitKey();
    subtractFloored(loserRecord.position, backCount);
    showBoard();
    waitKey();
}

}  // namespace

void runBattle(Difficulty difficulty) {
    const PlayerRecord& human = g_players[PLAYER_HUMAN];
    const PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    const int32_t humanBase = baseDamage(human.attack, computer.defense);
    const int32_t computerBase = baseDamage(computer.attack, human.defense);
    HitPoints hp{human.hp, computer.hp};

    say("\n!×××××××××！バトル！×××××××××!\n\n");
    waitKey();
    say("―先攻後攻の決定―\n\n");
    waitKey();
    const bool humanFirst = rollForFirstStrike(difficulty);
    say("%sさんの先攻です\n\n", humanFirst ? human.name : computer.name);
    say("\nバトル開始！！\n\n");
    showHitPoints(hp);
    waitKey();

    // One blow each in turn; only the contestant just struck can have fallen.
    bool humanStrikes = humanFirst;
    for (bool opening = true;; opening = false) {
        if (humanStrikes) {
            humanBlow(humanBase, opening, hp);
            if (hp.computer <= 0) {
                sendLoserBack(PLAYER_HUMAN, PLAYER_COMPUTER);
                return;
            }
        } else {
            computerBlow(difficulty, computerBase, hp);
            if (hp.human <= 0) {
                sendLoserBack(PLAYER_COMPUTER, PLAYER_HUMAN);
                return;
            }
        }
        humanStrikes = !humanStrikes;
    }
}

}  // namespace numoteka
