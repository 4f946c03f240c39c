#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "coap_uri.h"
#include "test_util.h"

using namespace mirel_test;

namespace {

std::string str(char *p)
{
    Mem<char> hold(p);
    return p ? std::string(p) : std::string("(null)");
}

TEST(Uri, ParseTable)
{
    struct Case {
        const char *text;
        int secure, port;
        const char *host, *path, *query;
    } cases[] = {
        {"coap://host", 0, 5683, "host", nullptr, nullptr},
        {"coaps://10.0.0.1:5684/a/b/?x=1#f", 1, 5684, "10.0.0.1", "/a/b", "?x=1"},
        {"coap://h/", 0, 5683, "h", nullptr, nullptr},
        {"coap://h//", 0, 5683, "h", "/", nullptr},
        {"coap://h:0/p", 0, 0, "h", "/p", nullptr},
        {"coap://h:65535?q", 0, 65535, "h", nullptr, "?q"},
        {"coap://h/?a=1&b", 0, 5683, "h", nullptr, "?a=1&b"},
        {"coap://h/a:b@c", 0, 5683, "h", "/a:b@c", nullptr},
        {"coap://h#frag", 0, 5683, "h", nullptr, nullptr},
        {"coap://h/p?q?r#s#t", 0, 5683, "h", "/p", "?q?r"},
        {"coap://user@h.example", 0, 5683, "user@h.example", nullptr, nullptr},
        {"coap://h:00080", 0, 80, "h", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        struct Uri u;
        ASSERT_EQ(Uri_Parse(&u, c.text), 0) << c.text;
        EXPECT_EQ(u.secure, c.secure) << c.text;
        EXPECT_EQ(u.port, c.port) << c.text;
        EXPECT_STREQ(u.host, c.host) << c.text;
        EXPECT_STREQ(u.path, c.path) << c.text;
        EXPECT_STREQ(u.query, c.query) << c.text;
        Uri_ParseFree(&u);
    }
}

TEST(Uri, ParseRefusals)
{
    const char *bad[] = {
        "coap://h:123456", "coap://h:65536", "coap://h:12a", "coap://h:",  "http://h",  "coapx://h",
        "coap:/h",         "coap://[::1]/x", "coap://",      "coap://:80", "coap://h?", "coap://h#",
        "coap://h/p?#f",   " coap://h",      "coaps//h",     "COAP://h",
    };
    for (const char *t : bad) {
        struct Uri u;
        errno = 0;
        EXPECT_EQ(Uri_Parse(&u, t), -1) << t;
        EXPECT_EQ(errno, EBADE) << t;
    }
    struct Uri u;
    errno = 0;
    EXPECT_EQ(Uri_Parse(&u, ""), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Uri_Parse(nullptr, "coap://h"), -1);
}

TEST(Uri, Gen)
{
    char h[] = "h", p[] = "/p", q[] = "?a=1", badp[] = "p";
    struct Uri a = {1, 5683, h, nullptr, q};
    EXPECT_EQ(str(Uri_Gen(&a)), "coaps://h?a=1");
    struct Uri b = {1, 80, h, p, q};
    EXPECT_EQ(str(Uri_Gen(&b)), "coaps://h:80/p?a=1");
    struct Uri c = {0, 5683, h, p, nullptr};
    EXPECT_EQ(str(Uri_Gen(&c)), "coap://h/p");
    struct Uri bad_path = {0, 5683, h, badp, nullptr};
    errno = 0;
    EXPECT_EQ(Uri_Gen(&bad_path), nullptr);
    EXPECT_EQ(errno, EINVAL);
    struct Uri bad_query = {0, 5683, h, nullptr, p};
    EXPECT_EQ(Uri_Gen(&bad_query), nullptr);
    char empty[] = "";
    struct Uri no_host = {0, 5683, empty, nullptr, nullptr};
    EXPECT_EQ(Uri_Gen(&no_host), nullptr);
}

TEST(Uri, PercentCoding)
{
    EXPECT_EQ(str(Uri_StrEncode("a b/c~d")), "a+b%2Fc~d");
    EXPECT_EQ(str(Uri_StrEncode("\xc3\xa9-._")), "%C3%A9-._");
    EXPECT_EQ(str(Uri_StrDecode("%2f+x%41", 0)), "/ xA");
    EXPECT_EQ(str(Uri_StrDecode("ab%41cd", 5)), "abA");
    for (const char *bad : {"%", "%4", "%g1", "x%1g"}) {
        errno = 0;
        EXPECT_EQ(Uri_StrDecode(bad, 0), nullptr) << bad;
        EXPECT_EQ(errno, EBADMSG) << bad;
    }
    errno = 0;
    EXPECT_EQ(Uri_StrDecode("ab%41", 4), nullptr) << "the escape must end inside the span";
    EXPECT_EQ(errno, EBADMSG);
    errno = 0;
    EXPECT_EQ(Uri_StrDecode("abc", 4), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Uri_StrEncode(""), nullptr);
    EXPECT_EQ(Uri_StrDecode("", 0), nullptr);
}

std::vector<std::pair<std::string, std::string>> entries(const struct Uri_QueryHead &h)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (auto *e = h.first; e; e = e->next)
        out.push_back({e->key, e->value ? e->value : "(none)"});
    return out;
}

TEST(Uri, QueryParseAndGen)
{
    struct Uri_QueryHead h {};
    ASSERT_EQ(Uri_QueryParse("?a=1&&b&c=", &h, 1), 0);
    EXPECT_EQ(entries(h), (std::vector<std::pair<std::string, std::string>>{
                              {"a", "1"}, {"b", "(none)"}, {"c", "(none)"}}));
    Uri_QueryHeadFree(&h);
    ASSERT_EQ(Uri_QueryParse("?a=1&&b&c=", &h, 0), 0);
    EXPECT_EQ(entries(h), (std::vector<std::pair<std::string, std::string>>{
                              {"a=1", "(none)"}, {"b", "(none)"}, {"c=", "(none)"}}));
    Uri_QueryHeadFree(&h);
    ASSERT_EQ(Uri_QueryParse("?=x&k=a%20b=c", &h, 1), 0);
    EXPECT_EQ(entries(h), (std::vector<std::pair<std::string, std::string>>{{"", "x"}, {"k", "a b=c"}}))
        << "an empty key stays empty";
    // A bad escape frees the whole list, earlier entries included.
    errno = 0;
    EXPECT_EQ(Uri_QueryParse("?ok&bad=%zz", &h, 1), -1);
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_EQ(h.first, nullptr);
    for (const char *bad : {"?", "a=1", ""}) {
        errno = 0;
        EXPECT_EQ(Uri_QueryParse(bad, &h, 1), -1) << bad;
        EXPECT_EQ(errno, EINVAL);
    }

    struct Uri_QueryHead g {};
    g.last = &g.first;
    EXPECT_EQ(str(Uri_QueryGen(&g)), "?");
    struct Uri_QueryEntry *a = Uri_QueryEntry("a", "x y");
    struct Uri_QueryEntry *b = Uri_QueryEntry("b", nullptr);
    *g.last = a;
    g.last = &a->next;
    *g.last = b;
    g.last = &b->next;
    EXPECT_EQ(str(Uri_QueryGen(&g)), "?a=x+y&b");
    Uri_QueryHeadFree(&g);
    EXPECT_EQ(Uri_QueryEntry(nullptr, "v"), nullptr);
}

TEST(Uri, PathParseAndGen)
{
    struct Uri_PathHead h {};
    ASSERT_EQ(Uri_PathParse("//a//b+c%2Fd/", &h), 0);
    std::vector<std::string> segs;
    for (auto *e = h.first; e; e = e->next)
        segs.push_back(e->segment);
    EXPECT_EQ(segs, (std::vector<std::string>{"a", "b c/d"}));
    EXPECT_EQ(str(Uri_PathGen(&h)), "/a/b+c%2Fd");
    Uri_PathHeadFree(&h);
    struct Uri_PathHead empty {};
    EXPECT_EQ(str(Uri_PathGen(&empty)), "");
    for (const char *bad : {"/", "a/b", ""}) {
        errno = 0;
        EXPECT_EQ(Uri_PathParse(bad, &h), -1) << bad;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(Uri_PathParse("/a/%", &h), -1);
    EXPECT_EQ(h.first, nullptr);
}

std::string peer_text(struct CoAPMessage *m)
{
    struct sockaddr_storage ss;
    if (CoAPMessage_GetSockAddr(m, &ss) != 0)
        return "none";
    auto *sin = reinterpret_cast<struct sockaddr_in *>(&ss);
    char buf[INET6_ADDRSTRLEN];
    inet_ntop(ss.ss_family, &sin->sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(sin->sin_port));
}

TEST(Uri, MessageRoundTrip)
{
    Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 1));
    ASSERT_EQ(CoAPMessage_SetUri(m.get(), "coap://192.0.2.1/info?x=1", 0), 0);
    EXPECT_EQ(peer_text(m.get()), "192.0.2.1:5683");
    EXPECT_EQ(option_numbers(m.get()), (std::vector<uint32_t>{COAP_OPTION_URI_PATH, COAP_OPTION_URI_QUERY}));
    uint32_t len;
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetOptionOpaque(m.get(), COAP_OPTION_URI_HOST, &len), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(str(CoAPMessage_GetUri(m.get())), "coap://192.0.2.1/info?x=1");

