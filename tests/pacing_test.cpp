// Keys typed for the player (a replay's): the waits they ask of a clock the test keeps, at every
// speed, paused and run on to the next turn, and the same screen whatever the pace.
#include <string>
#include <vector>

#include "core/game.h"
#include "core/primitives.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

const std::string OPENING = TITLE + LEGEND + board(2, 2) + MENU;
const std::string GREETING = "マサル\t「よろしくっ」\n\t･･････強さ：normal\n\n>>";
const std::string FIRST_TURN = "\nたろうさんの番です（1ターン目）\n>>";

// A game given up in its first turn, then the menu's quit, with a wrong key (Escape) at the
// menu first: menu, name, difficulty, the greeting's key, the turn's key, give up, quit.
const std::string KEYS = "\x1b\n1\nたろう\n1\n\n\n3\n2\n";

// What the terminal shows of KEYS played back, the keys echoed where they were typed.
const std::string ECHOED = OPENING + "^[\n" + ONE_TO_THREE + MENU + "1\n" + NAME_PROMPT +
                           "たろう\n" + DIFFICULTY_PROMPT + "1\n" + GREETING + "\n" + GAME_START +
                           FIRST_TURN + "\n" + board(2, 2) + TURN_MENU + "3\n" + MENU + "2\n" +
                           FAREWELL;

// The clock of the test: every wait asked, with what the screen showed when it was asked; and
// the player's controls, set by the test before each look.
struct Asked {
    int milliseconds;
    std::string shown;
};
std::vector<Asked> g_asked;
std::string g_shown;
int g_looks = 0;
void (*g_player)(int look, PaceControls& controls) = nullptr;
int (*g_waited)(int asked, int count) = nullptr;  // how long a wait lasts; all of it if null

int sleepOnTestClock(int milliseconds) {
    g_shown += takeTerminalOutput();
    g_asked.push_back({milliseconds, g_shown});
    return g_waited != nullptr ? g_waited(milliseconds, static_cast<int>(g_asked.size()))
                               : milliseconds;
}

void lookOnTestClock(PaceControls& controls) {
    if (g_player != nullptr) {
        g_player(g_looks, controls);
    }
    ++g_looks;
}

const PaceClock TEST_CLOCK = {sleepOnTestClock, lookOnTestClock};

class PacingTest : public ::testing::Test {
protected:
    void SetUp() override {
        setDelayPauseLength(0);
        setMemoryEcho(true);
        setPaceClock(&TEST_CLOCK);
        g_asked.clear();
        g_shown.clear();
        g_looks = 0;
        g_player = nullptr;
        g_waited = nullptr;
    }

    void TearDown() override {
        setPaceClock(nullptr);
        setPaceSpeed(0);
        setMemoryEcho(false);
    }

    // KEYS played back at `speed`: what the terminal showed.
    std::string replayed(int speed) {
        setPaceSpeed(speed);
        attachMemoryTerminal("", TerminalEncoding::Utf8);
        replayInput(cp932(KEYS.c_str()));
        runGame(1);
        return g_shown + takeTerminalOutput();
    }

    static std::vector<int> milliseconds() {
        std::vector<int> waits;
        for (const Asked& asked : g_asked) {
            waits.push_back(asked.milliseconds);
        }
        return waits;
    }
};

TEST_F(PacingTest, EverySpeedShowsTheSameAndWaitsItsShareOfAMoment) {
    // A moment of 500 ms before each key, twice that before the name's line.
    const struct {
        int speed;
        int key;
        int line;
    } speeds[] = {{0, 0, 0}, {1, 500, 1000}, {2, 250, 500}, {4, 125, 250}};
    for (const auto& pace : speeds) {
        SCOPED_TRACE(pace.speed);
        g_asked.clear();
        g_shown.clear();
        EXPECT_EQ(replayed(pace.speed), ECHOED);
        const int key = pace.key;
        const std::vector<int> waits = {key, key, pace.line, key, key, key, key, key};
        EXPECT_EQ(milliseconds(), pace.speed == 0 ? std::vector<int>() : waits);
    }
    // Each wait comes once everything before it is shown, and before its key is echoed.
    ASSERT_EQ(g_asked.size(), 8u);
    EXPECT_EQ(g_asked[0].shown, OPENING);
    EXPECT_TRUE(g_asked[2].shown.ends_with(MENU + "1\n" + NAME_PROMPT));
    EXPECT_TRUE(g_asked[5].shown.ends_with(GAME_START + FIRST_TURN));
}

TEST_F(PacingTest, APauseHoldsTheKeysAndAFasterSpeedCountsFromWhenItIsChosen) {
    // Paused at the second key for three looks; at the fourth key a wait cut short after 200 ms
    // by the player's choice of 4: the 300 ms left of its moment take 75.
    g_player = [](int look, PaceControls& controls) {
        controls.paused = look >= 2 && look < 5;
        if (look == 10) {
            controls.speed = 4;
        }
    };
    g_waited = [](int asked, int count) { return count == 7 ? 200 : asked; };
    EXPECT_EQ(replayed(1), ECHOED);
    EXPECT_EQ(milliseconds(),
              (std::vector<int>{500, 1000, 1000, 1000, 500, 1000, 500, 75, 125, 125, 125, 125}));
    // Nothing moved while it was paused.
    EXPECT_EQ(g_asked[1].shown, g_asked[4].shown);
}

TEST_F(PacingTest, RunningOnToTheNextTurnStopsAtItsHeading) {
    // Asked at the first key, and again at the heading: the first run stops there, the second
    // runs to the end, for there is no second turn.
    g_player = [](int look, PaceControls& controls) {
        controls.turnSkips = look == 0 ? 1 : look >= 6 ? 2 : controls.turnSkips;
    };
    EXPECT_EQ(replayed(1), ECHOED);
    ASSERT_EQ(milliseconds(), std::vector<int>{500});
    EXPECT_EQ(g_asked[0].shown, OPENING + "^[\n" + ONE_TO_THREE + MENU + "1\n" + NAME_PROMPT +
                                    "たろう\n" + DIFFICULTY_PROMPT + "1\n" + GREETING + "\n" +
                                    GAME_START + FIRST_TURN);
}

TEST_F(PacingTest, KeysTypedByThePlayerNeitherWaitNorEcho) {
    setPaceSpeed(1);
    EXPECT_EQ(playSession(1, KEYS), OPENING + ONE_TO_THREE + MENU + NAME_PROMPT +
                                        DIFFICULTY_PROMPT + GREETING + GAME_START + FIRST_TURN +
                                        board(2, 2) + TURN_MENU + MENU + FAREWELL);
    EXPECT_TRUE(g_asked.empty());
}

}  // namespace
}  // namespace numoteka::testing
