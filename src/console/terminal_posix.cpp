// The terminal of a POSIX system: standard input and output, asked about its width through
// termios and a cursor position report.
#include "console/terminal_posix.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <string_view>

#include "console/terminal.h"

namespace numoteka {

namespace {

// How long the terminal is given to answer.
constexpr int ANSWER_WAIT_MILLISECONDS = 500;

// The terminal's modes while it is asked, for a signal to put back before it ends the program.
termios g_modesBeforeQuestion;
volatile sig_atomic_t g_questionedTerminal = -1;

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restoreModesAndEnd(int signal) {
    tcsetattr(g_questionedTerminal, TCSANOW, &g_modesBeforeQuestion);
    // The handler was for this once: the signal now does what it would have done.
    raise(signal);
}

// Asks the terminal where its cursor stands after drawing one ambiguous character. Returns
// the report, if it came in time; keys typed meanwhile go to `typed`, and the start of a
// report still coming stays in `filter`.
std::string askCursorColumn(int inputFd, int outputFd, int timeoutMs, ReportFilter& filter,
                            std::string& typed) {
    if (tcgetattr(inputFd, &g_modesBeforeQuestion) != 0) {
        return {};
    }
    g_questionedTerminal = inputFd;
    struct sigaction restoring {};
    restoring.sa_handler = restoreModesAndEnd;
    restoring.sa_flags = SA_RESETHAND;
    sigemptyset(&restoring.sa_mask);
    // A signal the program ignores (SIGHUP under nohup, say) stays ignored.
    struct sigaction previous[std::size(ENDING_SIGNALS)];
    for (size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
        sigaction(ENDING_SIGNALS[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN) {
            sigaction(ENDING_SIGNALS[i], &restoring, nullptr);
        }
    }
    termios quiet = g_modesBeforeQuestion;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    bool asked = tcsetattr(inputFd, TCSANOW, &quiet) == 0;
    // Draw "□" at the start of the line, then ask for the cursor position.
    const std::string_view question = "\r\xE2\x96\xA1\x1B[6n";
    asked = asked && ::write(outputFd, question.data(), question.size()) ==
                         static_cast<ssize_t>(question.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (size_t read = 0; asked && filter.lastReport.empty() && read < terminal::INPUT_PIECE;
         ++read) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{inputFd, POLLIN, 0};
        char byte = 0;
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
            ::read(inputFd, &byte, 1) != 1) {
            break;
        }
        filterReport(filter, byte, typed);
    }
    if (asked) {
        // Rub the character out again.
        const std::string_view erase = "\r\x1B[K";
        asked = ::write(outputFd, erase.data(), erase.size()) == static_cast<ssize_t>(erase.size());
    }
    tcsetattr(inputFd, TCSANOW, &g_modesBeforeQuestion);
    for (size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
        sigaction(ENDING_SIGNALS[i], &previous[i], nullptr);
    }
    g_questionedTerminal = -1;
    return asked ? filter.lastReport : std::string();
}

// The report is ESC [ row ; column R; the column after a one-column character is 2.
bool columnAfterOneCharacterIsTwo(const std::string& report) {
    return report.ends_with(";2R");
}

// A terminal that cannot answer is not asked: its user would see the question as garbage.
bool terminalCanAnswer() {
    const char* type = std::getenv("TERM");
    return type != nullptr && *type != '\0' && std::strcmp(type, "dumb") != 0;
}

}  // namespace

bool terminalDrawsAmbiguousNarrow(int inputFd, int outputFd, int timeoutMs,
                                  std::string& typedAhead) {
    ReportFilter filter;
    return columnAfterOneCharacterIsTwo(
        askCursorColumn(inputFd, outputFd, timeoutMs, filter, typedAhead));
}

namespace terminal {

bool speaksCodePage932() {
    return false;
}

bool isWatched() {
    return isatty(STDOUT_FILENO) != 0;
}

bool keysWaiting() {
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    // An error or a hang-up is read as the end of input.
    return poll(&ready, 1, 0) != 0;
}

// A line typed ends the sleep; one typed before it began does not, so that a replay, which
// reads none, sleeps on.
int paceSleep(int milliseconds) {
    if (!keysWaiting()) {
        const auto start = std::chrono::steady_clock::now();
        pollfd ready{STDIN_FILENO, POLLIN, 0};
        while (poll(&ready, 1, milliseconds) < 0 && errno == EINTR) {
        }
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        return static_cast<int>(std::min<int64_t>(milliseconds, waited.count()));
    }
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000};
    // A signal that interrupts the sleep does not shorten it.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    return milliseconds;
}

Attached attach(bool askWidth) {
    Attached attached;
    // Only a terminal on both ends can answer; a pipe is not asked.
    attached.reportsMayCome =
        askWidth && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && terminalCanAnswer();
    if (attached.reportsMayCome) {
        attached.drawsAmbiguousNarrow = columnAfterOneCharacterIsTwo(
            askCursorColumn(STDIN_FILENO, STDOUT_FILENO, ANSWER_WAIT_MILLISECONDS, attached.reports,
                            attached.typedAhead));
    }
    return attached;
}

}  // namespace terminal

}  // namespace numoteka
