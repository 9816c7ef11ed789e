// The server's smaller parts, each against what it must agree with: SHA-256 against the
// standard's vectors, /metrics' histograms against Prometheus' rule that buckets count all
// below them, and the command line against its help (an option wins over its variable).
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "metrics.h"
#include "settings.h"
#include "sha256.h"

namespace numoteka::server {
namespace {

TEST(Sha256, TheStandardsVectors) {
    // FIPS 180-2 appendix B, and the empty message; the second is 56 bytes, whose padding
    // takes a block of its own.
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(sha256Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnop"
                        "jklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
}

TEST(Metrics, HistogramBucketsCountAllBelowThem) {
    Histogram histogram;
    for (const double seconds : {0.00005, 0.0003, 0.0003, 0.02, 7.0}) {
        histogram.observe(seconds);
    }
    const std::string text = histogram.text("t", "help");
    for (const char* line : {"t_bucket{le=\"0.0001\"} 1\n", "t_bucket{le=\"0.0005\"} 3\n",
                             "t_bucket{le=\"0.01\"} 3\n", "t_bucket{le=\"0.025\"} 4\n",
                             "t_bucket{le=\"5\"} 4\n", "t_bucket{le=\"+Inf\"} 5\n", "t_count 5\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
}

Invocation commandLine(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return readCommandLine(static_cast<int>(words.size()), argv.data());
}

TEST(CommandLine, AnOptionWinsOverItsVariable) {
    setenv("NUMOTEKA_DATABASE", "from-variable.db", 1);
    EXPECT_EQ(commandLine({"numoteka-server"}).settings.database, "from-variable.db");
    EXPECT_EQ(commandLine({"numoteka-server", "--database", "given.db"}).settings.database,
              "given.db");
    unsetenv("NUMOTEKA_DATABASE");
}

TEST(CommandLine, WorkersFromOneToTheMost) {
    for (const char* refused : {"0", "-1", "257", "x", ""}) {
        EXPECT_EQ(commandLine({"numoteka-server", "--workers", refused}).action,
                  Invocation::Action::REFUSE)
            << refused;
    }
    EXPECT_EQ(commandLine({"numoteka-server", "--workers", "1"}).settings.workers, 1u);
    EXPECT_EQ(commandLine({"numoteka-server", "--workers", "256"}).settings.workers, 256u);
}

}  // namespace
}  // namespace numoteka::server
