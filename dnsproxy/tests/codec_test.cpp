// The DNS message codec against real server answers and hand-made messages.
#include "dns.h"
#include "fw_test/bytes.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Packet {
    std::vector<unsigned char> mem;
    dns_packet *P;
    explicit Packet(size_t n = 4096) : mem(dns_p_calcsize(n)), P(dns_p_init(mem.data(), mem.size())) {}
    explicit Packet(const std::vector<unsigned char> &wire) : Packet(wire.size() + 512)
    {
        EXPECT_EQ(0, dns_p_load(P, wire.data(), wire.size()));
    }
};

struct Fixture {
    std::string query;
    std::vector<unsigned char> wire;
    std::vector<std::string> lines;
};

std::vector<Fixture> load_fixtures()
{
    std::ifstream in(DNSR_TEST_DATA "/nsd_answers.txt");
    std::vector<Fixture> all;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("query ", 0) == 0)
            all.push_back({line.substr(6), {}, {}});
        else if (line.rfind("wire ", 0) == 0)
            all.back().wire = fw_test::hex(line.substr(5));
        else if (line.rfind("= ", 0) == 0)
            all.back().lines.push_back(line.substr(2));
    }
    return all;
}

std::string print(const dns_rr &rr, dns_packet *P)
{
    std::vector<char> buf(70000);
    EXPECT_EQ(0, dns_rr_print(buf.data(), buf.size(), &rr, P));
    return buf.data();
}

std::vector<std::string> print_records(dns_packet *P, unsigned sections)
{
    std::vector<std::string> out;
    dns_rr_i it{};
    it.section = sections;
    dns_rr rr;
    int rc;
    while ((rc = dns_rr_next(&it, P, &rr)) == 1)
        out.push_back(print(rr, P));
    EXPECT_EQ(0, rc);
    return out;
}

TEST(CodecFixtures, EveryRecordPrintsAsTheServerSentIt)
{
    auto all = load_fixtures();
    ASSERT_EQ(13u, all.size());
    for (auto &f : all) {
        SCOPED_TRACE(f.query);
        Packet pk(f.wire);
        EXPECT_EQ(f.lines, print_records(pk.P, DNS_S_AN | DNS_S_NS | DNS_S_AR));
        auto q = print_records(pk.P, DNS_S_QD);
        ASSERT_EQ(1u, q.size());
        EXPECT_EQ(f.query.substr(0, f.query.find(' ')) + ". IN " + f.query.substr(f.query.find(' ') + 1),
                  q[0]);
    }
}

// Every record parsed into its typed value and pushed again makes a message
// that parses to the same records; compression keeps it no larger.
TEST(CodecFixtures, RebuildRoundTrip)
{
    for (auto &f : load_fixtures()) {
        SCOPED_TRACE(f.query);
        Packet in(f.wire);
        Packet out;
        dns_p_setid(out.P, dns_p_id(in.P));
        dns_p_setflags(out.P, dns_p_flags(in.P));
        auto any = std::make_unique<dns_any>();
        dns_rr_i it{};
        dns_rr rr;
        char name[DNS_D_MAXTEXT];
        while (dns_rr_next(&it, in.P, &rr) == 1) {
            ASSERT_EQ(0, dns_d_expand(name, sizeof name, rr.dn.p, in.P, nullptr));
            if (rr.section == DNS_S_QD) {
                ASSERT_EQ(0, dns_p_push_question(out.P, name, rr.type, rr.class_));
                continue;
            }
            ASSERT_EQ(0, dns_any_parse(any.get(), &rr, in.P));
            ASSERT_EQ(0, dns_p_push(out.P, rr.section, name, rr.type, rr.class_, rr.ttl, any.get()));
        }
        EXPECT_EQ(print_records(in.P, DNS_S_ALL), print_records(out.P, DNS_S_ALL));
        EXPECT_LE(out.P->end, in.P->end);
        EXPECT_EQ(dns_p_count(in.P, DNS_S_ALL), dns_p_count(out.P, DNS_S_ALL));
    }
}

