// The handler as a table: a request (method, target, headers, body) in, its status, body and
// headers out, with no socket; then what it counts, by the same routes it answers by.
#include "handler.h"

#include <gtest/gtest.h>

#include <fstream>

#include "daily/replay_code.h"
#include "fake_store.h"
#include "scratch.h"
#include "server_limits.h"

namespace numoteka::server {
namespace {

constexpr int64_t NOW_MS = 1796655600000 + 3600 * 1000;  // 2026-12-08 01:00 in Japan

class HandlerTest : public testing::Test {
protected:
    HandlerTest()
        : service_(
              store_,
              [](const Replay& replay) {
                  ReplayCheck check{ReplayVerdict::WON, {}};
                  check.win = {replay.day, '1', 12, "x", encodeReplay(replay), replay.typed};
                  return check;
              },
              [] { return NOW_MS; }, metrics_) {
        std::ofstream(web_ / "index.html") << "<!doctype html>";
        service_.probeHealth();
    }

    Reply ask(http::verb method, const std::string& target, std::string body = "",
              std::vector<std::pair<std::string, std::string>> headers = {}) {
        HttpRequest request{method, target, 11};
        for (const auto& [name, value] : headers) {
            request.set(name, value);
        }
        request.body() = std::move(body);
        request.prepare_payload();
        Exchange exchange;
        handler_.noteHead(request, peer_, exchange);
        Reply reply = handler_.handle(request, exchange);
        handler_.answered(exchange, reply, 0);
        return reply;
    }

    static std::string bodyOf(const Reply& reply) {
        const auto* text = std::get_if<StringResponse>(&reply.message);
        return text != nullptr ? text->body() : "(a file)";
    }
    static std::string header(const Reply& reply, http::field field) {
        return std::visit([&](const auto& message) { return std::string(message[field]); },
                          reply.message);
    }

