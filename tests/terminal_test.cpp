// The real program on a pseudo-terminal, with this test playing the terminal: a width answer
// that comes late, keys typed while the terminal is asked, signals during the question, and
// terminals that cannot answer.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "harness.h"

namespace numoteka::testing {
namespace {

using namespace std::chrono_literals;

const std::string QUESTION = "\x1B[6n";
const std::string MENU_END = "ランキングを見る\r\n";
const std::string FAREWELL_END = std::string(76, '/') + "\r\n\r\n\r\n";

class OnATerminal : public ::testing::Test {
protected:
    // Starts the game on a fresh terminal in a UTF-8 locale; `term` is TERM's value or unset.
    // The game starts with the signal `ignored`, if any, ignored (as nohup starts a program).
    void start(const char* term, int ignored = 0) {
        ASSERT_EQ(openpty(&terminal_, &program_, nullptr, nullptr, nullptr), 0);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            login_tty(program_);
            if (ignored != 0) {
                signal(ignored, SIG_IGN);
            }
            setenv("LANG", "C.UTF-8", 1);
            unsetenv("LC_ALL");
            unsetenv("LC_CTYPE");
            if (term == nullptr) {
                unsetenv("TERM");
            } else {
                setenv("TERM", term, 1);
            }
            execl(NUMOTEKA_BINARY, NUMOTEKA_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    void TearDown() override {
        finish();
    }

    // Ends the program if it still runs and closes its terminal, for the next start().
    void finish() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int* end : {&terminal_, &program_}) {
            if (*end >= 0) {
                close(*end);
                *end = -1;
            }
        }
        pid_ = -1;
        ended_ = false;
        shown_.clear();
    }

    // Reads what the program shows until `text` has been shown or `wait` has passed.
    bool waitFor(const std::string& text, std::chrono::milliseconds wait = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (shown_.find(text) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd ready{terminal_, POLLIN, 0};
            char bytes[4096];
            ssize_t got = 0;
            if (poll(&ready, 1, 50) > 0 && (got = read(terminal_, bytes, sizeof bytes)) > 0) {
                shown_.append(bytes, static_cast<size_t>(got));
            }
        }
        return shown_.find(text) != std::string::npos;
    }

    void typeKeys(const std::string& keys) {
        ASSERT_EQ(write(terminal_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // How the program ended: its exit status, or minus the signal that ended it.
    std::optional<int> ending(std::chrono::milliseconds wait = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(10ms);
        }
        ended_ = true;
        return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    }

    pid_t pid_ = -1;
    bool ended_ = false;
    int terminal_ = -1;
    int program_ = -1;
    std::string shown_;
};

TEST_F(OnATerminal, AnAnswerThatComesLateNeverBecomesKeys) {
    start("xterm");
    ASSERT_TRUE(waitFor(QUESTION));
    // The game stops waiting after 500 ms and shows its menu; the answer comes at 800 ms.
    ASSERT_TRUE(waitFor(MENU_END));
    std::this_thread::sleep_for(300ms);
    typeKeys("\x1B[24;1R");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ending(0ms), std::nullopt);  // still at the menu
    typeKeys("2\r");
    EXPECT_TRUE(waitFor(FAREWELL_END));
    EXPECT_EQ(ending(), 0);
    EXPECT_EQ(shown_.find("1～3を入力してください"), std::string::npos) << shown_;
}

TEST_F(OnATerminal, EscapeSequencesThatAreNoReportReachTheGame) {
    // F1 (ESC O P) and shift-F4 (ESC [ 1 ; 2 S), typed as a name after the reply.
    start("xterm");
    ASSERT_TRUE(waitFor(QUESTION));
    typeKeys("\x1B[24;1R");
    ASSERT_TRUE(waitFor(MENU_END));
    typeKeys("1\r\x1BOP\x1B[1;2S\r1\r\r");
    EXPECT_TRUE(waitFor("\x1BOP\x1B[1;2Sさんの番です")) << shown_;
}

TEST_F(OnATerminal, KeysTypedWhileTheTerminalIsAskedAreReadAtOnce) {
    start("xterm");
    ASSERT_TRUE(waitFor(QUESTION));
    typeKeys("2\r\x1B[24;3R");
    EXPECT_TRUE(waitFor(FAREWELL_END, 3s)) << shown_;
    EXPECT_EQ(ending(), 0);
}

TEST_F(OnATerminal, TerminalsThatCannotAnswerAreNotAsked) {
    for (const char* term : {static_cast<const char*>(nullptr), "dumb", ""}) {
        SCOPED_TRACE(term == nullptr ? "TERM unset" : term);
        start(term);
        ASSERT_TRUE(waitFor(MENU_END));
        typeKeys("2\r");
        EXPECT_TRUE(waitFor(FAREWELL_END));
        EXPECT_EQ(ending(), 0);
        EXPECT_EQ(shown_.find('\x1B'), std::string::npos);
        finish();
    }
}

TEST_F(OnATerminal, ASignalDuringTheQuestionLeavesTheTerminalAsItWas) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        start("xterm");
        ASSERT_TRUE(waitFor(QUESTION));
        kill(pid_, signal);
        EXPECT_EQ(ending(), -signal);
        termios modes{};
        ASSERT_EQ(tcgetattr(program_, &modes), 0);
        EXPECT_TRUE(modes.c_lflag & ECHO);
        EXPECT_TRUE(modes.c_lflag & ICANON);
        finish();
    }
}

TEST_F(OnATerminal, ASignalIgnoredFromTheStartStaysIgnoredDuringTheQuestion) {
    // Under nohup the terminal may go away while the game asks it: the game goes on.
    start("xterm", SIGHUP);
    ASSERT_TRUE(waitFor(QUESTION));
    kill(pid_, SIGHUP);
    typeKeys("\x1B[24;3R");
    ASSERT_TRUE(waitFor(MENU_END));
    typeKeys("2\r");
    EXPECT_TRUE(waitFor(FAREWELL_END));
    EXPECT_EQ(ending(), 0);
}

TEST_F(OnATerminal, WhatLookedLikeTheStartOfAReportReachesTheGameWhenTheInputEnds) {
    // An ESC typed at the key wait after the opponent's greeting, then the end of input: the
    // ESC is the key, so the game starts before it says goodbye.
    start("xterm");
    ASSERT_TRUE(waitFor(QUESTION));
    typeKeys("\x1B[24;3R");
    ASSERT_TRUE(waitFor(MENU_END));
    typeKeys("1\rたろう\r1\r");
    ASSERT_TRUE(waitFor("強さ：normal\r\n\r\n>>"));
    typeKeys("\x1B\x04\x04");  // Ctrl-D after the ESC hands it over, the second ends the input
    EXPECT_TRUE(waitFor(FAREWELL_END));
    EXPECT_EQ(ending(), 0);
    EXPECT_NE(shown_.find("ゲーム開始！！"), std::string::npos) << shown_;
}

}  // namespace
}  // namespace numoteka::testing