// A message with a header and one question whose name is given as wire bytes.
std::vector<unsigned char> with_name(std::vector<unsigned char> name)
{
    std::vector<unsigned char> m = {0x12, 0x34, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    m.insert(m.end(), name.begin(), name.end());
    m.insert(m.end(), {0, 1, 0, 1});
    return m;
}

TEST(CodecNames, ExpandCases)
{
    auto labels = [](std::vector<int> lens) {
        std::vector<unsigned char> n;
        for (int l : lens) {
            n.push_back((unsigned char)l);
            n.insert(n.end(), l, 'a');
        }
        n.push_back(0);
        return n;
    };
    auto longest = labels({63, 63, 63, 61});   // 255 octets
    auto too_long = labels({63, 63, 63, 62});  // 256

    struct Case {
        const char *what;
        std::vector<unsigned char> name;
        int rc;
        std::string text;
    } cases[] = {
        {"plain", {3, 'w', 'w', 'w', 2, 'e', 'x', 0}, 0, "www.ex."},
        {"root", {0}, 0, "."},
        {"dot inside a label", {3, 'a', '.', 'b', 0}, 0, "a\\.b."},
        {"zero byte and backslash", {3, 'a', 0, '\\', 0}, 0, "a\\000\\\\."},
        {"blank and high byte", {2, ' ', 0xff, 0}, 0, "\\032\\255."},
        {"label length 64", {64, 'a', 0}, DNS_EILLEGAL, ""},
        {"label length 0x80", {0x80, 0}, DNS_EILLEGAL, ""},
        {"label past the end", {9, 'a', 'b'}, DNS_EILLEGAL, ""},
        {"pointer to itself", {0xc0, 12}, DNS_EILLEGAL, ""},
        {"pointer forward", {0xc0, 14, 0, 0}, DNS_EILLEGAL, ""},
        {"pointer into the header", {1, 'a', 0xc0, 4}, 0, "a."},
        {"longest name", longest, 0, ""},
        {"256 octets", too_long, DNS_EILLEGAL, ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto wire = with_name(c.name);
        Packet pk(wire);
        char text[DNS_D_MAXTEXT];
        int rc = dns_d_expand(text, sizeof text, 12, pk.P, nullptr);
        EXPECT_EQ(c.rc, rc);
        if (rc == 0 && !c.text.empty()) {
            EXPECT_EQ(c.text, text);
        }
    }
}

TEST(CodecNames, PointerChainsOnlyGoBackwards)
{
    // a -> b -> c, each an earlier name: fine. Then one pointing forward.
    std::vector<unsigned char> m = {0, 0,   0, 0, 0,   0,    0,  0, 0,   0,    0, 0,
                                    1, 'x', 0, 1, 'y', 0xc0, 12, 1, 'z', 0xc0, 15};
    Packet pk(m);
    char text[64];
    EXPECT_EQ(0, dns_d_expand(text, sizeof text, 19, pk.P, nullptr));
    EXPECT_STREQ("z.y.x.", text);
    // A loop needs a pointer that goes forward somewhere: 16 -> 12 -> 16.
    std::vector<unsigned char> l = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'x', 0xc0, 16, 0xc0, 12};
    Packet loop(l);
    EXPECT_EQ(DNS_EILLEGAL, dns_d_expand(text, sizeof text, 16, loop.P, nullptr));
}

TEST(CodecNames, TextThatDoesNotFitIsAnErrorNotACut)
{
    Packet pk(with_name({5, 'a', 'b', 'c', 'd', 'e', 0}));
    char text[6];
    size_t len = 0;
    EXPECT_EQ(DNS_ENOBUFS, dns_d_expand(text, sizeof text, 12, pk.P, &len));
    EXPECT_EQ(6u, len);
    char fits[7];
    EXPECT_EQ(0, dns_d_expand(fits, sizeof fits, 12, pk.P, &len));
    EXPECT_STREQ("abcde.", fits);
}

TEST(CodecNames, FromTextCases)
{
    struct Case {
        const char *text;
        int rc;
        std::vector<unsigned char> wire;
    } cases[] = {
        {"a.b", 0, {1, 'a', 1, 'b', 0}},
        {"a.b.", 0, {1, 'a', 1, 'b', 0}},
        {".", 0, {0}},
        {"", 0, {0}},
        {"a\\.b", 0, {3, 'a', '.', 'b', 0}},
        {"a\\000", 0, {2, 'a', 0, 0}},
        {"a\\256", DNS_EILLEGAL, {}},
        {"a..b", DNS_EILLEGAL, {}},
        {".a", DNS_EILLEGAL, {}},
        {"a\\", DNS_EILLEGAL, {}},
        {"a\\1", DNS_EILLEGAL, {}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        unsigned char w[DNS_D_MAXNAME];
        size_t len = 0;
        EXPECT_EQ(c.rc, dns_d_fromtext(w, c.text, strlen(c.text), &len));
        if (c.rc == 0) {
            EXPECT_EQ(c.wire, std::vector<unsigned char>(w, w + len));
        }
    }
    std::string label64(64, 'a');
    unsigned char w[DNS_D_MAXNAME];
    size_t len;
    EXPECT_EQ(DNS_EILLEGAL, dns_d_fromtext(w, label64.c_str(), label64.size(), &len));
    std::string name256;
    for (int i = 0; i < 4; i++)
        name256 += std::string(63, 'b') + ".";
    EXPECT_EQ(DNS_EILLEGAL, dns_d_fromtext(w, name256.c_str(), name256.size(), &len));
}

TEST(CodecNames, EscapedTextRoundTrips)
{
    std::vector<unsigned char> name = {4, 'a', '.', 0, '\\', 3, 'B', ' ', 'c', 0};
    Packet pk(with_name(name));
    char text[DNS_D_MAXTEXT];
    ASSERT_EQ(0, dns_d_expand(text, sizeof text, 12, pk.P, nullptr));
    unsigned char w[DNS_D_MAXNAME];
    size_t len;
    ASSERT_EQ(0, dns_d_fromtext(w, text, strlen(text), &len));
    EXPECT_EQ(name, std::vector<unsigned char>(w, w + len));
}

TEST(CodecPush, NamesAreCompressedAgainstEarlierOnes)
{
    Packet pk;
    ASSERT_EQ(0, dns_p_push_question(pk.P, "www.example.com", DNS_T_A, DNS_C_IN));
    size_t after_q = pk.P->end;
    dns_any a{};
    inet_pton(AF_INET, "192.0.2.1", &a.a.addr);
    ASSERT_EQ(0, dns_p_push(pk.P, DNS_S_AN, "WWW.example.com.", DNS_T_A, DNS_C_IN, 60, &a));
    EXPECT_EQ(after_q + 2 + 10 + 4, pk.P->end);  // whole name as one pointer
    ASSERT_EQ(0, dns_p_push(pk.P, DNS_S_AN, "mail.example.com", DNS_T_A, DNS_C_IN, 60, &a));
    EXPECT_EQ(after_q + 16 + 5 + 2 + 10 + 4, pk.P->end);  // "mail" and a pointer
    EXPECT_EQ(2u, dns_p_count(pk.P, DNS_S_AN));
    auto lines = print_records(pk.P, DNS_S_AN);
    EXPECT_EQ((std::vector<std::string>{"www.example.com. 60 IN A 192.0.2.1",
                                        "mail.example.com. 60 IN A 192.0.2.1"}),
              lines);
}

TEST(CodecPush, QuestionWithoutRoomLeavesMessageUnchanged)
{
    // Room for the header and the name, and 3 of the 4 bytes after it.
    std::vector<unsigned char> mem(dns_p_calcsize(12 + 13 + 3));
    dns_packet *P = dns_p_init(mem.data(), mem.size());
    ASSERT_NE(nullptr, P);
    std::vector<unsigned char> before(dns_p_data(P), dns_p_data(P) + 12);
    EXPECT_EQ(DNS_ENOBUFS, dns_p_push_question(P, "example.com", DNS_T_A, DNS_C_IN));
    EXPECT_EQ(12u, P->end);
    EXPECT_EQ(before, std::vector<unsigned char>(dns_p_data(P), dns_p_data(P) + 12));
    for (uint16_t d : P->dict)
        EXPECT_EQ(0, d);
    EXPECT_EQ(nullptr, dns_p_init(mem.data(), dns_p_calcsize(11)));
}

TEST(CodecPush, SectionsAreAppendedInOrder)
{
    Packet pk;
    dns_any a{};
    ASSERT_EQ(0, dns_p_push(pk.P, DNS_S_AR, "x", DNS_T_A, DNS_C_IN, 1, &a));
    EXPECT_EQ(DNS_EILLEGAL, dns_p_push(pk.P, DNS_S_AN, "x", DNS_T_A, DNS_C_IN, 1, &a));
    EXPECT_EQ(DNS_EILLEGAL, dns_p_push_question(pk.P, "x", DNS_T_A, DNS_C_IN));
    EXPECT_EQ(DNS_ENOTYPE, dns_p_push(pk.P, DNS_S_AR, "x", 65517, DNS_C_IN, 1, &a));
    unsigned char opt[4] = {1, 2, 3, 4};
    ASSERT_EQ(0, dns_p_push_raw(pk.P, DNS_S_AR, ".", 65517, DNS_C_IN, 0, opt, 4));
    auto lines = print_records(pk.P, DNS_S_AR);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(". 0 IN TYPE65517 \\# 4 01020304", lines[1]);
}

TEST(CodecRecords, TxtStringsAreJoinedAndTtlTopBitCleared)
{
    std::vector<unsigned char> m = {0,  1, 0x81, 0x80, 0, 0, 0, 1, 0, 0, 0,   0,   1, 't', 0,  0,
                                    16, 0, 1,    0x80, 0, 0, 5, 0, 6, 2, 'a', 'b', 2, 'c', 'd'};
    Packet pk(m);
    dns_rr rr;
    ASSERT_EQ(0, dns_rr_parse(&rr, 12, pk.P));
    EXPECT_EQ(DNS_S_AN, rr.section);
    EXPECT_EQ(5u, rr.ttl);
    auto any = std::make_unique<dns_any>();
    ASSERT_EQ(0, dns_any_parse(any.get(), &rr, pk.P));
    EXPECT_EQ("abcd", std::string((char *)any->txt.data, any->txt.len));
    char text[64];
    dns_any_print(text, sizeof text, any.get(), DNS_T_TXT);
    EXPECT_STREQ("\"abcd\"", text);
    EXPECT_NE(0, dns_any_cmp(any.get(), any.get(), DNS_T_TXT));  // TXT never equals

    // Pushed text longer than a character-string is split at 255 and printed
    // with a quote break there.
    any->txt.len = 300;
    memset(any->txt.data, 'x', 300);
    Packet out;
    ASSERT_EQ(0, dns_p_push(out.P, DNS_S_AN, "t", DNS_T_TXT, DNS_C_IN, 1, any.get()));
    ASSERT_EQ(0, dns_rr_parse(&rr, 12, out.P));
    EXPECT_EQ(302, rr.rd.len);
    auto back = std::make_unique<dns_any>();
    ASSERT_EQ(0, dns_any_parse(back.get(), &rr, out.P));
    EXPECT_EQ(300u, back->txt.len);
    std::vector<char> line(400);
    dns_any_print(line.data(), line.size(), back.get(), DNS_T_TXT);
    EXPECT_EQ("\"" + std::string(255, 'x') + "\" \"" + std::string(45, 'x') + "\"", line.data());
}

TEST(CodecRecords, MalformedRecordsAreRefused)
{
    struct Case {
        const char *what;
        std::vector<unsigned char> rr;  // one answer record after the header
        bool structural;                // the record itself, not only its data, is broken
    } cases[] = {
        {"rdata past the end", {0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 9, 1, 2, 3, 4}, true},
        {"A with 3 bytes", {0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 3, 1, 2, 3}, false},
        {"TXT string past rdata", {0, 0, 16, 0, 1, 0, 0, 0, 1, 0, 2, 5, 'a'}, false},
        {"MX name past rdata", {0, 0, 15, 0, 1, 0, 0, 0, 1, 0, 3, 0, 1, 3}, false},
        {"truncated fixed part", {0, 0, 1, 0, 1, 0, 0}, true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> m = {0, 1, 0x81, 0x80, 0, 0, 0, 1, 0, 0, 0, 0};
        m.insert(m.end(), c.rr.begin(), c.rr.end());
        Packet pk(m);
        dns_rr rr;
        int rc = dns_rr_parse(&rr, 12, pk.P);
        if (rc == 0) {
            auto any = std::make_unique<dns_any>();
            rc = dns_any_parse(any.get(), &rr, pk.P);
        }
        EXPECT_EQ(DNS_EILLEGAL, rc);
        dns_rr_i it{};
        EXPECT_EQ(c.structural, dns_rr_next(&it, pk.P, &rr) < 0);
    }
}

TEST(CodecRecords, CompareAndPrintByType)
{
    auto a = std::make_unique<dns_any>(), b = std::make_unique<dns_any>();
    *a = dns_any{};
    *b = dns_any{};
    a->mx.preference = 10;
    strcpy(a->mx.host, "Mail.Example.");
    b->mx.preference = 10;
    strcpy(b->mx.host, "mail.example");
    EXPECT_EQ(0, dns_any_cmp(a.get(), b.get(), DNS_T_MX));
    b->mx.preference = 5;
    EXPECT_GT(dns_any_cmp(a.get(), b.get(), DNS_T_MX), 0);
    EXPECT_STREQ("Mail.Example.", dns_any_name(a.get(), DNS_T_MX));
    EXPECT_EQ(nullptr, dns_any_name(a.get(), DNS_T_SOA));

    *a = dns_any{};
    a->sshfp.algo = 1;
    a->sshfp.type = 2;
    a->sshfp.len = 2;
    a->sshfp.digest[0] = 0xab;
    a->sshfp.digest[1] = 0x01;
    char text[64];
    dns_any_print(text, sizeof text, a.get(), DNS_T_SSHFP);
    EXPECT_STREQ("1 2 ab01", text);
    *b = *a;
    b->sshfp.algo = 2;
    EXPECT_LT(dns_any_cmp(a.get(), b.get(), DNS_T_SSHFP), 0);

    *a = dns_any{};
    a->txt.len = 3;
    memcpy(a->txt.data, "a\"\t", 3);
    dns_any_print(text, sizeof text, a.get(), DNS_T_TXT);
    EXPECT_STREQ("\"a\\034\\009\"", text);
    EXPECT_EQ(nullptr, dns_strtype(41));
    EXPECT_STREQ("SSHFP", dns_strtype(44));
}

TEST(CodecRecords, IteratorFilters)
{
    auto all = load_fixtures();
    Packet pk(all[0].wire);  // www A: two A answers, NS authority, glue
    dns_rr_i it{};
    it.section = DNS_S_AN | DNS_S_NS | DNS_S_AR;
    it.type = DNS_T_A;
    it.name = "WWW.fix.test";
    dns_rr rr;
    int n = 0;
    while (dns_rr_next(&it, pk.P, &rr) == 1) {
        EXPECT_EQ(DNS_S_AN, rr.section);
        n++;
    }
    EXPECT_EQ(2, n);
    dns_rr_i ns{};
    ns.section = DNS_S_NS;
    n = 0;
    while (dns_rr_next(&ns, pk.P, &rr) == 1)
        n++;
    EXPECT_EQ(2, n);
    EXPECT_EQ(6u, dns_p_count(pk.P, DNS_S_AN | DNS_S_NS | DNS_S_AR));
}

TEST(CodecPacket, CopyNeedsRoom)
{
    auto all = load_fixtures();
    Packet src(all[2].wire);
    Packet small(16);
    EXPECT_EQ(nullptr, dns_p_copy(small.P, src.P));
    Packet big;
    ASSERT_NE(nullptr, dns_p_copy(big.P, src.P));
    EXPECT_EQ(print_records(src.P, DNS_S_ALL), print_records(big.P, DNS_S_ALL));
    EXPECT_EQ(0x1002, dns_p_id(big.P));
    EXPECT_EQ(0u, dns_p_rcode(big.P));
    Packet nx(all[12].wire);
    EXPECT_EQ(3u, dns_p_rcode(nx.P));
}

}  // namespace

namespace {

// An answer for www.ex. A: the question, then the records given, counts as given.
std::vector<unsigned char> answer_with(unsigned an, unsigned ns, unsigned ar,
                                       const std::vector<unsigned char> &records,
                                       std::vector<unsigned char> qname = {3, 'w', 'w', 'w', 2, 'e', 'x', 0})
{
    std::vector<unsigned char> m = {
        0x12, 0x34, 0x81, 0x80, 0, 1, 0, (unsigned char)an, 0, (unsigned char)ns, 0, (unsigned char)ar};
    m.insert(m.end(), qname.begin(), qname.end());
    m.insert(m.end(), {0, 1, 0, 1});
    m.insert(m.end(), records.begin(), records.end());
    return m;
}

// Owner by pointer to the question, TYPE, CLASS IN, TTL, then the data.
std::vector<unsigned char> rr(uint16_t type, uint32_t ttl, std::vector<unsigned char> data,
                              std::vector<unsigned char> owner = {0xc0, 12})
{
    std::vector<unsigned char> r = owner;
    r.insert(r.end(), {(unsigned char)(type >> 8), (unsigned char)type, 0, 1, (unsigned char)(ttl >> 24),
                       (unsigned char)(ttl >> 16), (unsigned char)(ttl >> 8), (unsigned char)ttl,
                       (unsigned char)(data.size() >> 8), (unsigned char)data.size()});
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

std::vector<unsigned char> cat(std::initializer_list<std::vector<unsigned char>> parts)
{
    std::vector<unsigned char> out;
    for (auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(CodecCheck, WholeMessageWalk)
{
    const std::vector<unsigned char> a = {192, 0, 2, 1};
    // The question starts at 12; its name is 8 octets, so records start at 24.
    std::vector<unsigned char> longest;  // 255 octets: 63, 63, 63, 61 and the root
    for (int l : {63, 63, 63, 61}) {
        longest.push_back((unsigned char)l);
        longest.insert(longest.end(), l, 'a');
    }
    longest.push_back(0);
    struct Case {
        const char *what;
        std::vector<unsigned char> wire;
        int rc;
    } cases[] = {
        {"plain answer", answer_with(1, 0, 0, rr(1, 300, a)), 0},
        {"CNAME by pointer, then A", answer_with(2, 0, 0, cat({rr(5, 60, {1, 'x', 0xc0, 16}), rr(1, 60, a)})),
         0},
        {"SOA in authority",
         answer_with(0, 1, 0,
                     rr(6, 60, cat({{2, 'n', 's', 0xc0, 12, 0xc0, 12}, std::vector<unsigned char>(20, 0)}))),
         0},
        {"trailing bytes after the records", cat({answer_with(1, 0, 0, rr(1, 300, a)), {0, 0}}), 0},
        {"longest name in the question", answer_with(0, 0, 0, {}, longest), 0},
        {"owner pointing at itself", answer_with(1, 0, 0, rr(1, 300, a, {0xc0, 24})), DNS_EILLEGAL},
        {"owner pointing forward", answer_with(1, 0, 0, rr(1, 300, a, {0xc0, 40})), DNS_EILLEGAL},
        {"pointer loop through two names",
         answer_with(2, 0, 0, cat({rr(1, 1, a, {1, 'b', 0xc0, 40}), rr(1, 1, a, {1, 'c', 0xc0, 24})})),
         DNS_EILLEGAL},
        {"CNAME data pointing forward", answer_with(1, 0, 0, rr(5, 60, {0xc0, 60})), DNS_EILLEGAL},
        {"CNAME name running past its data", answer_with(2, 0, 0, cat({rr(5, 60, {3, 'a'}), rr(1, 60, a)})),
         DNS_EILLEGAL},
        {"MX without its name", answer_with(1, 0, 0, rr(15, 60, {0, 10})), DNS_EILLEGAL},
        {"SOA cut short", answer_with(0, 1, 0, rr(6, 60, {0xc0, 12, 0xc0, 12, 0, 0})), DNS_EILLEGAL},
        {"record length past the end",
         [&] {
             auto m = answer_with(1, 0, 0, rr(1, 300, a));
             m[m.size() - 5] = 40;  // RDLENGTH 40 of 4 bytes there
             return m;
         }(),
         DNS_EILLEGAL},
        {"count larger than the records", answer_with(2, 0, 0, rr(1, 300, a)), DNS_EILLEGAL},
        {"additional count larger", answer_with(1, 0, 3, rr(1, 300, a)), DNS_EILLEGAL},
        {"A of five bytes", answer_with(1, 0, 0, rr(1, 300, {1, 2, 3, 4, 5})), DNS_EILLEGAL},
        {"AAAA of four bytes", answer_with(1, 0, 0, rr(28, 300, a)), DNS_EILLEGAL},
        {"TXT without strings", answer_with(1, 0, 0, rr(16, 300, {})), DNS_EILLEGAL},
        {"TXT string past its data", answer_with(1, 0, 0, rr(16, 300, {5, 'a'})), DNS_EILLEGAL},
        {"name over 255 octets through a pointer",
         answer_with(1, 0, 0, rr(1, 300, a, {1, 'b', 0xc0, 12}), longest), DNS_EILLEGAL},
        {"label length 64 in an owner", answer_with(1, 0, 0, rr(1, 300, a, {64, 'a', 0})), DNS_EILLEGAL},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        Packet pk(c.wire);
        EXPECT_EQ(c.rc, dns_p_check(pk.P));
    }
}

TEST(CodecCheck, EveryServerAnswerIsWellFormed)
{
    for (auto &f : load_fixtures()) {
        SCOPED_TRACE(f.query);
        Packet pk(f.wire);
        EXPECT_EQ(0, dns_p_check(pk.P));
    }
}

TEST(CodecCheck, LeastAnswerTtlAndEdnsSize)
{
    const std::vector<unsigned char> a = {192, 0, 2, 1};
    const std::vector<unsigned char> opt = {0, 0, 41, 0x04, 0xd0, 0, 0, 0, 0, 0, 0};
    struct Case {
        const char *what;
        std::vector<unsigned char> wire;
        int found;
        uint32_t ttl;
        unsigned edns;
    } cases[] = {
        {"one answer", answer_with(1, 0, 0, rr(1, 300, a)), 1, 300, 0},
        {"least of three", answer_with(3, 0, 0, cat({rr(1, 300, a), rr(1, 20, a), rr(1, 90, a)})), 1, 20, 0},
        {"top bit of the TTL cleared", answer_with(1, 0, 0, rr(1, 0x80000005u, a)), 1, 5, 0},
        {"authority TTLs don't count", answer_with(1, 1, 0, cat({rr(1, 300, a), rr(1, 7, a)})), 1, 300, 0},
        {"no answers, EDNS 1232", answer_with(0, 0, 1, opt), 0, 0, 1232},
        {"answer and EDNS", answer_with(1, 0, 1, cat({rr(1, 60, a), opt})), 1, 60, 1232},
        {"malformed", answer_with(2, 0, 0, rr(1, 300, a)), DNS_EILLEGAL, 0, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        Packet pk(c.wire);
        uint32_t ttl = 0;
        EXPECT_EQ(c.found, dns_p_min_answer_ttl(pk.P, &ttl));
        if (c.found > 0) {
            EXPECT_EQ(c.ttl, ttl);
        }
        EXPECT_EQ(c.edns, dns_p_edns_size(pk.P));
    }
}

TEST(CodecNames, CopyFollowsPointers)
{
    auto m = answer_with(1, 0, 0, rr(5, 60, {1, 'x', 0xc0, 12}, {3, 'W', 'w', 'w', 0xc0, 16}));
    Packet pk(m);
    unsigned char name[DNS_D_MAXNAME];
    size_t len = 0;
    ASSERT_EQ(0, dns_d_copy(name, 24, pk.P, &len));
    const unsigned char want[] = {3, 'W', 'w', 'w', 2, 'e', 'x', 0};
    ASSERT_EQ(sizeof want, len);
    EXPECT_EQ(0, memcmp(want, name, len));
    EXPECT_EQ(DNS_EILLEGAL,
              dns_d_copy(name, uint16_t(m.size() - 3), pk.P, &len));  // the "x" byte: no label length
}
