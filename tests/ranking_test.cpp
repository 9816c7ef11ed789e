// The ranking files: their display, the save's ordering and its safety against failures.
#include "records/ranking.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "console/cp932.h"
#include "harness.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

const char* const COUNTS = "System/dice_data.dat";
const char* const NAMES = "System/name_data.dat";

// "テスト" in code page 932, the fixture's human name.
const std::string TESTO = "\x83\x65\x83\x58\x83\x67";

// 30 lines: the three tables in order, each given as its ten lines.
std::vector<std::string> tables(std::vector<std::string> normal, std::vector<std::string> easy,
                                std::vector<std::string> hard) {
    std::vector<std::string> lines = std::move(normal);
    lines.insert(lines.end(), easy.begin(), easy.end());
    lines.insert(lines.end(), hard.begin(), hard.end());
    return lines;
}

const std::vector<std::string> EMPTY_COUNTS(10, "5000");
// Places 2 to 10 of a table shown with nothing in them.
const std::string NINE_EMPTY_ROWS =
    " 2位：\t\t 5000\n"
    " 3位：\t\t 5000\n"
    " 4位：\t\t 5000\n"
    " 5位：\t\t 5000\n"
    " 6位：\t\t 5000\n"
    " 7位：\t\t 5000\n"
    " 8位：\t\t 5000\n"
    " 9位：\t\t 5000\n"
    "10位：\t\t 5000\n";
const std::vector<std::string> EMPTY_NAMES(10, "");

// Every test runs in a fresh folder of its own.
class RankingTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        setRankingFolder("System", false);
        g_rankingFaults = {};
    }

    void TearDown() override {
        g_rankingFaults = {};
        SceneTest::TearDown();
    }

    ScratchFolder scratch_{"numoteka_ranking_"};

    static std::optional<std::string> read(const char* path) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            return std::nullopt;
        }
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // The lines of the names file, each without its CR LF.
    static std::vector<std::string> namesFileLines() {
        const std::string text = fileText(NAMES);
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }

    static std::set<std::string> folderFiles() {
        std::set<std::string> files;
        for (const auto& item : fs::directory_iterator("System")) {
            files.insert(item.path().filename().string());
        }
        return files;
    }

    // A stored pair: normal and hard hold a few wins, easy is full.
    static void storeSample() {
        fs::create_directory("System");
        writeFile(
            COUNTS,
            joined(tables(
                {"7", "8", "5000", "5000", "5000", "5000", "5000", "5000", "5000", "5000"},
                {"10", "12", "12", "20", "30", "40", "50", "60", "70", "80"},
                {"33", "5000", "5000", "5000", "5000", "5000", "5000", "5000", "5000", "5000"})));
        writeFile(NAMES, joined(tables({"n1", "n2", "", "", "", "", "", "", "", ""},
                                       {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"},
                                       {"h1", "", "", "", "", "", "", "", "", ""})));
    }
};

