// Every limit of the server, in one place: what a request may hold and how long it may take,
// how many connections a client may keep, how often it may submit.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace numoteka::server::limits {

// A request's line and header fields together (431 beyond), and its header lines (400 beyond).
inline constexpr size_t REQUEST_HEAD_BYTES = 8 * 1024;
inline constexpr size_t REQUEST_HEAD_LINES = 64;
// A body, counted as it arrives, chunked or not (413 beyond): a replay code is at most 64 KiB.
inline constexpr size_t REQUEST_BODY_BYTES = 64 * 1024;

// A request must arrive whole within this of its first byte (408 otherwise); a kept-alive
// connection may wait this long for the next one; an answer must be taken within this.
inline constexpr std::chrono::seconds REQUEST_TIME{10};
inline constexpr std::chrono::seconds IDLE_TIME{30};
inline constexpr std::chrono::seconds ANSWER_TIME{10};
// After SIGTERM, the answers under way may take this long; then the server ends regardless.
inline constexpr std::chrono::seconds STOP_TIME{4};

// Open connections of one client address (a trusted proxy's own are not counted), and in all
// (fewer when the process may not open that many files).
inline constexpr int CONNECTIONS_PER_CLIENT = 32;
inline constexpr int CONNECTIONS = 20000;
// Connections the kernel queues before the server takes them.
inline constexpr int LISTEN_BACKLOG = 4096;

// Submissions of one client within a minute, refused ones counted (429 beyond).
inline constexpr int SUBMISSIONS_PER_WINDOW = 10;
inline constexpr int64_t SUBMISSION_WINDOW_MS = 60 * 1000;

// A process keeps a day's ranking in memory until a win is stored; a win stored by another
// process of the same database shows within this.
inline constexpr int64_t OTHER_WRITES_SEEN_WITHIN_MS = 100;

// Days and difficulties whose rankings a process keeps in memory; a request for another drops
// them all.
inline constexpr size_t CACHED_RANKINGS = 256;

// A replay takes milliseconds; a worker that takes longer than this is replaced, and the
// submission answered 503 (try again after RETRY_AFTER_WORKER seconds).
inline constexpr std::chrono::milliseconds REPLAY_TIME{5000};
inline constexpr int RETRY_AFTER_WORKER = 1;
// When a client that reached the limit of submissions may try again, in seconds.
inline constexpr int RETRY_AFTER_LIMIT = 60;

// Places of a day's ranking.
inline constexpr int RANKING_PLACES = 10;

}  // namespace numoteka::server::limits
