// Shared helpers for driving the game in memory: typed keys in, terminal text out.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "core/players.h"

namespace numoteka::testing {

// The generator's rule worked by hand, independently of the game's code: draw k (from 1) after
// seeding with `seed`.
int drawAfter(uint32_t seed, int k);

// The first seed whose successive draws satisfy draw % divisor == remainder, one pair per draw.
// So findSeed({{6, 1}, {20, 7}}) gives a seed whose first die shows 2 and whose second draw
// leaves 7 modulo 20.
uint32_t findSeed(std::initializer_list<std::pair<int, int>> draws);

// A whole run from start-up, on a UTF-8 memory terminal unless told otherwise. Returns what
// the terminal showed.
std::string playSession(uint32_t seed, std::string typed,
                        TerminalEncoding encoding = TerminalEncoding::Utf8);

// A text of the game in code page 932, for setting names in records.
std::string cp932(const char* utf8);

// Sets a contestant's record.
void setContestant(int player, const char* utf8Name, int32_t hp, int32_t attack, int32_t defense,
                   int32_t position = 0, int32_t restTurns = 0);

// `text` `times` times over.
std::string repeated(const std::string& text, int times);

// What a file holds, every byte; empty when it cannot be read.
std::string fileText(const std::filesystem::path& path);

// Makes the file hold exactly `bytes`.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// The lines, each followed by `end`.
std::string joined(const std::vector<std::string>& lines, const char* end = "\r\n");

// A run of the real program (the test build's numoteka) in the current folder, with `typed` on
// its standard input, in the locale `locale`, its environment otherwise the test's own but for
// the ranking folder's variable.
struct Invocation {
    std::vector<std::string> arguments;
    std::string typed = "2\n";
    std::string locale = "C.UTF-8";
    const char* rankingVariable = nullptr;  // NUMOTEKA_RANKING_DIR; unset when null
};

struct ProgramRun {
    int status;  // the exit status, -1 when a signal ended it
    std::string out;
    std::string err;
};

ProgramRun runBinary(const Invocation& invocation);

// A fresh folder of a test's own (mkdtemp), unless `enter` is false the current directory until
// it is destroyed, and with it everything in it. In memory where the machine has /dev/shm: every
// save syncs its files, which a disk makes slow.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix, bool enter = true);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const {
        return folder_;
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

// The fixture for single scenes: pauses shortened, both records cleared, the human named
// "テスト" and the computer "マサル", an empty memory terminal.
class SceneTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // What the user will type from now on (UTF-8 terminal).
    void type(std::string keys);

    // The screen text since the last call.
    std::string screen();

    // Whether the scene read every key typed: one more read must find the end of input.
    // (It consumes a byte when it fails.)
    bool allKeysRead();
};

}  // namespace numoteka::testing
