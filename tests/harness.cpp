#include "harness.h"

#include <cstring>
#include <random>

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

void setRecord(int player, const char* utf8Name, int32_t hp, int32_t attack, int32_t defense,
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

ScratchFolder::ScratchFolder(const std::string& prefix)
    : previous_(std::filesystem::current_path()) {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    std::random_device random;
    do {
        folder_ = base / (prefix + std::to_string(random()));
    } while (!std::filesystem::create_directory(folder_));
    std::filesystem::current_path(folder_);
}

ScratchFolder::~ScratchFolder() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
}

void SceneTest::SetUp() {
    setDelayPauseLength(0);
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    setRecord(PLAYER_HUMAN, "テスト", 500, 100, 50);
    setRecord(PLAYER_COMPUTER, "マサル", 500, 100, 50);
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
