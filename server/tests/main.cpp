// The server's seam tests; the program is also the fake replay worker some of them start.
#include <gtest/gtest.h>

#include <string_view>

#include "fake_worker.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]).starts_with(numoteka::server::FAKE_WORKER)) {
        return numoteka::server::runFakeWorker(std::string_view(argv[1]));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