    ScratchFolder web_;
    FakeStore store_;
    Metrics metrics_;
    RankingService service_;
    Descriptors descriptors_{2};
    IpAddress peer_ = boost::asio::ip::make_address("192.0.2.1");
    Handler handler_{TrustedProxies({}), StaticFiles(web_.path()), service_, metrics_,
                     descriptors_};
};

const std::string CODE = encodeReplay({dailySeed(*parseDay("2026-12-08")), *parseDay("2026-12-08"),
                                       "1\n"});

TEST_F(HandlerTest, AnswersByRoute) {
    using http::verb;
    struct Row {
        verb method;
        std::string target;
        std::string body;
        int status;
        std::string answerHas;
        std::string allow;
    };
    const Row rows[] = {
        {verb::get, "/healthz", "", 200, R"({"status":"ok"})", ""},
        {verb::post, "/healthz", "", 405, "method not allowed", "GET, HEAD"},
        {verb::get, "/metrics", "", 200, "# TYPE numoteka_requests_total counter", ""},
        {verb::put, "/metrics", "", 405, "", "GET, HEAD"},
        {verb::post, "/api/daily/wins", R"({"code": ")" + CODE + R"("})", 201, R"("new":true)",
         ""},
        {verb::post, "/api/daily/2026-12-08/wins", R"({"code": ")" + CODE + R"("})", 200,
         R"("new":false)", ""},
        {verb::post, "/api/daily/2026-12-08/wins", "{}", 400, R"({"error":)", ""},
        {verb::get, "/api/daily/wins", "", 405, R"({"error":"method not allowed"})", "POST"},
        {verb::get, "/api/daily/2026-12-08/ranking?difficulty=1", "", 200, R"("ranking":[{)",
         ""},
        {verb::get, "/api/daily/2026-12-08/ranking?difficulty=4", "", 400, "difficulty", ""},
        {verb::get, "/api/daily/2026-12-09/ranking?difficulty=1", "", 400, "not begun", ""},
        {verb::delete_, "/api/daily/2026-12-08/ranking", "", 405, "", "GET, HEAD"},
        // A date is one segment of the address.
        {verb::post, "/api/daily/x/y/wins", "{}", 404, R"({"error":"no such address"})", ""},
        {verb::get, "/api/daily/2026-12-08", "", 404, R"({"error":"no such address"})", ""},
        {verb::get, "/api/", "", 404, R"({"error":"no such address"})", ""},
        {verb::get, "/", "", 200, "(a file)", ""},
        {verb::get, "/index.html?x=1", "", 200, "(a file)", ""},
        {verb::get, "/nothing.js", "", 404, "no such file\n", ""},
        {verb::get, "/../etc/passwd", "", 404, "no such file\n", ""},
        {verb::post, "/", "", 405, "method not allowed\n", "GET, HEAD"},
    };
    for (const Row& row : rows) {
        const Reply reply = ask(row.method, row.target, row.body);
        SCOPED_TRACE(row.target);
        EXPECT_EQ(reply.status(), row.status) << bodyOf(reply);
        EXPECT_NE(bodyOf(reply).find(row.answerHas), std::string::npos) << bodyOf(reply);
        EXPECT_EQ(header(reply, http::field::allow), row.allow);
        EXPECT_EQ(header(reply, http::field::x_frame_options), "DENY");
        EXPECT_EQ(header(reply, http::field::content_type) == "application/json",
                  bodyOf(reply).starts_with("{"))
            << header(reply, http::field::content_type);
        EXPECT_FALSE(reply.closes);
    }
}

TEST_F(HandlerTest, TheHeadIsCheckedBeforeTheBody) {
    struct Row {
        std::vector<std::pair<std::string, std::string>> headers;
        int status;  // 0: taken
    };
    std::vector<std::pair<std::string, std::string>> many;
    for (size_t i = 0; i < limits::REQUEST_HEAD_LINES; ++i) {
        many.emplace_back("X-" + std::to_string(i), "1");
    }
    std::vector<std::pair<std::string, std::string>> tooMany = many;
    tooMany.emplace_back("X-last", "1");
    const Row rows[] = {
        {many, 0},
        {tooMany, 400},
        {{{"Content-Encoding", "identity"}}, 0},
        {{{"Content-Encoding", "gzip"}}, 415},
        {{{"Content-Encoding", "BR"}}, 415},
    };
    for (const Row& row : rows) {
        HttpRequest request{http::verb::post, "/api/daily/wins", 11};
        for (const auto& [name, value] : row.headers) {
            request.set(name, value);
        }
        Exchange exchange;
        handler_.noteHead(request, peer_, exchange);
        const std::optional<Reply> refused = handler_.checkHead(request, exchange);
        EXPECT_EQ(refused ? refused->status() : 0, row.status);
        EXPECT_TRUE(!refused || refused->closes);
    }
}

TEST_F(HandlerTest, ARefusalNamesItsKindForTheClient) {
    const std::string otherDay =
        encodeReplay({dailySeed(*parseDay("2026-12-07")), *parseDay("2026-12-07"), "1\n"});
    const struct {
        std::string target;
        std::string body;
        const char* kind;
    } rows[] = {
        {"/api/daily/wins", "{", R"("kind":"malformed")"},
        {"/api/daily/wins", R"({"code": "AZTkHsRu"})", R"("kind":"malformed")"},
        {"/api/daily/2026-12-08/wins", R"({"code": ")" + otherDay + R"("})",
         R"("kind":"wrong-day")"},
        {"/api/daily/2026-12-09/wins", R"({"code": ")" + CODE + R"("})", R"("kind":"future-day")"},
        {"/api/daily/2026-12-08/ranking?difficulty=7", "", R"("kind":"malformed")"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target + " " + row.body);
        const std::string body = bodyOf(
            ask(row.body.empty() ? http::verb::get : http::verb::post, row.target, row.body));
        EXPECT_NE(body.find(row.kind), std::string::npos) << body;
        EXPECT_NE(body.find(R"("error":")"), std::string::npos) << body;
    }
    // Refused before it is read: too large.
    Exchange exchange;
    exchange.target = "/api/daily/wins";
    EXPECT_NE(
        bodyOf(handler_.refusal(http::status::payload_too_large, "the body is too large", exchange))
            .find(R"("kind":"too-large")"),
        std::string::npos);
}

TEST_F(HandlerTest, AFileNeedsADescriptorOfTheBudget) {
    Reply first = ask(http::verb::get, "/");
    const Reply second = ask(http::verb::get, "/");
    const Reply third = ask(http::verb::get, "/");
    EXPECT_EQ(first.status(), 200);
    EXPECT_EQ(second.status(), 200);
    EXPECT_EQ(third.status(), 503);
    EXPECT_EQ(header(third, http::field::retry_after), "1");
    // Given back with the answer.
    { const Reply gone = std::move(first); }
    EXPECT_EQ(ask(http::verb::get, "/index.html").status(), 200);
}

TEST_F(HandlerTest, MetricsCountByTheRoutesAnswered) {
    ask(http::verb::post, "/api/daily/x/y/wins", "{}");
    ask(http::verb::get, "/api/daily/2026-12-08/ranking?difficulty=1");
    ask(http::verb::get, "/");
    const std::string text = metrics_.text();
    EXPECT_NE(text.find(R"(numoteka_requests_total{route="other",status="404"} 1)"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find(R"(route="wins")"), std::string::npos);
    EXPECT_NE(text.find(R"(numoteka_requests_total{route="ranking",status="200"} 1)"),
              std::string::npos);
    EXPECT_NE(text.find(R"(numoteka_requests_total{route="page",status="200"} 1)"),
              std::string::npos);
}

TEST_F(HandlerTest, AClientBehindATrustedProxyIsReadFromTheRight) {
    const IpAddress proxy = boost::asio::ip::make_address("127.0.0.1");
    const Handler behind(TrustedProxies({proxy}), std::nullopt, service_, metrics_,
                         descriptors_);
    HttpRequest request{http::verb::get, "/", 11};
    request.set("X-Forwarded-For", "203.0.113.7, 198.51.100.2");
    request.insert("X-Forwarded-For", "127.0.0.1");
    Exchange exchange;
    behind.noteHead(request, proxy, exchange);
    EXPECT_EQ(exchange.client.to_string(), "198.51.100.2");
}

}  // namespace
}  // namespace numoteka::server