    ASSERT_EQ(CoAPMessage_SetUri(m.get(), "coaps://10.1.2.3:6000/a/b%20c?k=v&f", 0), 0);
    EXPECT_EQ(peer_text(m.get()), "10.1.2.3:6000");
    int secure = 0;
    CoAPMessage_GetSecure(m.get(), &secure);
    EXPECT_EQ(secure, 1);
    EXPECT_EQ(str(CoAPMessage_GetUriPath(m.get())), "/a/b+c");
    EXPECT_EQ(str(CoAPMessage_GetUri(m.get())), "coaps://10.1.2.3:6000/a/b+c?k=v&f");

    // Path and query only: the address and the secure mark stay.
    ASSERT_EQ(CoAPMessage_SetUri(m.get(), "coap://9.9.9.9/z", COAP_URI_PATH | COAP_URI_QUERY), 0);
    EXPECT_EQ(peer_text(m.get()), "10.1.2.3:6000");
    EXPECT_EQ(str(CoAPMessage_GetUri(m.get())), "coaps://10.1.2.3:6000/z");

    // A name is looked up and carried as Uri-Host.
    ASSERT_EQ(CoAPMessage_SetUri(m.get(), "coap://localhost:7000/", 0), 0);
    EXPECT_EQ(peer_text(m.get()), "127.0.0.1:7000");
    EXPECT_EQ(str(CoAPMessage_GetUri(m.get())), "coap://localhost:7000");
    ASSERT_EQ(CoAPMessage_SetUri(m.get(), "coap://127.0.0.2", 0), 0);
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetOptionOpaque(m.get(), COAP_OPTION_URI_HOST, &len), nullptr)
        << "every call drops an old Uri-Host";

    errno = 0;
    EXPECT_EQ(CoAPMessage_SetUri(m.get(), "coap://no-such-host.invalid/", 0), -1);
    EXPECT_EQ(errno, EADDRNOTAVAIL);
    errno = 0;
    EXPECT_EQ(CoAPMessage_SetUri(m.get(), "coap://h:99999", 0), -1);
    EXPECT_EQ(errno, EBADE);

    Msg bare(CoAPMessage(0, 1, 2));
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetUri(bare.get()), nullptr);
    EXPECT_EQ(errno, ENODATA);
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetUriPath(bare.get()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(CoAPMessage_GetUriQuery(bare.get()), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Uri, QueryOptionsBackToText)
{
    Msg m(CoAPMessage(0, 1, 1));
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_QUERY, "a=1");
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_QUERY, "b");
    EXPECT_EQ(str(CoAPMessage_GetUriQuery(m.get())), "?a=1&b");
    // "k=" comes back as "k=", not as an escaped "=".
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_QUERY, "k=");
    EXPECT_EQ(str(CoAPMessage_GetUriQuery(m.get())), "?a=1&b&k=");
    ASSERT_EQ(CoAPMessage_SetUriQuery(m.get(), "?x&y=2"), 0);
    EXPECT_EQ(str(CoAPMessage_GetUriQuery(m.get())), "?x&y=2");
    ASSERT_EQ(CoAPMessage_SetUriPath(m.get(), "/one/two"), 0);
    EXPECT_EQ(str(CoAPMessage_GetUriPath(m.get())), "/one/two");
    EXPECT_EQ(CoAPMessage_SetUriPath(m.get(), "/"), -1);
    EXPECT_EQ(str(CoAPMessage_GetUriPath(m.get())), "/one/two") << "a refused path changes nothing";
}

}  // namespace

