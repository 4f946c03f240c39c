#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "fake_scgi.h"
#include "fw_test/matchers.h"
#include "scgi.h"

using fw_test::HasSubstr;

namespace {

struct Result {
    scgi_result r;
    explicit Result(scgi_result x) : r(x) {}
    ~Result() { std::free(r.body); }
    std::string body() const { return r.body ? std::string(r.body, r.body_length) : std::string("<none>"); }
};

TEST(ScgiRequest, GetSendsThePairsInOrderWithoutBody)
{
    FakeScgi core;
    Result res(scgi_request("GET", "/rci/show/system?x=1", nullptr, nullptr, 0, 0));
    EXPECT_EQ(res.r.status, 200);
    EXPECT_STREQ(res.r.status_text, "OK");
    EXPECT_EQ(res.r.body, nullptr);
    EXPECT_EQ(res.r.body_length, 0u);
    auto reqs = core.requests();
    ASSERT_EQ(reqs.size(), 1u);
    std::vector<std::pair<std::string, std::string>> want = {
        {"CONTENT_LENGTH", "0"},
        {"REQUEST_METHOD", "GET"},
        {"REQUEST_URI", "/rci/show/system?x=1"},
        {"SCGI", "1"},
        {"HTTP_HOST", "127.0.0.1"},
        {"REMOTE_ADDR", "127.0.0.1"},
        {"SERVER_ADDR", "127.0.0.1"},
    };
    EXPECT_EQ(reqs[0].pairs, want);
    // The netstring's comma ends the request when there is no body.
    EXPECT_EQ(reqs[0].raw.back(), ',');
}

TEST(ScgiRequest, PostCarriesTheBodyAndItsType)
{
    FakeScgi core;
    core.reply = [](const ScgiRequest &r) { return "Status: 201 Created\r\nX: y\r\n\r\n" + r.body; };
    Result res(scgi_request("POST", "/rci/x", "application/json", "{\"a\":1}", 7, 0));
    EXPECT_EQ(res.r.status, 201);
    EXPECT_STREQ(res.r.status_text, "Created");
    EXPECT_EQ(res.body(), "{\"a\":1}");
    auto reqs = core.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].get("CONTENT_LENGTH"), "7");
    EXPECT_EQ(reqs[0].get("HTTP_CONTENT_TYPE"), "application/json");
    EXPECT_EQ(reqs[0].pairs.back().first, "HTTP_CONTENT_TYPE");
    EXPECT_EQ(reqs[0].body, "{\"a\":1}");
}

TEST(ScgiRequest, BadArgumentsSendNothing)
{
    FakeScgi core;
    EXPECT_EQ(scgi_request("GET", nullptr, nullptr, nullptr, 0, 0).status, -EINVAL);
    EXPECT_EQ(scgi_request("POST", "/x", nullptr, "abc", 0, 0).status, -EINVAL);
    EXPECT_EQ(scgi_request("POST", "/x", nullptr, nullptr, 3, 0).status, -EINVAL);
    EXPECT_TRUE(core.requests().empty());
}

TEST(ScgiRequest, NoCoreGivesTheConnectError)
{
    scgi_set_socket_path("/nonexistent/scgi.sock");
    EXPECT_EQ(scgi_request("GET", "/x", nullptr, nullptr, 0, 0).status, -ENOENT);
    scgi_set_socket_path(nullptr);
}

TEST(ScgiReply, Forms)
{
    struct Case {
        const char *reply;
        int status;
        const char *text;
        const char *body;  // null: none
    } cases[] = {
        {"Status: 200 OK\r\n\r\n", 200, "OK", nullptr},
        {"Status: 404 Not Found\r\n\r\nmissing", 404, "Not Found", "missing"},
        {"Status: 200 OK\r\nContent-Type: application/json\r\n\r\n{}", 200, "OK", "{}"},
        {"Status: 500 abcdefghijklmnopqrstuvwxyz1234\r\n\r\n", 500, "abcdefghijklmnopqrs", nullptr},
        {"Status:200 OK\r\n\r\n", -EBADMSG, "", nullptr},
        {"Status: 200\r\n\r\n", -EBADMSG, "", nullptr},
        {"Status: 200 \r\n\r\n", -EBADMSG, "", nullptr},
        {"Status:  200 OK\r\n\r\n", -EBADMSG, "", nullptr},
        {"Status: 200 OK\r\n", -EBADMSG, "", nullptr},
        {"HTTP/1.0 200 OK\r\n\r\n", -EBADMSG, "", nullptr},
        {"Status: 99999999999999999999 OK\r\n\r\n", -EBADMSG, "", nullptr},
        {"", -EBADMSG, "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply);
        Result res(scgi_reply_parse(c.reply, std::strlen(c.reply), 0));
        EXPECT_EQ(res.r.status, c.status);
        if (c.status > 0) {
            EXPECT_STREQ(res.r.status_text, c.text);
            EXPECT_EQ(res.body(), c.body ? c.body : "<none>");
        }
    }
}

TEST(ScgiReply, TerminateAddsAZeroThatTheLengthCounts)
{
    const char reply[] = "Status: 200 OK\r\n\r\nhello";
    Result res(scgi_reply_parse(reply, sizeof reply - 1, 1));
    ASSERT_NE(res.r.body, nullptr);
    EXPECT_EQ(res.r.body_length, 6u);
    EXPECT_EQ(res.r.body[5], '\0');
    EXPECT_STREQ(res.r.body, "hello");
}

TEST(ScgiRequest, ASlowDripEndsAtTheDeadline)
{
    FakeScgi core;
    core.reply = [](const ScgiRequest &) { return std::string(4000, 'x'); };
    core.drip_ms = 5;  // 4000 bytes would take 20 s
    auto start = std::chrono::steady_clock::now();
    Result res(scgi_request("GET", "/x", nullptr, nullptr, 0, 0));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(res.r.status, -ETIMEDOUT);
    EXPECT_LT(took, std::chrono::milliseconds(SCGI_DEADLINE_MS + 2000));
}

TEST(ScgiRequest, AHugeReplyIsRefused)
{
    FakeScgi core;
    core.reply = [](const ScgiRequest &) {
        return "Status: 200 OK\r\n\r\n" + std::string(SCGI_REPLY_MAX, 'x');
    };
    Result res(scgi_request("GET", "/x", nullptr, nullptr, 0, 0));
    EXPECT_EQ(res.r.status, -EMSGSIZE);
    EXPECT_EQ(res.r.body, nullptr);
}

}  // namespace
