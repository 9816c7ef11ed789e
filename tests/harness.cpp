#include "harness.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/game.h"
#include "core/primitives.h"

namespace numoteka::testing {

int drawAfter(uint32_t seed, int k) {
    uint32_t state = seed;
    int draw = 0;
    for (int i = 0; i < k; ++i) {
        state = state * 214013u + 2531011u;
        draw = static_cast<int>((state >> 16) & 0x7FFF);
    }
    return draw;
}

uint32_t findSeed(std::initializer_list<std::pair<int, int>> draws) {
    for (uint32_t seed = 0;; ++seed) {
        int k = 0;
        bool fits = true;
        for (const auto& [divisor, remainder] : draws) {
            if (drawAfter(seed, ++k) % divisor != remainder) {
                fits = false;
                break;
            }
        }
        if (fits) {
            return seed;
        }
    }
}

std::string playSession(uint32_t seed, std::string typed, TerminalEncoding encoding) {
    setDelayPauseLength(0);
    attachMemoryTerminal(std::move(typed), encoding);
    EXPECT_EQ(runGame(seed), 0);
    return takeTerminalOutput();
}

std::string cp932(const char* utf8) {
    return toCp932(utf8);
}

void setContestant(int player, const char* utf8Name, int32_t hp, int32_t attack, int32_t defense,
                   int32_t position, int32_t restTurns) {
    PlayerRecord& record = g_players[player];
    const std::string name = cp932(utf8Name);
    ASSERT_LT(name.size(), sizeof record.name);
    std::memcpy(record.name, name.c_str(), name.size() + 1);
    record.hp = hp;
    record.attack = attack;
    record.defense = defense;
    record.position = position;
    record.restTurns = restTurns;
}

std::string repeated(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

std::string fileText(const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string joined(const std::vector<std::string>& lines, const char* end) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + end;
    }
    return text;
}

namespace {

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char byte : text) {
        result += byte == '\'' ? std::string("'\\''") : std::string(1, byte);
    }
    return result + "'";
}

}  // namespace

// The streams go through files in a scratch folder of the run's own, so that runs of the same
// test in two suites at once never meet.
ProgramRun runBinary(const Invocation& invocation) {
    const ScratchFolder streams("numoteka_run_", false);
    const std::string base = (streams.path() / "stream").string();
    std::ofstream(base + ".in", std::ios::binary) << invocation.typed;
    std::string command =
        "env -u LC_ALL -u LC_CTYPE -u NUMOTEKA_RANKING_DIR LANG=" + invocation.locale + " ";
    if (invocation.rankingVariable != nullptr) {
        command += "NUMOTEKA_RANKING_DIR=" + quoted(invocation.rankingVariable) + " ";
    }
    command += std::string("timeout 60 ") + NUMOTEKA_BINARY;
    for (const std::string& argument : invocation.arguments) {
        command += " " + quoted(argument);
    }
    command += " < " + base + ".in > " + base + ".out 2> " + base + ".err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(base + ".out"),
            fileText(base + ".err")};
}

ScratchFolder::ScratchFolder(const std::string& prefix, bool enter) {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::filesystem::filesystem_error("mkdtemp", pattern,
                                                std::error_code(errno, std::generic_category()));
    }
    folder_ = pattern;
    if (enter) {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_);
    }
}

ScratchFolder::~ScratchFolder() {
    if (!previous_.empty()) {
        std::filesystem::current_path(previous_);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void SceneTest::SetUp() {
    setDelayPauseLength(0);
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    setContestant(PLAYER_HUMAN, "テスト", 500, 100, 50);
    setContestant(PLAYER_COMPUTER, "マサル", 500, 100, 50);
}

void SceneTest::TearDown() {
    attachMemoryTerminal("", TerminalEncoding::Utf8);
}

void SceneTest::type(std::string keys) {
    attachMemoryTerminal(std::move(keys), TerminalEncoding::Utf8);
}

std::string SceneTest::screen() {
    return takeTerminalOutput();
}

bool SceneTest::allKeysRead() {
    try {
        readByte();
    } catch (const InputEnded&) {
        return true;
    }
    return false;
}

}  // namespace numoteka::testing
