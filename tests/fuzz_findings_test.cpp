// Faults the fuzz targets found, each as the smallest case that shows it. The inputs that
// found them are in the targets' corpora, named for the fault.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/console.h"
#include "harness.h"
#include "records/ranking.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

// Whether code page 932 text ends in a lead byte whose trail byte is missing.
bool endsInHalfCharacter(const std::string& text) {
    size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        if (lead && at + 1 == text.size()) {
            return true;
        }
        at += lead ? 2 : 1;
    }
    return false;
}

std::string repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

void writeFile(const char* path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> namesFileLines() {
    std::ifstream file("System/name_data.dat", std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

class FuzzFinding : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        setRankingFolder("System", false);
        fs::create_directory("System");
    }

    ScratchFolder scratch_{"numoteka_finding_"};
};

// A name may end in a lead byte whose trail byte never came: typed so on a Shift_JIS terminal
// (the name entry takes any bytes up to the line end), or found so in a names file edited by
// hand. A save keeps names to whole characters, as it does when it cuts a long name at 12
// bytes, so such a byte must not be written: in the file it would take the line's CR as its
// trail byte.
TEST_F(FuzzFinding, SaveNeverWritesANameEndingInHalfACharacter) {
    // "テ" and the lead byte of another character as the human's name.
    std::memcpy(g_players[PLAYER_HUMAN].name, "\x83\x65\x83", 4);
    saveRecord('1', 12);
    ASSERT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(namesFileLines().at(0), "\x83\x65");

    // A stored name that is one lead byte alone, kept at place 1 by a later win.
    writeFile("System/dice_data.dat", "3\r\n" + repeated("5000\r\n", 29));
    writeFile("System/name_data.dat", "\x83\r\n" + repeated("\r\n", 29));
    std::memcpy(g_players[PLAYER_HUMAN].name, "A", 2);
    saveRecord('1', 12);
    ASSERT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(namesFileLines().at(0), "");
    EXPECT_EQ(namesFileLines().at(1), "A");
}

// The same through a whole game on a Shift_JIS terminal: the name is the single byte 0xE3, the
// game on easy is won and saved (seed 26, "1" and Enter over and over).
TEST_F(FuzzFinding, WonGameOnAShiftJisTerminalSavesNoHalfCharacter) {
    const std::string shown =
        playSession(26, "1\n\xe3\n2\n" + repeated("11\n", 59), TerminalEncoding::ShiftJis);
    ASSERT_NE(shown.find(cp932("セーブしました！\n")), std::string::npos);
    const std::vector<std::string> names = namesFileLines();
    ASSERT_EQ(names.size(), 30u);
    for (const std::string& name : names) {
        EXPECT_FALSE(endsInHalfCharacter(name)) << "\"" << name << "\"";
    }
}

}  // namespace
}  // namespace numoteka::testing
