// The console layer: conversion at the terminal's edge, line ends and the end of input.
#include "console/console.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/report_filter.h"
#include "console/terminal_posix.h"
#include "core/primitives.h"
#include "harness.h"

namespace numoteka::testing {
namespace {

std::string readAll() {
    std::string bytes;
    try {
        for (;;) {
            bytes.push_back(static_cast<char>(readByte()));
        }
    } catch (const InputEnded&) {
    }
    return bytes;
}

TEST(Console, Utf8TerminalInputArrivesAsCp932) {
    attachMemoryTerminal("あA\n", TerminalEncoding::Utf8);
    EXPECT_EQ(readAll(),
              "\x82\xA0"
              "A\n");
}

TEST(Console, ShiftJisTerminalPassesBytesThrough) {
    attachMemoryTerminal("\x82\xA0\xB1\n", TerminalEncoding::ShiftJis);
    EXPECT_EQ(readAll(), "\x82\xA0\xB1\n");
    say("ぬ%s", "\x82\xA0");
    EXPECT_EQ(takeTerminalOutput(), "\x82\xCA\x82\xA0");
}

TEST(Console, UnconvertibleInputArrivesAsQuestionMarks) {
    // An emoji (four bytes), a stray continuation byte and a lone lead byte each become one "?".
    attachMemoryTerminal(
        "a\xF0\x9F\x98\x80"
        "b\x80"
        "c\xE3\x81"
        "d\n",
        TerminalEncoding::Utf8);
    EXPECT_EQ(readAll(), "a?b?c?d\n");
}

TEST(Console, CarriageReturnBeforeLineFeedIsDropped) {
    attachMemoryTerminal("1\r\nab\rc\r\n\r", TerminalEncoding::Utf8);
    // Only a CR that ends a line goes; a CR inside a line, or at the very end, stays.
    EXPECT_EQ(readAll(), "1\nab\rc\n\r");
}

TEST(Console, LongLinesSurviveConversionInPieces) {
    // A line far longer than one piece of conversion, with three-byte characters that must
    // not be cut, and a CR LF whose CR ends a piece.
    std::string typed;
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        typed += "あ";
        expected += "\x82\xA0";
    }
    typed += std::string(4095, 'x') + "\r\n";
    expected += std::string(4095, 'x') + "\n";
    for (size_t filler = 0; filler < 4; ++filler) {
        attachMemoryTerminal(std::string(filler, 'z') + typed, TerminalEncoding::Utf8);
        EXPECT_EQ(readAll(), std::string(filler, 'z') + expected) << filler;
    }
}

TEST(Console, EndOfInputIsReportedAtEveryReadAfterIt) {
    attachMemoryTerminal("q", TerminalEncoding::Utf8);
    EXPECT_EQ(readByte(), 'q');
    EXPECT_THROW(readByte(), InputEnded);
    EXPECT_THROW(readByte(), InputEnded);
}

TEST(Console, InvalidCp932OutputBecomesQuestionMarks) {
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    // A lead byte followed by a line feed must not swallow the line feed.
    writeText("a\x81\nb\x82");
    EXPECT_EQ(takeTerminalOutput(), "a?\nb?");
}

TEST(Console, LocaleChoosesTheTerminalEncoding) {
    struct Case {
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        TerminalEncoding expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.SJIS", TerminalEncoding::ShiftJis},
        {nullptr, nullptr, "ja_JP.sjis", TerminalEncoding::ShiftJis},
        {nullptr, nullptr, "ja_JP.Shift_JIS", TerminalEncoding::ShiftJis},
        {nullptr, nullptr, "ja_JP.cp932", TerminalEncoding::ShiftJis},
        {nullptr, nullptr, "ja_JP.WINDOWS-31J", TerminalEncoding::ShiftJis},
        {nullptr, nullptr, "ja_JP.UTF-8", TerminalEncoding::Utf8},
        {nullptr, nullptr, "C", TerminalEncoding::Utf8},
        {nullptr, nullptr, nullptr, TerminalEncoding::Utf8},
        {"ja_JP.UTF-8", nullptr, "ja_JP.SJIS", TerminalEncoding::Utf8},
        {"", "ja_JP.SJIS", "C.UTF-8", TerminalEncoding::ShiftJis},
        {nullptr, "", "ja_JP.SJIS", TerminalEncoding::ShiftJis},
    };
    for (const Case& c : cases) {
        const auto put = [](const char* variable, const char* value) {
            if (value == nullptr) {
                unsetenv(variable);
            } else {
                setenv(variable, value, 1);
            }
        };
        put("LC_ALL", c.lcAll);
        put("LC_CTYPE", c.lcCtype);
        put("LANG", c.lang);
        EXPECT_EQ(encodingFromLocale(), c.expected)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcCtype ? c.lcCtype : "-") << " "
            << (c.lang ? c.lang : "-");
    }
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    unsetenv("LANG");
}

TEST(AmbiguousWidth, NarrowTerminalGetsASpaceAfterEachAmbiguousCharacter) {
    attachMemoryTerminal("", TerminalEncoding::Utf8, true);
    g_players[PLAYER_HUMAN].position = 1;
    g_players[PLAYER_COMPUTER].position = 0;
    showBoard();
    // "プ", "コ" and the full-width spaces are wide already; "―", "□" and "◆" are not.
    EXPECT_EQ(
        takeTerminalOutput(),
        "\n　　　　　プ\n [START]― □ □ □ □ ◆ □ □ □ □ ◆ □ □ □ □ ◆ □ □ □ □ ◆ □ □ □ □ ◆ □ □ □ □ ― "
        "[GOAL]\n　　コ\n\n");
    say("★×７･Ａ%s", "\x83\xBF");  // Greek alpha from a name
    EXPECT_EQ(takeTerminalOutput(), "★ × ７･Ａα ");
}

