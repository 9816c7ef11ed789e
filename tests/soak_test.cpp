// Thousands of whole sessions on random keys: every session ends, the records stay sound at
// every read, and the ranking files stay whole.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/game.h"
#include "core/primitives.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

constexpr int SESSIONS = 2000;

// ---- What the game must keep true whenever it waits for a key ----

std::atomic<uint64_t> g_reads{0};
uint64_t g_sessionStart = 0;  // g_reads when the session started
std::string g_broken;         // the first broken invariant of the session, with the records

void checkRecords() {
    g_reads.fetch_add(1, std::memory_order_relaxed);
    if (!g_broken.empty()) {
        return;
    }
    for (int player : {PLAYER_HUMAN, PLAYER_COMPUTER}) {
        const PlayerRecord& record = g_players[player];
        if (record.position < 0 || record.hp < 0 || record.attack < 0 || record.defense < 0 ||
            record.restTurns < 0) {
            g_broken = "player " + std::to_string(player) + ": position " +
                       std::to_string(record.position) + ", hp " + std::to_string(record.hp) +
                       ", attack " + std::to_string(record.attack) + ", defense " +
                       std::to_string(record.defense) + ", rest " +
                       std::to_string(record.restTurns) + " at read " +
                       std::to_string(g_reads.load() - g_sessionStart);
        }
    }
}

// ---- Random keys ----

// Full-width characters a person may type; none of them occurs in an opponent's name, so a
// rest notice can be told apart by its name. "ソ" and "表" end in the byte 0x5C ("\").
constexpr const char* FULL_WIDTH[] = {"あ", "い", "う", "カ", "キ", "ソ", "表", "能", "漢", "字",
                                      "Ａ", "１", "　", "・", "ー", "！", "？", "★",  "◆",  "＊"};
// Characters code page 932 does not hold.
constexpr const char* EMOJI[] = {"😀", "🎲", "👍🏽", "☃", "€", "한"};
// Bytes typed as they are: no UTF-8 (stray continuations, overlong forms, surrogates, cut
// characters, raw Shift_JIS, a lone lead byte) and control bytes (NUL, a CR without LF, ...).
constexpr std::string_view ODD[] = {"\x80",     "\xFF",         "\xC0\xAF", "\xED\xA0\x80",
                                    "\xE3\x81", "\xF0\x9F\x98", "\x83\x5C", "\x83",
                                    "\xFE\xFE", {"\0", 1},      "\r",       "\t",
                                    "\x1B[A",   "\x7F",         "\b"};

enum Key {
    ONE,
    ENTER,
    CR_LF,
    TWO,
    THREE,
    DIGIT,
    LETTER,
    WIDE,
    EMOJI_KEY,
    ODD_BYTES,
    LONG,
    KEY_KINDS
};

// Each session draws its own mix, so that some play on calmly and others are mostly noise.
std::vector<double> drawMix(std::mt19937& random) {
    std::uniform_real_distribution<double> noise(0.0, 1.0);
    const double calm = noise(random);
    std::vector<double> weights(KEY_KINDS);
    weights[ONE] = 40;
    weights[ENTER] = 30;
    weights[CR_LF] = 3 * noise(random);
    weights[TWO] = 0.5 + 3 * noise(random);
    weights[THREE] = 0.5 + 3 * noise(random);
    weights[DIGIT] = 3 * noise(random) * calm;
    weights[LETTER] = 8 * noise(random) * calm;
    weights[WIDE] = 6 * noise(random) * calm;
    weights[EMOJI_KEY] = 2 * noise(random) * calm;
    weights[ODD_BYTES] = 2 * noise(random) * calm;
    weights[LONG] = 0.02 * calm;
    return weights;
}