TEST_F(RankingTest, FirstSaveWritesBothFilesWithCrLf) {
    fs::create_directory("System");
    saveRecord('2', 12);
    EXPECT_EQ(screen(), "セーブしました！\n");
    std::vector<std::string> counts(30, "5000");
    counts[10] = "12";
    std::vector<std::string> names(30, "");
    names[10] = TESTO;
    EXPECT_EQ(read(COUNTS), joined(counts));
    EXPECT_EQ(read(NAMES), joined(names));
    EXPECT_EQ(folderFiles(),
              (std::set<std::string>{"dice_data.dat", "name_data.dat", "ranking.lock"}));

    type("2\n");
    showRanking();
    EXPECT_EQ(screen(),
              "1.normal 2.easy 3.hard\n"
              "\nコンピュータ：ふにゃんこ丸 easy\n"
              "      名前\t\tターン数\n"
              " 1位：テスト\t\t   12\n" +
                  NINE_EMPTY_ROWS);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(RankingTest, CountOf5000OrMoreDoesNotEnterAnEmptyTable) {
    fs::create_directory("System");
    for (int32_t count : {5000, 10000}) {
        saveRecord('3', count);
        EXPECT_EQ(screen(), "セーブしました！\n");
        EXPECT_EQ(read(COUNTS), joined(std::vector<std::string>(30, "5000"))) << count;
        EXPECT_EQ(read(NAMES), joined(std::vector<std::string>(30, ""))) << count;
        fs::remove(COUNTS);
        fs::remove(NAMES);
    }
}

TEST_F(RankingTest, SavesKeepTheFewestTurnsWithStoredEntriesFirstOnTies) {
    storeSample();
    const std::string normalCounts = "7\r\n8\r\n" + joined(std::vector<std::string>(8, "5000"));
    const std::string hardCounts = "33\r\n" + joined(std::vector<std::string>(9, "5000"));
    const std::string normalNames = "n1\r\nn2\r\n" + joined(std::vector<std::string>(8, ""));
    const std::string hardNames = "h1\r\n" + joined(std::vector<std::string>(9, ""));
    const auto expectEasy = [&](const std::vector<std::string>& counts,
                                const std::vector<std::string>& names) {
        EXPECT_EQ(read(COUNTS), normalCounts + joined(counts) + hardCounts);
        EXPECT_EQ(read(NAMES), normalNames + joined(names) + hardNames);
    };

    saveRecord('2', 12);  // equal to places 2 and 3: goes below both, J drops out
    EXPECT_EQ(screen(), "セーブしました！\n");
    expectEasy({"10", "12", "12", "12", "20", "30", "40", "50", "60", "70"},
               {"A", "B", "C", TESTO, "D", "E", "F", "G", "H", "I"});

    saveRecord('2', 70);  // equal to place 10: no entry, files rewritten as they were
    EXPECT_EQ(screen(), "セーブしました！\n");
    expectEasy({"10", "12", "12", "12", "20", "30", "40", "50", "60", "70"},
               {"A", "B", "C", TESTO, "D", "E", "F", "G", "H", "I"});

    setContestant(PLAYER_HUMAN, "ぬも", 500, 100, 50);
    saveRecord('2', 3);  // best of all: place 1, the rest one down, I drops out
    EXPECT_EQ(screen(), "セーブしました！\n");
    expectEasy({"3", "10", "12", "12", "12", "20", "30", "40", "50", "60"},
               {"\x82\xca\x82\xe0", "A", "B", "C", TESTO, "D", "E", "F", "G", "H"});

    for (int32_t count : {10000, 123456, 9999}) {
        saveRecord('2', count);
        EXPECT_EQ(screen(), "セーブしました！\n");
        expectEasy({"3", "10", "12", "12", "12", "20", "30", "40", "50", "60"},
                   {"\x82\xca\x82\xe0", "A", "B", "C", TESTO, "D", "E", "F", "G", "H"});
    }
}

TEST_F(RankingTest, HandEditedTableIsSortedStablyAndWrittenWithCrLf) {
    fs::create_directory("System");
    writeFile(
        COUNTS,
        joined(tables(EMPTY_COUNTS, EMPTY_COUNTS,
                      {"30", "10", "20", "10", "5000", "5000", "5000", "5000", "5000", "5000"}),
               "\n"));
    writeFile(NAMES,
              joined(tables(EMPTY_NAMES, EMPTY_NAMES, {"P", "Q", "R", "S", "", "", "", "", "", ""}),
                     "\n"));
    saveRecord('3', 25);
    EXPECT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(
        read(COUNTS),
        joined(tables(EMPTY_COUNTS, EMPTY_COUNTS,
                      {"10", "10", "20", "25", "30", "5000", "5000", "5000", "5000", "5000"})));
    EXPECT_EQ(read(NAMES), joined(tables(EMPTY_NAMES, EMPTY_NAMES,
                                         {"Q", "S", "R", TESTO, "P", "", "", "", "", ""})));
}

TEST_F(RankingTest, LfAndCrLfFilesShowAlike) {
    fs::create_directory("System");
    const auto counts =
        tables({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, EMPTY_COUNTS, EMPTY_COUNTS);
    const auto names =
        tables({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, EMPTY_NAMES, EMPTY_NAMES);
    const std::string expected =
        "1.normal 2.easy 3.hard\n"
        "\nコンピュータ：マサル normal\n"
        "      名前\t\tターン数\n"
        " 1位：a\t\t    1\n"
        " 2位：b\t\t    2\n"
        " 3位：c\t\t    3\n"
        " 4位：d\t\t    4\n"
        " 5位：e\t\t    5\n"
        " 6位：f\t\t    6\n"
        " 7位：g\t\t    7\n"
        " 8位：h\t\t    8\n"
        " 9位：i\t\t    9\n"
        "10位：j\t\t   10\n";
    for (const char* end : {"\r\n", "\n"}) {
        writeFile(COUNTS, joined(counts, end));
        writeFile(NAMES, joined(names, end));
        type("1\n");
        showRanking();
        EXPECT_EQ(screen(), expected) << "line end " << (end[0] == '\r' ? "CR LF" : "LF");
        EXPECT_TRUE(allKeysRead());
    }
}

TEST_F(RankingTest, DisplayAsksAgainUntilTheChoiceIsValid) {
    storeSample();
    type("x\n4\n3\n");
    showRanking();
    EXPECT_EQ(screen(),
              "1.normal 2.easy 3.hard\n"
              "1～3を入力してください\n\n"
              "1.normal 2.easy 3.hard\n"
              "1～3を入力してください\n\n"
              "1.normal 2.easy 3.hard\n"
              "\nコンピュータ：魔王 hard\n"
              "      名前\t\tターン数\n"
              " 1位：h1\t\t   33\n" +
                  NINE_EMPTY_ROWS);
    EXPECT_TRUE(allKeysRead());
}

TEST_F(RankingTest, DisplayWithoutEitherFileSaysSoAndReadsNoKey) {
    const auto expectNoRecord = [&](const char* situation) {
        type("1\n");
        showRanking();
        EXPECT_EQ(screen(), "記録がないです\n") << situation;
        EXPECT_FALSE(allKeysRead()) << situation;
    };
    expectNoRecord("no folder");
    fs::create_directory("System");
    expectNoRecord("empty folder");
    writeFile(COUNTS, joined(std::vector<std::string>(30, "5000")));
    expectNoRecord("names missing");
    fs::rename(COUNTS, NAMES);
    expectNoRecord("counts missing");
}

TEST_F(RankingTest, SaveWithOneFileMissingStartsFromEmptyTables) {
    fs::create_directory("System");
    writeFile(COUNTS, joined(tables({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
                                    EMPTY_COUNTS, EMPTY_COUNTS)));
    saveRecord('2', 12);
    EXPECT_EQ(screen(), "セーブしました！\n");
    std::vector<std::string> counts(30, "5000");
    counts[10] = "12";
    std::vector<std::string> names(30, "");
    names[10] = TESTO;
    EXPECT_EQ(read(COUNTS), joined(counts));
    EXPECT_EQ(read(NAMES), joined(names));
}

TEST_F(RankingTest, SaveNeverWritesOverFilesItCannotRead) {
    // The names file is there but cannot be read (a link to a folder, which a rename would
    // replace): the stored turn counts must survive, and the display has nothing to show.
    fs::create_directory("System");
    const std::string stored = joined(
        tables({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, EMPTY_COUNTS, EMPTY_COUNTS));
    writeFile(COUNTS, stored);
    fs::create_directory_symlink(fs::absolute("System"), NAMES);
    saveRecord('1', 12);
    EXPECT_EQ(screen(), "セーブ失敗\n");
    EXPECT_EQ(read(COUNTS), stored);
    EXPECT_TRUE(fs::is_symlink(NAMES));
    showRanking();
    EXPECT_EQ(screen(), "記録がないです\n");
    EXPECT_TRUE(allKeysRead());
}

TEST_F(RankingTest, WithoutTheFolderSaveFailsAndCreatesNothing) {
    saveRecord('1', 12);
    EXPECT_EQ(screen(), "セーブ失敗\n");
    EXPECT_FALSE(fs::exists("System"));

    writeFile("System", "not a folder");  // a file where the folder should be
    saveRecord('1', 12);
    EXPECT_EQ(screen(), "セーブ失敗\n");
    EXPECT_EQ(read("System"), "not a folder");
    type("1\n");
    showRanking();
    EXPECT_EQ(screen(), "記録がないです\n");
}

TEST_F(RankingTest, OwnFolderIsMadeWithItsMissingParentsForThePlayerAlone) {
    const auto homePermissions = fs::perms::owner_all | fs::perms::group_read;
    fs::create_directory("home");
    fs::permissions("home", homePermissions);
    setOwnRankingFolder((scratch_.path() / "home/.local/share/numoteka").string());
    saveRecord('1', 12);
    setRankingFolder("System", false);
    EXPECT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(fs::status("home").permissions(), homePermissions);
    for (const char* made : {"home/.local", "home/.local/share", "home/.local/share/numoteka"}) {
        EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all) << made;
    }
    EXPECT_TRUE(fs::exists("home/.local/share/numoteka/dice_data.dat"));
}

TEST_F(RankingTest, ShortAndGarbledLinesGiveEmptyEntriesWithoutShifting) {
    fs::create_directory("System");
    // Counts: junk after many blanks, negative, too big, blanks around, junk after, empty,
    // leading zeros, far too many digits; then valid lines (line 11 padded with blanks to 64 bytes,
    // as long as a count line may be), and the file ends after line 12 without a line end.
    writeFile(COUNTS, "1" + std::string(100, ' ') +
                          "x\r\n-3\r\n10000\r\n 42 \r\n12x\r\n\r\n0099\r\n99999999999999999999\r\n"
                          "9\n10\r\n11" +
                          std::string(62, ' ') + "\r\n12");
    // Names: 14 bytes are cut to 12; a double-byte character that would cross byte 12 goes
    // whole; a 200-byte line does not shift the lines after it.
    writeFile(NAMES, joined({"n1", "n2", "n3", "ABCDEFGHIJKLMN", "n5", "n6", "abcdefghijk\x83\x65",
                             "n8", std::string(200, 'x'), "n10", TESTO + TESTO, "n12", "n13"}));
    type("1\n");
    showRanking();
    EXPECT_EQ(screen(),
              "1.normal 2.easy 3.hard\n"
              "\nコンピュータ：マサル normal\n"
              "      名前\t\tターン数\n"
              " 1位：\t\t 5000\n"
              " 2位：\t\t 5000\n"
              " 3位：\t\t 5000\n"
              " 4位：ABCDEFGHIJKL\t\t   42\n"
              " 5位：\t\t 5000\n"
              " 6位：\t\t 5000\n"
              " 7位：abcdefghijk\t\t   99\n"
              " 8位：\t\t 5000\n"
              " 9位：xxxxxxxxxxxx\t\t    9\n"
              "10位：n10\t\t   10\n");

    // The save reads the same way: easy keeps lines 11 and 12, the lines missing after them
    // are empty entries; the normal table, not played, is written back as it was read.
    saveRecord('2', 5);
    EXPECT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(
        read(COUNTS),
        joined(tables({"5000", "5000", "5000", "42", "5000", "5000", "99", "5000", "9", "10"},
                      {"5", "11", "12", "5000", "5000", "5000", "5000", "5000", "5000", "5000"},
                      EMPTY_COUNTS)));
    EXPECT_EQ(read(NAMES),
              joined(tables(
                  {"", "", "", "ABCDEFGHIJKL", "", "", "abcdefghijk", "", "xxxxxxxxxxxx", "n10"},
                  {TESTO, TESTO + TESTO, "n12", "", "", "", "", "", "", ""}, EMPTY_NAMES)));
}

TEST_F(RankingTest, FilesOfUpTo64KiBAreReadAndASaveCopiesNoMore) {
    fs::create_directory("System");
    writeFile(NAMES, joined(std::vector<std::string>(30, "")));
    // A count of 7 at place 1, then blanks (a line too long to be a count) up to `size` bytes;
    // with `thirtyLines` the blanks are the 30th line, which ends at the file's last byte.
    const auto counts = [](size_t size, bool thirtyLines) {
        const std::string lines = "7\r\n" + repeated("5000\r\n", thirtyLines ? 28 : 0);
        return lines + std::string(size - lines.size() - 2, ' ') + "\r\n";
    };
    const struct {
        size_t size;
        bool thirtyLines;
        bool readable;
    } cases[] = {{65535, true, true},  {65536, true, true},  {65537, true, false},
                 {65535, false, true}, {65536, false, true}, {65537, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.thirtyLines ? " bytes in 30 lines" : " bytes"));
        writeFile(COUNTS, counts(c.size, c.thirtyLines));
        type("1\n");
        showRanking();
        const std::string shown = screen();
        EXPECT_EQ(shown.find(" 1位：\t\t    7\n") != std::string::npos, c.readable) << shown;
        EXPECT_EQ(shown == "記録がないです\n", !c.readable);
    }

    // 30 lines that read well, and more after them: shown, but a save, which keeps a copy of the
    // old counts whole, fails and leaves the pair as it was.
    const std::string longer = counts(65536, true) + "x";
    writeFile(COUNTS, longer);
    type("1\n");
    showRanking();
    EXPECT_NE(screen().find(" 1位：\t\t    7\n"), std::string::npos);
    saveRecord('1', 3);
    EXPECT_EQ(screen(), "セーブ失敗\n");
    EXPECT_EQ(read(COUNTS), longer);
    EXPECT_EQ(folderFiles(),
              (std::set<std::string>{"dice_data.dat", "name_data.dat", "ranking.lock"}));
}

TEST_F(RankingTest, ControlBytesInNamesAreShownAsQuestionMarks) {
    fs::create_directory("System");
    writeFile(COUNTS, joined(std::vector<std::string>(30, "5000")).replace(0, 4, "1"));
    writeFile(NAMES, "a\x1b[2Jb\x7f\tc\r\n" + joined(std::vector<std::string>(29, "")));
    type("1\n");
    showRanking();
    const std::string shown = screen();
    EXPECT_NE(shown.find(" 1位：a?[2Jb?\tc\t\t    1\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
}

TEST_F(RankingTest, FailedWriteOrRenameLeavesThePreviousFilesExactly) {
    // Writes: 1 the new counts, 2 the new names, 3 the copy of the old counts.
    // Renames: 1 the counts into place, 2 the names into place.
    const std::pair<int, int> faults[] = {{1, 0}, {2, 0}, {3, 0}, {0, 1}, {0, 2}};
    for (const auto& [write, rename] : faults) {
        SCOPED_TRACE("write " + std::to_string(write) + ", rename " + std::to_string(rename));
        storeSample();
        const auto counts = read(COUNTS);
        const auto names = read(NAMES);
        g_rankingFaults = {write, rename};
        saveRecord('2', 1);
        EXPECT_EQ(screen(), "セーブ失敗\n");
        EXPECT_EQ(read(COUNTS), counts);
        EXPECT_EQ(read(NAMES), names);
        EXPECT_EQ(folderFiles(),
                  (std::set<std::string>{"dice_data.dat", "name_data.dat", "ranking.lock"}));
    }
    // With the faults gone the same save goes through.
    g_rankingFaults = {};
    saveRecord('2', 1);
    EXPECT_EQ(screen(), "セーブしました！\n");
}

TEST_F(RankingTest, FailedSecondRenameOfAFirstSaveLeavesNoRankingFiles) {
    fs::create_directory("System");
    g_rankingFaults.failRename = 2;
    saveRecord('1', 20);
    EXPECT_EQ(screen(), "セーブ失敗\n");
    EXPECT_EQ(folderFiles(), std::set<std::string>{"ranking.lock"});
}

TEST_F(RankingTest, SaveForAnUnknownDifficultyFailsAndWritesNothing) {
    fs::create_directory("System");
    for (const Difficulty difficulty : {'0', '4', '\0'}) {
        saveRecord(difficulty, 12);
        EXPECT_EQ(screen(), "セーブ失敗\n") << static_cast<int>(difficulty);
    }
    EXPECT_TRUE(fs::is_empty("System"));
}

// A name may end in a lead byte whose trail byte never came: typed so on a Shift_JIS terminal
// (the name entry takes any bytes up to the line end), or found so in a names file edited by
// hand. A save keeps names to whole characters, as it does when it cuts a long name at 12
// bytes, so such a byte must not be written: in the file it would take the line's CR as its
// trail byte. (Found by the fuzz targets.)
TEST_F(RankingTest, SaveNeverWritesANameEndingInHalfACharacter) {
    fs::create_directory("System");
    // "テ" and the lead byte of another character as the human's name.
    std::memcpy(g_players[PLAYER_HUMAN].name, "\x83\x65\x83", 4);
    saveRecord('1', 12);
    ASSERT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(namesFileLines().at(0), "\x83\x65");

    // A stored name that is one lead byte alone, kept at place 1 by a later win.
    writeFile(COUNTS, "3\r\n" + repeated("5000\r\n", 29));
    writeFile(NAMES, "\x83\r\n" + repeated("\r\n", 29));
    std::memcpy(g_players[PLAYER_HUMAN].name, "A", 2);
    saveRecord('1', 12);
    ASSERT_EQ(screen(), "セーブしました！\n");
    EXPECT_EQ(namesFileLines().at(0), "");
    EXPECT_EQ(namesFileLines().at(1), "A");
}

// The same through a whole game on a Shift_JIS terminal: the name is the single byte 0xE3, the
// game on easy is won and saved (seed 26, "1" and Enter over and over).
TEST_F(RankingTest, WonGameOnAShiftJisTerminalSavesNoHalfCharacter) {
    fs::create_directory("System");
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