// The whole URI text is built in one piece; its path and query are what the
// path and query texts of the same options are, odd values included.
TEST(Uri, WholeTextAgreesWithPathAndQuery)
{
    struct Case {
        std::vector<std::string> path, query;
    } cases[] = {
        {{"a", "b c", "%", "\xff/x"}, {}},
        {{""}, {"k=", "=v", "a b=c d", "x"}},
        {{std::string("nul\0after", 9)}, {std::string("k\0j=v", 5), std::string("k=v\0w", 5)}},
        {{}, {"only=query&more"}},
    };
    for (const Case &c : cases) {
        Msg m(CoAPMessage(0, 1, 1));
        struct sockaddr_storage peer = v4("192.0.2.9", 5683);
        CoAPMessage_SetSockAddr(m.get(), &peer);
        for (const std::string &p : c.path)
            CoAPMessage_AddOptionOpaque(m.get(), COAP_OPTION_URI_PATH, p.data(), p.size());
        for (const std::string &q : c.query)
            CoAPMessage_AddOptionOpaque(m.get(), COAP_OPTION_URI_QUERY, q.data(), q.size());
        char *path = CoAPMessage_GetUriPath(m.get());
        char *query = CoAPMessage_GetUriQuery(m.get());
        std::string want = "coap://192.0.2.9" + std::string(path ? path : "") + (query ? query : "");
        Mem_free(path);
        Mem_free(query);
        EXPECT_EQ(str(CoAPMessage_GetUri(m.get())), want);
    }
}