template <typename T, size_t N>
const T& pick(std::mt19937& random, const T (&items)[N]) {
    return items[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

std::string longLine(std::mt19937& random) {
    std::string line;
    const size_t length = std::uniform_int_distribution<size_t>(1000, 5000)(random);
    const int filler = std::uniform_int_distribution<int>(0, 2)(random);
    while (line.size() < length) {
        if (filler == 0) {
            line += static_cast<char>('a' + random() % 26);
        } else if (filler == 1) {
            line += pick(random, FULL_WIDTH);
        } else {
            line += random() % 2 == 0 ? "1" : "x";
        }
    }
    return line + "\n";
}

std::string drawKeyText(std::mt19937& random, int kind) {
    switch (kind) {
        case ONE:
            return "1";
        case ENTER:
            return "\n";
        case CR_LF:
            return "\r\n";
        case TWO:
            return "2";
        case THREE:
            return "3";
        case DIGIT:
            return std::string(1, "0456789"[random() % 7]);
        case LETTER:
            return std::string(1,
                               static_cast<char>((random() % 2 == 0 ? 'a' : 'A') + random() % 26));
        case WIDE:
            return pick(random, FULL_WIDTH);
        case EMOJI_KEY:
            return pick(random, EMOJI);
        default:
            return longLine(random);
    }
}

// A key as the terminal sends it: on a Shift_JIS terminal characters arrive as code page 932
// (and those it lacks as "?"); odd bytes arrive as they are on either.
std::string drawKey(std::mt19937& random, std::discrete_distribution<int>& mix,
                    TerminalEncoding encoding) {
    const int kind = mix(random);
    if (kind == ODD_BYTES) {
        return std::string(pick(random, ODD));
    }
    const std::string text = drawKeyText(random, kind);
    return encoding == TerminalEncoding::ShiftJis ? toCp932(text) : text;
}

struct Session {
    uint32_t seed;
    TerminalEncoding encoding;
    std::string keys;
};

// A session opens a game on its own difficulty with a name of some kind, then types at random;
// every fourth is on a Shift_JIS terminal. The keys end in two line feeds: a quit from the
// menu reads two bytes, the first being "2", so a session whose input is all read has ended on
// the end of input.
Session drawSession(int index) {
    std::mt19937 random(static_cast<uint32_t>(index) * 7919u + 1u);
    const TerminalEncoding encoding =
        index % 4 == 3 ? TerminalEncoding::ShiftJis : TerminalEncoding::Utf8;
    Session session{static_cast<uint32_t>(random()), encoding, ""};
    if (random() % 8 != 0) {
        std::string name;
        const int nameKind = static_cast<int>(random() % 5);
        if (nameKind == 1) {
            name = std::string("Player").substr(0, 1 + random() % 6);
        } else if (nameKind == 2) {
            name = std::string(pick(random, FULL_WIDTH)) + pick(random, FULL_WIDTH);
        } else if (nameKind == 3) {
            name = std::string(pick(random, EMOJI)) + "\xFF" + "z";
        } else if (nameKind == 4) {
            name = "abcdefghijk\nshort";  // refused, then a good one
        }
        if (encoding == TerminalEncoding::ShiftJis) {
            name = toCp932(name);
        }
        session.keys = "1\n" + name + "\n" + static_cast<char>('1' + random() % 3) + "\n";
    }
    const std::vector<double> weights = drawMix(random);
    std::discrete_distribution<int> mix(weights.begin(), weights.end());
    const size_t keys = std::uniform_int_distribution<size_t>(100, 1600)(random);
    for (size_t i = 0; i < keys; ++i) {
        session.keys += drawKey(random, mix, encoding);
    }
    session.keys += "\n\n";
    return session;
}

// ---- What a session showed ----

// Where `part` next occurs in `text` from `from` on, or npos. (memmem: a session shows up to
// megabytes, and searching them char by char is slow under the sanitizers.)
size_t findFrom(const std::string& text, const std::string& part, size_t from) {
    if (from > text.size()) {
        return std::string::npos;
    }
    const void* found = memmem(text.data() + from, text.size() - from, part.data(), part.size());
    return found == nullptr ? std::string::npos
                            : static_cast<size_t>(static_cast<const char*>(found) - text.data());
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = findFrom(text, part, 0); at != std::string::npos;
         at = findFrom(text, part, at + part.size())) {
        ++count;
    }
    return count;
}

constexpr const char* OPPONENTS[] = {"マサル", "ふにゃんこ丸", "魔王"};

// Human turns shown by their heading, plus the rounds the human sat out.
size_t roundsIn(const std::string& shown) {
    size_t rounds = countOf(shown, "ターン目）\n>>");
    const std::string notice = "さんはあと";
    for (size_t at = findFrom(shown, notice, 0); at != std::string::npos;
         at = findFrom(shown, notice, at + notice.size())) {
        bool opponent = false;
        for (const std::string name : OPPONENTS) {
            for (const std::string before : {"\n", ">>"}) {
                const std::string start = before + name;
                opponent = opponent || (at >= start.size() &&
                                        shown.compare(at - start.size(), start.size(), start) == 0);
            }
        }
        rounds += opponent ? 0 : 1;
    }
    return rounds;
}

// The difficulty and the turn count of every save shown, from the last greeting and the last
// turn heading before it (a human wins only on a turn of their own).
std::vector<std::pair<int, int>> savesIn(const std::string& shown) {
    std::vector<std::pair<int, int>> saves;
    const std::string saved = "セーブしました！\n";
    const std::string strength = "･･････強さ：";
    const std::string turn = "（";
    for (size_t at = findFrom(shown, saved, 0); at != std::string::npos;
         at = findFrom(shown, saved, at + saved.size())) {
        const size_t greeting = shown.rfind(strength, at) + strength.size();
        const int table = shown.compare(greeting, 6, "normal") == 0 ? 0
                          : shown.compare(greeting, 4, "easy") == 0 ? 1
                                                                    : 2;
        const size_t heading = shown.rfind("ターン目）\n>>", at);
        const size_t number = shown.rfind(turn, heading) + turn.size();
        saves.emplace_back(table, std::stoi(shown.substr(number, heading - number)));
    }
    return saves;
}

struct Tally {
    size_t sessions = 0;
    size_t rounds = 0;
    size_t humanWins = 0;
    size_t computerWins = 0;
    size_t giveUps = 0;
    size_t saves = 0;
    size_t quits = 0;
    size_t inputEnds = 0;
    uint64_t reads = 0;
};

// ---- The ranking files ----

std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The 30 CR LF lines of a ranking file, or a failure.
::testing::AssertionResult crLfLines(const fs::path& path, std::vector<std::string>& lines) {
    const std::string text = fileText(path);
    lines.clear();
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            return ::testing::AssertionFailure() << path << ": a line without CR LF at " << at;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    if (lines.size() != 30) {
        return ::testing::AssertionFailure() << path << ": " << lines.size() << " lines";
    }
    for (const std::string& line : lines) {
        if (line.find_first_of(std::string("\n\0", 2)) != std::string::npos) {
            return ::testing::AssertionFailure() << path << ": a line holds LF or NUL";
        }
    }
    return ::testing::AssertionSuccess();
}

// Both files whole; each table ascending and holding the best (lowest) counts of the wins saved
// into it, with a name beside each.
::testing::AssertionResult rankingIsSound(const std::vector<std::vector<int>>& saved) {
    const bool haveCounts = fs::exists("System/dice_data.dat");
    if (haveCounts != fs::exists("System/name_data.dat")) {
        return ::testing::AssertionFailure() << "only one of the two ranking files exists";
    }
    for (const auto& item : fs::directory_iterator("System")) {
        const std::string file = item.path().filename().string();
        if (file != "dice_data.dat" && file != "name_data.dat" && file != "ranking.lock") {
            return ::testing::AssertionFailure() << "left behind: " << file;
        }
    }
    if (!haveCounts) {
        return saved[0].size() + saved[1].size() + saved[2].size() == 0
                   ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "saves shown, but no files";
    }
    std::vector<std::string> counts;
    std::vector<std::string> names;
    if (auto lines = crLfLines("System/dice_data.dat", counts); !lines) {
        return lines;
    }
    if (auto lines = crLfLines("System/name_data.dat", names); !lines) {
        return lines;
    }
    for (int table = 0; table < 3; ++table) {
        std::vector<int> best = saved[table];
        std::sort(best.begin(), best.end());
        best.resize(10, 5000);
        for (int place = 0; place < 10; ++place) {
            const std::string& count = counts[table * 10 + place];
            const std::string& name = names[table * 10 + place];
            if (count.empty() || count.size() > 4 ||
                count.find_first_not_of("0123456789") != std::string::npos) {
                return ::testing::AssertionFailure() << "count line \"" << count << "\"";
            }
            if (name.size() > 12) {
                return ::testing::AssertionFailure() << "a name of " << name.size() << " bytes";
            }
            if (std::stoi(count) != best[place] || name.empty() != (best[place] == 5000)) {
                return ::testing::AssertionFailure()
                       << "table " << table << " place " << place + 1 << ": " << count << " \""
                       << name << "\", expected the count " << best[place];
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// ---- The run ----

// Sessions play in a fresh folder of their own with an empty System, where saves really land.
// The folder is in memory where the machine has /dev/shm: every save syncs its files to the
// disk, and a thousand and more syncs on a disk would take longer than all the games.
class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory("System");
        setDelayPauseLength(0);
        setReadObserver(checkRecords);
    }

    void TearDown() override {
        setReadObserver(nullptr);
        attachMemoryTerminal("", TerminalEncoding::Utf8);
    }

    ScratchFolder scratch_{"numoteka_soak_"};
};

// A session that stops reading without ending would hang the run: after this long without a
// read, the run is stopped with the session's number.
class Watchdog {
public:
    explicit Watchdog(const std::atomic<int>& session)
        : thread_([this, &session] {
              uint64_t lastReads = g_reads.load();
              auto lastProgress = std::chrono::steady_clock::now();
              while (!done_.load()) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  const uint64_t reads = g_reads.load();
                  const auto now = std::chrono::steady_clock::now();
                  if (reads != lastReads) {
                      lastReads = reads;
                      lastProgress = now;
                  } else if (now - lastProgress > std::chrono::seconds(20)) {
                      std::fprintf(stderr, "session %d has read nothing for 20 s\n",
                                   session.load());
                      std::abort();
                  }
              }
          }) {}

    ~Watchdog() {
        done_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST_F(Soak, ThousandsOfRandomSessionsEndSoundly) {
    const auto start = std::chrono::steady_clock::now();
    Tally tally;
    std::vector<std::vector<int>> saved(3);
    std::atomic<int> current{0};
    Watchdog watchdog(current);
    for (int index = 0; index < SESSIONS; ++index) {
        current.store(index);
        const Session session = drawSession(index);
        g_sessionStart = g_reads.load();
        g_broken.clear();
        attachMemoryTerminal(session.keys, session.encoding);
        ASSERT_EQ(runGame(session.seed), 0) << "session " << index;
        const std::string shown = session.encoding == TerminalEncoding::ShiftJis
                                      ? fromCp932(takeTerminalOutput())
                                      : takeTerminalOutput();
        const uint64_t reads = g_reads.load() - g_sessionStart;
        setReadObserver(nullptr);
        bool inputEnded = false;
        try {
            readByte();
        } catch (const InputEnded&) {
            inputEnded = true;
        }
        setReadObserver(checkRecords);

        const std::string where = "session " + std::to_string(index) + ", seed " +
                                  std::to_string(session.seed) + ", after " +
                                  std::to_string(reads) + " reads";
        ASSERT_EQ(g_broken, "") << where;
        ASSERT_GT(reads, 0u) << where;
        ASSERT_TRUE(shown.ends_with(FAREWELL)) << where;
        ASSERT_EQ(countOf(shown, FAREWELL), 1u) << where;
        ASSERT_EQ(countOf(shown, "セーブ失敗"), 0u) << where;
        for (const auto& [table, turns] : savesIn(shown)) {
            saved[table].push_back(turns);
        }
        ASSERT_TRUE(rankingIsSound(saved)) << where;

        ++tally.sessions;
        tally.reads += reads;
        tally.rounds += roundsIn(shown);
        tally.humanWins += countOf(shown, "さんの勝利！！！*************\n");
        for (const std::string name : OPPONENTS) {
            tally.computerWins += countOf(shown, "\n\n" + name + "の勝利！！！\n");
        }
        tally.giveUps += countOf(shown, TURN_MENU + MENU);
        tally.saves += countOf(shown, "セーブしました！\n");
        (inputEnded ? tally.inputEnds : tally.quits) += 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf(
        "soak: %zu sessions, %zu rounds, %llu reads in %.1f s\n"
        "soak: %zu human wins (%zu saved), %zu computer wins, %zu give-ups; "
        "sessions ended by quitting %zu, by the end of input %zu\n",
        tally.sessions, tally.rounds, static_cast<unsigned long long>(tally.reads), seconds,
        tally.humanWins, tally.saves, tally.computerWins, tally.giveUps, tally.quits,
        tally.inputEnds);
    EXPECT_EQ(tally.sessions, static_cast<size_t>(SESSIONS));
    EXPECT_GT(tally.humanWins, 0u);
    EXPECT_GT(tally.saves, 0u);
    EXPECT_GT(tally.computerWins, 0u);
    EXPECT_GT(tally.giveUps, 0u);
    EXPECT_GT(tally.quits, 0u);
    EXPECT_GT(tally.inputEnds, 0u);
    EXPECT_GE(tally.rounds, tally.sessions);
}

}  // namespace
}  // namespace numoteka::testing
