#include "board/squares.h"

#include <array>
#include <cstdint>

#include "console/console.h"
#include "contests/minigames.h"
#include "core/primitives.h"
#include "core/random.h"
#include "core/stats.h"

namespace numoteka {

namespace {

enum class SquareEvent {
    FIRST_STEP,
    HOMESICK_OR_BOXING,
    VIDEO_GAME_OR_YAWN,
    GRAVITY_TRAINING,
    CHANCE_OR_DIE,
    GAME_SQUARE,
    TIMBER_OR_CAT,
    EXTRA_ROLL,
    QUIET_DAY,
    STUMBLING,
    PIGS_OR_PUNISHMENT,
    CURRY,
    MASTER_MEDICINE,
    STEEL_GEAR,
    DIVINE_REWARD,
    EQUALISER_OR_LUCK,
    LETTER,
    IDLE_REMARK,
    GOAL_FRONT,
};

constexpr int32_t FIRST_SQUARE = 1;
constexpr int32_t LAST_SQUARE = GOAL_POSITION - 1;

// The event of squares 1 to 29, in order.
constexpr std::array<SquareEvent, LAST_SQUARE - FIRST_SQUARE + 1> BOARD_LAYOUT = {
    SquareEvent::FIRST_STEP,         SquareEvent::HOMESICK_OR_BOXING,
    SquareEvent::VIDEO_GAME_OR_YAWN, SquareEvent::GRAVITY_TRAINING,
    SquareEvent::CHANCE_OR_DIE,  // 5
    SquareEvent::GAME_SQUARE,        SquareEvent::TIMBER_OR_CAT,
    SquareEvent::EXTRA_ROLL,         SquareEvent::QUIET_DAY,
    SquareEvent::CHANCE_OR_DIE,  // 10
    SquareEvent::STUMBLING,          SquareEvent::PIGS_OR_PUNISHMENT,
    SquareEvent::TIMBER_OR_CAT,      SquareEvent::CURRY,
    SquareEvent::CHANCE_OR_DIE,  // 15
    SquareEvent::GAME_SQUARE,        SquareEvent::MASTER_MEDICINE,
    SquareEvent::EXTRA_ROLL,         SquareEvent::STEEL_GEAR,
    SquareEvent::CHANCE_OR_DIE,  // 20
    SquareEvent::DIVINE_REWARD,      SquareEvent::HOMESICK_OR_BOXING,
    SquareEvent::PIGS_OR_PUNISHMENT, SquareEvent::EQUALISER_OR_LUCK,
    SquareEvent::CHANCE_OR_DIE,  // 25
    SquareEvent::GAME_SQUARE,        SquareEvent::LETTER,
    SquareEvent::IDLE_REMARK,        SquareEvent::GOAL_FRONT,
};

void firstStep(int player) {
    PlayerRecord& mover = g_players[player];
    say("―「始めの一歩」マス！―\n");
    waitKey();
    say("1を出しちゃった君にプレゼント！！\n");
    say("HP\t+100\n攻撃力\t+10\n防御力\t+5\n");
    waitKey();
    addTo(mover.hp, 100);
    addTo(mover.attack, 10);
    addTo(mover.defense, 5);
    showStatus();
}

void homesickOrBoxing(int player) {
    PlayerRecord& mover = g_players[player];
    if (rand() % 2 == 1) {
        say("%sさんはふと故郷に帰りたくなった\n一回休み\n", mover.name);
        waitKey();
        addRestTurn(player);
        return;
    }
    say("シャドウボクシングをしてみた！\n攻撃力\t+15\n");
    waitKey();
    addTo(mover.attack, 15);
    showStatus();
}

void videoGameOrYawn(int player) {
    PlayerRecord& mover = g_players[player];
    if (rand() % 2 == 1) {
        say("ゲームをやった！面白い！もっとやろっと\n一回休み\n\n");
        say("HP\t+40\n攻撃力\t+4\n防御力\t+2\n");
        waitKey();
        addRestTurn(player);
        addTo(mover.hp, 40);
        addTo(mover.attack, 4);
        addTo(mover.defense, 2);
        showStatus();
        return;
    }
    say("あくびがでた　ふあーー\nとくになし！\n");
    waitKey();
}

void gravityTraining(int player) {
    say("重力10倍の修行！！\n");
    say("HP、攻撃力、防御力10%%アップ！！\n");
    waitKey();
    scaleStats(player, 1.1);
    showStatus();
}

void chanceOrDie(int player) {
    say("―「チャンスorダイ」マス！！―\n");
    waitKey();
    say("ダイスの目が偶数ならとってもイイ事が！奇数なら･･･\n");
    waitKey();
    say("ダイスを振ってください");
    if (player == PLAYER_HUMAN) {
        say("（Enter）--->");
        readByte();
    } else {
        delayPause();
    }
    const int die = rollDie();
    say("\n\t%d!!\n\n", die);
    waitKey();
    if (die % 2 == 0) {
        say("偶数！\n\tHP、攻撃力、防御力30%%アップ！！\n");
        scaleStats(player, 1.3);
    } else {
        say("奇数！\n\tHP、攻撃力、防御力15%%ダウン･･･\n\tさらに一回休み！\n");
        scaleStats(player, 0.85);
        addRestTurn(player);
    }
    showStatus();
}

void gameSquare(int player, Difficulty difficulty) {
    say("―ゲームマス！―\n");
    switch (rand() % 3) {
        case 0:
            playJanken(player, difficulty);
            break;
        case 1:
            playSlot(player, difficulty);
            break;
        default:
            playHighLow(player);
            break;
    }
}

void timberOrCat(int player) {
    PlayerRecord& mover = g_players[player];
    if (rand() % 2 == 1) {
        say("ズガン！\n");
        delayPause();
        say("木材が降ってきた！\nHP -20\n");
        waitKey();
        subtractFloored(mover.hp, 20);
        showStatus();
        return;
    }
    say("にゃー  ");
    delayPause();
    say("猫が現れた！\n");
    delayPause();
    say("猫\t「ほれ！これやるよ」\nコ･･･コレは！\n");
    delayPause();
    delayPause();
    say("筋肉増強剤だった！\n攻撃力 +20\n");
    waitKey();
    addTo(mover.attack, 20);
    showStatus();
}

// Moves the mover on by a second die; the dispatch then plays the square reached.
void extraRoll(int player) {
    say("やる気満々！もう一回ダイスを振る！");
    awaitRoll(player);
    const int die = rollDie();
    say("\n\t%d!!\n\n", die);
    waitKey();
    moveForward(player, die);
}

void quietDay() {
    say("何もない一日だった･･････\n");
    waitKey();
}

void stumbling(int player) {
    say("転んだ\n");
    waitKey();
    for (int i = 0; i < 10; ++i) {
        say("また転んだ\n");
        waitKey();
    }
    delayPause();
    say("転びまくったおかげで体中にかさぶたが！！！\n");
    delayPause();
    say("数日後...");
    delayPause();
    delayPause();
    say("完治した皮膚は何倍もの厚みになっていた！！防御力アップ！！\n防御力 +10\n");
    waitKey();
    addTo(g_players[player].defense, 10);
    showStatus();
}

void pigsOrPunishment(int player) {
    if (rand() % 2 == 1) {
        say("どどどどどどどどどどどどどどどど！！\n");
        delayPause();
        say("豚の大群だ！\n");
        delayPause();
        say("ぐしゃ\n");
        delayPause();
        say("ぐしゃ\n");
        delayPause();
        say("HP -40\n");
        waitKey();
        subtractFloored(g_players[player].hp, 40);
        showStatus();
        return;
    }
    say("神が現れた！\n神\t「天罰じゃ！」\n");
    waitKey();
    say("能力を下げられた！　HP、攻撃力、防御力10%%ダウン！！\n");
    waitKey();
    scaleStats(player, 0.9);
    showStatus();
}

void curry(int player) {
    say("カレーを食べた！\nHP +80\n");
    waitKey();
    addTo(g_players[player].hp, 80);
    showStatus();
}

void masterMedicine(int player) {
    PlayerRecord& mover = g_players[player];
    say("達人の薬を手に入れた！\n･･･");
    delayPause();
    say("･･･");
    delayPause();
    say("なんと！");
    delayPause();
    delayPause();
    if (rand() % 5 == 0) {
        say("  本物だった！！！！\n能力値大幅アップ！");
        waitKey();
        say("HP\t+200\n攻撃力\t+44\n防御力\t+22\n");
        waitKey();
        addTo(mover.hp, 200);
        addTo(mover.attack, 44);
        addTo(mover.defense, 22);
        showStatus();
        return;
    }
    say("  パチもんだった･･････\n");
    waitKey();
    say("HP\t-30\n攻撃力\t+6\n防御力\t-2\n");
    waitKey();
    subtractFloored(mover.hp, 30);
    addTo(mover.attack, 6);
    subtractFloored(mover.defense, 2);
    showStatus();
}

void steelGear(int player) {
    PlayerRecord& mover = g_players[player];
    if (rand() % 2 == 0) {
        say("鋼鉄のつるぎを手に入れた！\n攻撃力 +35\n");
        waitKey();
        addTo(mover.attack, 35);
    } else {
        say("鋼鉄のよろいを手に入れた！\n防御力 +35\n");
        waitKey();
        addTo(mover.defense, 35);
    }
    showStatus();
}

void divineReward(int player) {
    say("神が現れた！\n神\t「お前はけいけんな優れた信者じゃ！ ほうびをやろう」\n");
    waitKey();
    say("能力を上げてくれた！　HP、攻撃力、防御力15%%アップ！！\n");
    waitKey();
    scaleStats(player, 1.15);
    showStatus();
}

// Both records take the pair's average, truncated toward zero. The sum is formed in 64 bits
// so that two large values cannot overflow; the average always fits again.
void equalise(int32_t& human, int32_t& computer) {
    const int32_t average =
        static_cast<int32_t>((static_cast<int64_t>(human) + static_cast<int64_t>(computer)) / 2);
    human = average;
    computer = average;
}

void equaliserOrLuck(int player) {
    if (rand() % 8 != 0) {
        say("わりといい事が起きた！\nHP +50\n");
        waitKey();
        addTo(g_players[player].hp, 50);
        showStatus();
        return;
    }
    PlayerRecord& human = g_players[PLAYER_HUMAN];
    PlayerRecord& computer = g_players[PLAYER_COMPUTER];
    say("ドン！！！\n");
    waitKey();
    say("社会主義国家成立！！！　能力が分配、均等化されます！\n");
    delayPause();
    waitKey();
    equalise(human.hp, computer.hp);
    equalise(human.attack, computer.attack);
    equalise(human.defense, computer.defense);
    showStatus();
    say("さらに！　同じ場所に集合！\n");
    equalise(human.position, computer.position);
    showBoard();
    waitKey();
}

void letter(int player) {
    say("手紙が落ちていた\n");
    say("\t「もうすぐゴール！がんばれ！！  ...");
    delayPause();
    delayPause();
    if (rand() % 2 == 1) {
        say("製作者より」\n\n");
        waitKey();
        return;
    }
    say("なんつってな！！\n\t ステータス20%%ダウン！さらに6マス戻る！！」\n");
    waitKey();
    scaleStats(player, 0.8);
    showStatus();
    moveBack(player, 6);
}

void idleRemark() {
    say("（あー、つくるのあきた）\n");
    waitKey();
}

void goalFront(int player) {
    say("―「ゴール直前」マス！―\n");
    waitKey();
    say("いやな予感してるでしょ？");
    delayPause();
    delayPause();
    say("正解～\n");
    delayPause();
    say("10マス戻る！！\n");
    waitKey();
    moveBack(player, 10);
}

}  // namespace

void runSquareEvent(int player, Difficulty difficulty) {
    // An extra roll plays the square it reaches within the same call.
    for (;;) {
        const int32_t position = g_players[player].position;
        if (position < FIRST_SQUARE || position > LAST_SQUARE) {
            return;
        }
        const SquareEvent event = BOARD_LAYOUT[position - FIRST_SQUARE];
        switch (event) {
            case SquareEvent::FIRST_STEP:
                firstStep(player);
                break;
            case SquareEvent::HOMESICK_OR_BOXING:
                homesickOrBoxing(player);
                break;
            case SquareEvent::VIDEO_GAME_OR_YAWN:
                videoGameOrYawn(player);
                break;
            case SquareEvent::GRAVITY_TRAINING:
                gravityTraining(player);
                break;
            case SquareEvent::CHANCE_OR_DIE:
                chanceOrDie(player);
                break;
            case SquareEvent::GAME_SQUARE:
                gameSquare(player, difficulty);
                break;
            case SquareEvent::TIMBER_OR_CAT:
                timberOrCat(player);
                break;
            case SquareEvent::EXTRA_ROLL:
                extraRoll(player);
                break;
            case SquareEvent::QUIET_DAY:
                quietDay();
                break;
            case SquareEvent::STUMBLING:
                stumbling(player);
                break;
            case SquareEvent::PIGS_OR_PUNISHMENT:
                pigsOrPunishment(player);
                break;
            case SquareEvent::CURRY:
                curry(player);
                break;
            case SquareEvent::MASTER_MEDICINE:
                masterMedicine(player);
                break;
            case SquareEvent::STEEL_GEAR:
                steelGear(player);
                break;
            case SquareEvent::DIVINE_REWARD:
                divineReward(player);
                break;
            case SquareEvent::EQUALISER_OR_LUCK:
                equaliserOrLuck(player);
                break;
            case SquareEvent::LETTER:
                letter(player);
                break;
            case SquareEvent::IDLE_REMARK:
                idleRemark();
                break;
            case SquareEvent::GOAL_FRONT:
                goalFront(player);
                break;
        }
        if (event != SquareEvent::EXTRA_ROLL) {
            return;
        }
    }
}

}  // namespace numoteka