TEST(AmbiguousWidth, NothingIsAddedOnWideOrShiftJisTerminals) {
    attachMemoryTerminal("", TerminalEncoding::Utf8, false);
    say("―□◆★");
    EXPECT_EQ(takeTerminalOutput(), "―□◆★");
    attachMemoryTerminal("", TerminalEncoding::ShiftJis, true);
    say("□");
    EXPECT_EQ(takeTerminalOutput(), "\x81\xA0");
}

struct Asked {
    bool narrow;
    std::string typedAhead;  // what the question passed on as typed before the reply
    std::string typedAfter;  // what the program reads when "k\n" is typed afterwards
    bool modesRestored;
};

// Plays the terminal on the far side of a pseudo-terminal: on the cursor question it sends
// `answer` (keys the user typed, then the reply, or nothing), then types "k\n".
Asked askPseudoTerminal(const std::string& answer) {
    int terminal = -1;
    int program = -1;
    EXPECT_EQ(openpty(&terminal, &program, nullptr, nullptr, nullptr), 0);
    termios before{};
    tcgetattr(program, &before);
    std::string question;
    std::thread emulator([&] {
        char byte = 0;
        while (question.find("\x1B[6n") == std::string::npos && read(terminal, &byte, 1) == 1) {
            question.push_back(byte);
        }
        if (!answer.empty()) {
            EXPECT_EQ(write(terminal, answer.data(), answer.size()),
                      static_cast<ssize_t>(answer.size()));
        }
    });
    Asked asked{};
    asked.narrow = terminalDrawsAmbiguousNarrow(program, program, 200, asked.typedAhead);
    emulator.join();
    EXPECT_EQ(question, "\r□\x1B[6n");
    termios after{};
    tcgetattr(program, &after);
    asked.modesRestored = after.c_lflag == before.c_lflag && (after.c_lflag & ICANON) != 0;
    EXPECT_EQ(write(terminal, "k\n", 2), 2);
    char typed[8] = {};
    const ssize_t got = read(program, typed, sizeof typed);
    asked.typedAfter.assign(typed, got > 0 ? static_cast<size_t>(got) : 0);
    close(terminal);
    close(program);
    return asked;
}

TEST(AmbiguousWidth, TheTerminalIsAskedWhereItsCursorStands) {
    struct Case {
        std::string answer;
        bool narrow;
        std::string typedAhead;
    };
    const Case cases[] = {
        {"\x1B[7;2R", true, ""},
        {"\x1B[7;3R", false, ""},
        {"", false, ""},                // no answer: nothing is added
        {"\x1B[12;2", false, ""},       // cut short
        {"1\n\x1B[7;2R", true, "1\n"},  // keys typed before the reply stay the user's
    };
    for (const Case& c : cases) {
        const Asked asked = askPseudoTerminal(c.answer);
        EXPECT_EQ(asked.narrow, c.narrow) << c.answer;
        EXPECT_EQ(asked.typedAhead, c.typedAhead) << c.answer;
        EXPECT_EQ(asked.typedAfter, "k\n") << c.answer;  // no reply stays behind as input
        EXPECT_TRUE(asked.modesRestored) << c.answer;
    }
}

TEST(AmbiguousWidth, AQuestionNobodyCanAnswerCountsAsTwoColumns) {
    // Input from a pipe: no terminal to ask, so nothing is written.
    int input[2];
    int output[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(pipe(output), 0);
    std::string typedAhead;
    EXPECT_FALSE(terminalDrawsAmbiguousNarrow(input[0], output[1], 1000, typedAhead));
    close(output[1]);
    char byte = 0;
    EXPECT_EQ(read(output[0], &byte, 1), 0);
    for (const int end : {input[0], input[1], output[0]}) {
        close(end);
    }

    // A terminal that hangs up once asked: its answer is not waited for.
    int terminal = -1;
    int program = -1;
    ASSERT_EQ(openpty(&terminal, &program, nullptr, nullptr, nullptr), 0);
    std::thread emulator([terminal] {
        std::string question;
        char got = 0;
        while (question.find("\x1B[6n") == std::string::npos && read(terminal, &got, 1) == 1) {
            question.push_back(got);
        }
        close(terminal);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(terminalDrawsAmbiguousNarrow(program, program, 20000, typedAhead));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    emulator.join();
    close(program);
    EXPECT_EQ(typedAhead, "");
}

TEST(ReportFilter, TakesOutCursorReportsAndNothingElse) {
    const struct {
        std::string fromTerminal;
        std::string typed;
    } cases[] = {
        {"\x1B[24;3R", ""},
        {"a\x1B[1;2Sb\x1BOP", "a\x1B[1;2Sb\x1BOP"},  // function keys are no reports
        {"\x1B\x1B[5;1R", "\x1B"},                   // a report right after a lone ESC
        {"\x1B[123456;1R", "\x1B[123456;1R"},        // more digits than a report has
        {"1\x1B[5;", "1"},                           // the start of one is held
    };
    for (const auto& c : cases) {
        ReportFilter filter;
        std::string typed;
        for (const char byte : c.fromTerminal) {
            filterReport(filter, byte, typed);
        }
        EXPECT_EQ(typed, c.typed) << ::testing::PrintToString(c.fromTerminal);
    }
}

}  // namespace
}  // namespace numoteka::testing
