#include "daily/play_log.h"

#include <algorithm>
#include <filesystem>

#include "console/console.h"
#include "records/ranking.h"
#include "records/ranking_store.h"

namespace numoteka {

namespace {

constexpr std::string_view FIRST_LINE = "numoteka play log 1";
constexpr std::string_view NO_CODE = "-";
constexpr std::string_view BASE64URL_CHARACTERS =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
// No game takes this many turns; a count beyond is no count.
constexpr int32_t TURNS_LIMIT = 1000000;

constexpr Format<const char*, int> LOG_SET_ASIDE =
    "プレイ記録が壊れていたので %s として残し、読めた %d 件の記録で作り直しました\n";
constexpr Format<> LOG_UNREADABLE = "プレイ記録を読めませんでした\n";
constexpr Format<> LOG_NOT_WRITTEN =
    "プレイ記録に書けませんでした（このゲームは成績に入りません）\n";
constexpr Format<> END_NOT_WRITTEN =
    "プレイ記録にこのゲームの結果を書けませんでした（ギブアップとして残ります）\n";

// The words for the outcomes, by Outcome.
constexpr std::string_view OUTCOME_NAMES[] = {"won", "lost", "gave-up"};

std::optional<int32_t> turnsOf(std::string_view digits) {
    if (digits.empty() || digits.size() > 7 || digits.front() == '0' ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int32_t turns = 0;
    for (const char digit : digits) {
        turns = turns * 10 + (digit - '0');
    }
    return turns < TURNS_LIMIT ? std::optional(turns) : std::nullopt;
}

// One line of a game, or nothing.
std::optional<PlayRecord> gameOf(std::string_view line) {
    std::string_view fields[5];
    for (std::string_view& field : fields) {
        const size_t space = line.find(' ');
        field = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (field.empty()) {
            return std::nullopt;
        }
    }
    PlayRecord game;
    const std::optional<Day> day = parseDay(fields[0]);
    const auto outcome = std::find(std::begin(OUTCOME_NAMES), std::end(OUTCOME_NAMES), fields[2]);
    const std::optional<int32_t> turns = turnsOf(fields[3]);
    if (!line.empty() || !day || fields[1].size() != 1 || difficultyIndex(fields[1][0]) < 0 ||
        outcome == std::end(OUTCOME_NAMES) || !turns ||
        fields[4].find_first_not_of(BASE64URL_CHARACTERS) != std::string_view::npos) {
        return std::nullopt;
    }
    game.day = *day;
    game.difficulty = fields[1][0];
    game.outcome = static_cast<Outcome>(outcome - std::begin(OUTCOME_NAMES));
    game.turns = *turns;
    if (fields[4] != NO_CODE) {
        game.code = fields[4];
    }
    return game;
}

// Under the store's lock: the games of the log, a damaged one set aside first and its readable
// games written anew when `repair` (under the exclusive lock). Nothing when it can be neither
// read nor set aside.
std::optional<std::vector<PlayRecord>> loadLog(const std::string& folder, bool repair) {
    std::string text;
    const StoreRead read = readStoreFile(storePath(folder, PLAY_LOG_FILE), PLAY_LOG_LIMIT, text);
    if (read == StoreRead::MISSING) {
        return std::vector<PlayRecord>();
    }
    if (read == StoreRead::UNREADABLE) {
        say(LOG_UNREADABLE);
        return std::nullopt;
    }
    bool damaged = read == StoreRead::TOO_LONG;
    std::vector<PlayRecord> games = playLogGames(text, damaged);
    if (damaged && repair) {
        const std::string aside = setStoreFileAside(folder, PLAY_LOG_FILE);
        if (aside.empty()) {
            say(LOG_UNREADABLE);
            return std::nullopt;
        }
        say(LOG_SET_ASIDE, aside.c_str(), static_cast<int>(games.size()));
        // Should this fail, the games are in the file set aside, and the next write tries again.
        replaceStoreFile(folder, PLAY_LOG_FILE, playLogText(games));
    }
    return games;
}

}  // namespace

const char* outcomeName(Outcome outcome) {
    return OUTCOME_NAMES[static_cast<int>(outcome)].data();
}

std::string playLogText(const std::vector<PlayRecord>& games) {
    std::string text = std::string(FIRST_LINE) + "\n";
    for (const PlayRecord& game : games) {
        text += dayText(game.day) + " " + game.difficulty + " " +
                std::string(OUTCOME_NAMES[static_cast<int>(game.outcome)]) + " " +
                std::to_string(game.turns) + " " +
                (game.code.empty() ? std::string(NO_CODE) : game.code) + "\n";
    }
    return text;
}

std::vector<PlayRecord> playLogGames(std::string_view text, bool& damaged) {
    std::vector<PlayRecord> games;
    for (bool first = true; !text.empty(); first = false) {
        const size_t lineFeed = text.find('\n');
        std::string_view line = text.substr(0, lineFeed);
        text = lineFeed == std::string_view::npos ? std::string_view() : text.substr(lineFeed + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (first) {
            damaged = damaged || line != FIRST_LINE;
            if (line == FIRST_LINE) {
                continue;
            }
        }
        if (const std::optional<PlayRecord> game = gameOf(line)) {
            games.push_back(*game);
        } else {
            damaged = true;
        }
    }
    return games;
}

Entered enterDailyGame(const PlayRecord& game, Day today) {
    if (game.day != today) {
        return Entered::PRACTICE;
    }
    makeRankingFolder();
    const std::string& folder = rankingFolder();
    beginAside();
    Entered entered = Entered::UNRECORDED;
    StoreLock alone(folder, true);
    std::optional<std::vector<PlayRecord>> games;
    if (alone.held()) {
        games = loadLog(folder, true);
    }
    if (games && std::any_of(games->begin(), games->end(),
                             [&](const PlayRecord& kept) { return kept.day == game.day; })) {
        entered = Entered::PRACTICE;
    } else if (games) {
        games->push_back(game);
        entered = replaceStoreFile(folder, PLAY_LOG_FILE, playLogText(*games))
                      ? Entered::OFFICIAL
                      : Entered::UNRECORDED;
    }
    if (!alone.release() && entered == Entered::OFFICIAL) {
        entered = Entered::UNRECORDED;
    }
    if (entered == Entered::UNRECORDED) {
        say(LOG_NOT_WRITTEN);
    }
    endAside();
    return entered;
}

bool settleDailyGame(const PlayRecord& game) {
    const std::string& folder = rankingFolder();
    beginAside();
    bool settled = false;
    StoreLock alone(folder, true);
    std::optional<std::vector<PlayRecord>> games;
    if (alone.held()) {
        games = loadLog(folder, true);
    }
    if (games) {
        const auto begun =
            std::find_if(games->rbegin(), games->rend(),
                         [&](const PlayRecord& kept) { return kept.day == game.day; });
        if (begun != games->rend()) {
            *begun = game;
        } else {
            games->push_back(game);  // its entry gone meanwhile: the game is the day's still
        }
        settled = replaceStoreFile(folder, PLAY_LOG_FILE, playLogText(*games));
    }
    settled = alone.release() && settled;
    if (!settled) {
        say(END_NOT_WRITTEN);
    }
    endAside();
    return settled;
}

std::optional<std::vector<PlayRecord>> readPlayLog(bool repair) {
    const std::string& folder = rankingFolder();
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored)) {
        return std::vector<PlayRecord>();
    }
    beginAside();
    std::optional<std::vector<PlayRecord>> games;
    {
        const StoreLock lock(folder, repair);
        if (lock.held()) {
            games = loadLog(folder, repair);
        } else {
            say(LOG_UNREADABLE);
        }
    }
    endAside();
    return games;
}

}  // namespace numoteka
