// The conversion tables against the C library's own code page 932 converter: every code and
// every character, and random text with the "?" rule for what does not convert.
#include <iconv.h>

#include <cerrno>
#include <random>
#include <string>

#include "console/console.h"
#include "harness.h"
#include "utf8.h"

namespace numoteka::testing {
namespace {

bool isLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The longest start of a UTF-8 character (at least one byte), as the "?" rule counts it.
size_t utf8BadLength(std::string_view rest) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(rest[i]); };
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (byte(0) >= 0xC2 && byte(0) <= 0xDF) {
        length = 2;
    } else if (byte(0) >= 0xE0 && byte(0) <= 0xEF) {
        length = 3;
        low = byte(0) == 0xE0 ? 0xA0 : 0x80;
        high = byte(0) == 0xED ? 0x9F : 0xBF;
    } else if (byte(0) >= 0xF0 && byte(0) <= 0xF4) {
        length = 4;
        low = byte(0) == 0xF0 ? 0x90 : 0x80;
        high = byte(0) == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 1;
    }
    size_t valid = 1;
    while (valid < length && valid < rest.size() && byte(valid) >= (valid == 1 ? low : 0x80) &&
           byte(valid) <= (valid == 1 ? high : 0xBF)) {
        ++valid;
    }
    return valid;
}

// A lead byte with a byte that may trail it is one unconvertible character; else one byte.
size_t cp932BadLength(std::string_view rest) {
    const bool pair = rest.size() >= 2 && isLead(static_cast<unsigned char>(rest[0])) &&
                      static_cast<unsigned char>(rest[1]) >= 0x40 &&
                      static_cast<unsigned char>(rest[1]) <= 0xFC &&
                      static_cast<unsigned char>(rest[1]) != 0x7F;
    return pair ? 2 : 1;
}

// iconv, with each character it refuses written as "?".
struct Reference {
    iconv_t converter;
    size_t (*badLength)(std::string_view);

    std::string operator()(std::string_view input) const {
        std::string converted;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char buffer[256];
        while (inLeft > 0) {
            char* out = buffer;
            size_t outLeft = sizeof buffer;
            const size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
            converted.append(buffer, static_cast<size_t>(out - buffer));
            if (result != static_cast<size_t>(-1) || errno == E2BIG) {
                continue;
            }
            const size_t skip = badLength(std::string_view(in, inLeft));
            converted.push_back('?');
            in += skip;
            inLeft -= skip;
        }
        return converted;
    }
};

class Cp932Tables : public ::testing::Test {
protected:
    void TearDown() override {
        iconv_close(toCp932Reference.converter);
        iconv_close(fromCp932Reference.converter);
    }

    Reference toCp932Reference{iconv_open("CP932", "UTF-8"), utf8BadLength};
    Reference fromCp932Reference{iconv_open("UTF-8", "CP932"), cp932BadLength};
};

TEST_F(Cp932Tables, EveryCodeReadsAsTheCLibraryReadsIt) {
    int differences = 0;
    for (int first = 0; first < 256; ++first) {
        const std::string single(1, static_cast<char>(first));
        differences += fromCp932(single) != fromCp932Reference(single);
        for (int second = 0; second < 256; ++second) {
            const std::string pair{static_cast<char>(first), static_cast<char>(second)};
            const std::string expected = fromCp932Reference(pair);
            if (fromCp932(pair) != expected && ++differences <= 5) {
                ADD_FAILURE() << std::hex << first << " " << second << ": " << expected;
            }
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST_F(Cp932Tables, EveryCharacterTakesTheCodeTheCLibraryGivesIt) {
    int differences = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        const std::string character = utf8(c);
        const std::string expected = toCp932Reference(character);
        if (toCp932(character) != expected && ++differences <= 5) {
            ADD_FAILURE() << std::hex << static_cast<uint32_t>(c) << ": " << expected;
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST_F(Cp932Tables, RandomBytesConvertAsTheCLibraryWithTheQuestionMarkRule) {
    // Bytes drawn so that whole characters, cut ones, stray trail bytes and lead bytes at the
    // end all come up often.
    std::mt19937 random(932);
    const auto text = [&](bool utf8Like) {
        std::string bytes;
        for (int length = static_cast<int>(random() % 12); length > 0; --length) {
            const unsigned pick = random() % 4;
            unsigned byte = random() % 256;
            if (pick == 0) {
                byte = random() % 0x80;
            } else if (pick == 1) {
                byte = utf8Like ? 0xE0 + random() % 16 : 0x81 + random() % 31;
            } else if (pick == 2) {
                byte = utf8Like ? 0x80 + random() % 64 : 0x40 + random() % 0xBD;
            }
            bytes.push_back(static_cast<char>(byte));
        }
        return bytes;
    };
    for (int round = 0; round < 50000; ++round) {
        const std::string utf8Text = text(true);
        ASSERT_EQ(toCp932(utf8Text), toCp932Reference(utf8Text))
            << ::testing::PrintToString(utf8Text);
        const std::string cp932Text = text(false);
        ASSERT_EQ(fromCp932(cp932Text), fromCp932Reference(cp932Text))
            << ::testing::PrintToString(cp932Text);
    }
}

}  // namespace
}  // namespace numoteka::testing
