#include "daily/replay_code.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace numoteka {

namespace {

constexpr uint8_t VERSION = 1;
constexpr size_t HEADER_BYTES = 7;  // version, seed, day
constexpr size_t CHECKSUM_BYTES = 4;

// The lines that runs stand for, by kind.
constexpr std::string_view COMMON_LINES[] = {"\n", "1\n", "2\n", "3\n"};
constexpr int LITERAL_AGAIN = 4;    // a run of the last literal line
constexpr int ENTERS_THEN_ONE = 5;  // 0 to 31 lines "\n", then "1\n": a round's usual keys
constexpr int LITERAL = 7;
constexpr int MARK = 6;
constexpr uint8_t PRACTICE_MARK = MARK << 5 | 1;
constexpr uint8_t RANKING_FOUND_MARK = MARK << 5 | 2;
constexpr size_t LONGEST_RUN = 32;
constexpr size_t LENGTH_FOLLOWS = 31;

constexpr std::string_view BASE64URL =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

uint32_t crc32(std::string_view bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> made{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 1) != 0 ? 0xEDB88320u ^ (value >> 1) : value >> 1;
            }
            made[i] = value;
        }
        return made;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc = table[(crc ^ static_cast<uint8_t>(byte)) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void appendLittleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
    }
}

uint32_t readLittleEndian(std::string_view bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
    }
    return value;
}

// The kind of a common line, or LITERAL.
int kindOf(std::string_view line) {
    for (int kind = 0; kind < static_cast<int>(std::size(COMMON_LINES)); ++kind) {
        if (line == COMMON_LINES[kind]) {
            return kind;
        }
    }
    return LITERAL;
}

// The lines of `typed`, each with its line feed (the last may have none).
std::vector<std::string_view> splitLines(std::string_view typed) {
    std::vector<std::string_view> lines;
    while (!typed.empty()) {
        const size_t lineFeed = typed.find('\n');
        const size_t length = lineFeed == std::string_view::npos ? typed.size() : lineFeed + 1;
        lines.push_back(typed.substr(0, length));
        typed.remove_prefix(length);
    }
    return lines;
}

std::string toBase64url(std::string_view bytes) {
    std::string text;
    for (size_t at = 0; at < bytes.size(); at += 3) {
        uint32_t group = 0;
        const size_t taken = std::min<size_t>(3, bytes.size() - at);
        for (size_t i = 0; i < 3; ++i) {
            group = group << 8 | (i < taken ? static_cast<uint8_t>(bytes[at + i]) : 0);
        }
        for (size_t i = 0; i <= taken; ++i) {
            text.push_back(BASE64URL[group >> (18 - 6 * i) & 0x3F]);
        }
    }
    return text;
}

// Only the text toBase64url() writes: no padding, no other characters, unused bits zero.
std::optional<std::string> fromBase64url(std::string_view text) {
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::string bytes;
    uint32_t bits = 0;
    int held = 0;
    for (const char character : text) {
        const size_t value = BASE64URL.find(character);
        if (value == std::string_view::npos) {
            return std::nullopt;
        }
        bits = bits << 6 | static_cast<uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes.push_back(static_cast<char>(bits >> held & 0xFF));
        }
    }
    if ((bits & ((1u << held) - 1)) != 0) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

std::string lineTokens(std::string_view typed) {
    const std::vector<std::string_view> lines = splitLines(typed);
    std::string out;
    std::string_view lastLiteral;
    const auto token = [&](int kind, size_t count) {
        out.push_back(static_cast<char>(kind << 5 | count));
    };
    for (size_t at = 0; at < lines.size();) {
        int kind = kindOf(lines[at]);
        size_t run = 1;
        if (kind == LITERAL && lines[at] == lastLiteral) {
            kind = LITERAL_AGAIN;
        }
        const auto sameKind = [&](size_t next) {
            return next < lines.size() && run < LONGEST_RUN &&
                   (kind == LITERAL_AGAIN ? lines[next] == lastLiteral
                                          : kindOf(lines[next]) == kind);
        };
        if (kind != LITERAL) {
            while (sameKind(at + run)) {
                ++run;
            }
        }
        if (kind == 0 && run < LONGEST_RUN && at + run < lines.size() &&
            lines[at + run] == COMMON_LINES[1]) {
            token(ENTERS_THEN_ONE, run);
            at += run + 1;
        } else if (kind == 1 && run == 1) {
            token(ENTERS_THEN_ONE, 0);
            ++at;
        } else if (kind != LITERAL) {
            token(kind, run - 1);
            at += run;
        } else {
            const std::string_view line = lines[at++];
            lastLiteral = line;
            const size_t low = std::min(line.size(), LENGTH_FOLLOWS);
            token(LITERAL, low);
            if (low == LENGTH_FOLLOWS) {
                size_t rest = line.size() - LENGTH_FOLLOWS;
                do {
                    out.push_back(static_cast<char>((rest & 0x7F) | (rest > 0x7F ? 0x80 : 0)));
                    rest >>= 7;
                } while (rest > 0);
            }
            out.append(line);
        }
    }
    return out;
}

