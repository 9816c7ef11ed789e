// A replay worker that misbehaves on purpose, for the tests of the pool: the test program run
// as "--fake-worker=MODE". While the file NUMOTEKA_FAKE_WORKER_FILE names exists, a check dies
// (MODE die), never answers (hang), or answers only once another replay has been sent, and
// then with a win named "late" (stall); otherwise it answers at once: not won, named "plain".
#pragma once

#include <string_view>

namespace numoteka::server {

inline constexpr std::string_view FAKE_WORKER = "--fake-worker=";
inline constexpr const char* FAKE_WORKER_FILE = "NUMOTEKA_FAKE_WORKER_FILE";

int runFakeWorker(std::string_view argument);

}  // namespace numoteka::server
