// Every limit of the server, in one place: what a request may hold and how long it may take,
// how many connections and descriptors it may use, how often a client may submit, how long the
// database and the replay workers may take. doc's limits table names each of them (a test
// reads both).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "daily/replay_check.h"

namespace numoteka::server::limits {

// A request's line and header fields together (431 beyond), and its header lines (400 beyond).
inline constexpr size_t REQUEST_HEAD_BYTES = 8 * 1024;
inline constexpr size_t REQUEST_HEAD_LINES = 64;
// A body, counted as it arrives, chunked or not (413 beyond): a replay code is at most 64 KiB.
inline constexpr size_t REQUEST_BODY_BYTES = 64 * 1024;
// Requests of one connection read ahead of their answers (pipelined), answered in order.
inline constexpr size_t PIPELINED_REQUESTS = 8;

// A request must arrive whole within this of its first byte (408 otherwise); a kept-alive
// connection may wait this long for the next one; an answer must be taken within this.
inline constexpr std::chrono::seconds REQUEST_TIME{10};
inline constexpr std::chrono::seconds IDLE_TIME{30};
inline constexpr std::chrono::seconds ANSWER_TIME{10};
// After an error answer that closes the connection, what the client still sends is read and
// dropped, this much for this long, so that it sees the answer rather than a reset.
inline constexpr size_t LINGER_BYTES = 256 * 1024;
inline constexpr std::chrono::seconds LINGER_TIME{2};
// After SIGTERM, the answers under way may take this long; then the server ends regardless.
// What they wait for (a replay worker, the database) fails after STOP_WAITING_TIME, so that
// each ends within the query time after it.
inline constexpr std::chrono::seconds STOP_TIME{4};
inline constexpr std::chrono::milliseconds STOP_WAITING_TIME{1500};

// Open connections of one client address (a trusted proxy's own are not counted), and in all
// (fewer when the process may not open that many files).
inline constexpr int CONNECTIONS_PER_CLIENT = 32;
inline constexpr int CONNECTIONS = 20000;
// Connections the kernel queues before the server takes them.
inline constexpr int LISTEN_BACKLOG = 4096;
// File descriptors kept free of connections and of the files they send, for the database,
// replacing a worker and the log: a shortage refuses connections and files (503), never these.
inline constexpr int RESERVED_DESCRIPTORS = 32;
// How long to wait before accepting again when accepting failed for a cause other than files.
inline constexpr std::chrono::milliseconds ACCEPT_RETRY{50};

// Submissions of one client within a minute, refused ones counted (429 beyond).
inline constexpr int SUBMISSIONS_PER_WINDOW = 10;
inline constexpr int64_t SUBMISSION_WINDOW_MS = 60 * 1000;
// PostgreSQL's table of recent submissions drops every client's old rows this often.
inline constexpr int SUBMISSIONS_SWEPT_EVERY = 1000;

// A process keeps a day's ranking in memory until a win is stored; a win stored by another
// process of the same database shows within this.
inline constexpr int64_t OTHER_WRITES_SEEN_WITHIN_MS = 100;

// Days and difficulties whose rankings a process keeps in memory; a request for another drops
// them all.
inline constexpr size_t CACHED_RANKINGS = 256;

// What the database may take: a query or a wait for its lock (SQLite's busy timeout,
// PostgreSQL's statement_timeout and the client's own wait), and making a connection.
inline constexpr std::chrono::milliseconds QUERY_TIME{2000};
inline constexpr std::chrono::milliseconds CONNECT_TIME{2000};
// PostgreSQL's own statement_timeout ends a query first; the client waits this much longer for a
// database that cannot answer at all (stopped, or its machine gone).
inline constexpr std::chrono::milliseconds QUERY_WAIT_BEYOND{500};
// Requests waiting for a thread of the database's pool beyond those it is working on (503
// beyond, try again after RETRY_AFTER_DATABASE seconds).
inline constexpr size_t DATABASE_QUEUE = 256;
inline constexpr int RETRY_AFTER_DATABASE = 2;
// The health of the store is probed this often, each probe within QUERY_TIME: /healthz answers
// from the last probe, and says 503 within about two seconds of a win that could not be stored.
inline constexpr std::chrono::milliseconds HEALTH_PROBE_EVERY{500};
// A probe that found the store well counts for this long: one that hangs with the database
// turns /healthz to 503 when it has.
inline constexpr int64_t HEALTH_STALE_MS = 1500;

// A replay's lines (422 beyond: no worker is handed more); a replay takes milliseconds, and a
// worker that takes longer than REPLAY_TIME is replaced, the submission answered 503 (try again
// after RETRY_AFTER_WORKER seconds).
inline constexpr size_t REPLAY_BYTES = REPLAY_BYTE_LIMIT;
inline constexpr std::chrono::milliseconds REPLAY_TIME{5000};
inline constexpr int RETRY_AFTER_WORKER = 1;
// A submission waits this long for a free worker (503 beyond); a worker that could not be
// started is tried again after this; --workers takes at most MOST_WORKERS.
inline constexpr std::chrono::milliseconds WORKER_WAIT{2000};
inline constexpr std::chrono::milliseconds WORKER_START_AGAIN{1000};
inline constexpr long MOST_WORKERS = 256;
// When a client that reached the limit of submissions may try again, in seconds.
inline constexpr int RETRY_AFTER_LIMIT = 60;

// Places of a day's ranking.
inline constexpr int RANKING_PLACES = 10;

}  // namespace numoteka::server::limits