std::optional<std::string> tokenLines(std::string_view tokens, bool* practice, bool* rankingFound) {
    std::string typed;
    std::string_view lastLiteral;
    size_t at = 0;
    while (at < tokens.size()) {
        const auto token = static_cast<uint8_t>(tokens[at++]);
        const int kind = token >> 5;
        size_t count = token & 0x1F;
        if (kind == ENTERS_THEN_ONE) {
            typed.append(count, '\n');
            typed.append(COMMON_LINES[1]);
        } else if (kind < static_cast<int>(std::size(COMMON_LINES)) ||
                   (kind == LITERAL_AGAIN && !lastLiteral.empty())) {
            const std::string_view line = kind == LITERAL_AGAIN ? lastLiteral : COMMON_LINES[kind];
            for (size_t i = 0; i <= count; ++i) {
                typed.append(line);
            }
        } else if (kind == LITERAL) {
            if (count == LENGTH_FOLLOWS) {
                for (int shift = 0;; shift += 7) {
                    if (at == tokens.size() || shift > 21) {
                        return std::nullopt;
                    }
                    const auto byte = static_cast<uint8_t>(tokens[at++]);
                    count += size_t{byte & 0x7Fu} << shift;
                    if ((byte & 0x80) == 0) {
                        break;
                    }
                }
            }
            if (count > tokens.size() - at) {
                return std::nullopt;
            }
            lastLiteral = tokens.substr(at, count);
            typed.append(lastLiteral);
            at += count;
        } else if (token == PRACTICE_MARK && at == tokens.size()) {
            if (practice != nullptr) {
                *practice = true;
            }
        } else if (token == RANKING_FOUND_MARK &&
                   (at == tokens.size() || (at + 1 == tokens.size() &&
                                            static_cast<uint8_t>(tokens[at]) == PRACTICE_MARK))) {
            if (rankingFound != nullptr) {
                *rankingFound = true;
            }
        } else {
            return std::nullopt;
        }
        if (typed.size() > REPLAY_TYPED_LIMIT) {
            return std::nullopt;
        }
    }
    return typed;
}

std::string encodeReplay(const Replay& replay) {
    std::string bytes(1, static_cast<char>(VERSION));
    appendLittleEndian(bytes, replay.seed, 4);
    appendLittleEndian(bytes, static_cast<uint32_t>(replay.day), 2);
    bytes += lineTokens(replay.typed);
    if (replay.rankingFound) {
        bytes.push_back(static_cast<char>(RANKING_FOUND_MARK));
    }
    if (replay.practice) {
        bytes.push_back(static_cast<char>(PRACTICE_MARK));
    }
    appendLittleEndian(bytes, crc32(bytes), CHECKSUM_BYTES);
    return toBase64url(bytes);
}

std::optional<Replay> decodeReplay(std::string_view code) {
    if (code.size() > REPLAY_CODE_LIMIT) {
        return std::nullopt;
    }
    const std::optional<std::string> bytes = fromBase64url(code);
    if (!bytes || bytes->size() < HEADER_BYTES + CHECKSUM_BYTES ||
        static_cast<uint8_t>((*bytes)[0]) != VERSION) {
        return std::nullopt;
    }
    const std::string_view guarded =
        std::string_view(*bytes).substr(0, bytes->size() - CHECKSUM_BYTES);
    if (crc32(guarded) != readLittleEndian(*bytes, guarded.size(), CHECKSUM_BYTES)) {
        return std::nullopt;
    }
    Replay replay;
    replay.seed = readLittleEndian(guarded, 1, 4);
    replay.day = static_cast<Day>(readLittleEndian(guarded, 5, 2));
    std::optional<std::string> typed =
        tokenLines(guarded.substr(HEADER_BYTES), &replay.practice, &replay.rankingFound);
    if (!typed || replay.seed != dailySeed(replay.day)) {
        return std::nullopt;
    }
    replay.typed = std::move(*typed);
    return replay;
}

}  // namespace numoteka
