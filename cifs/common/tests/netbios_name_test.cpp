// NetBIOS names: formatting, first-level encoding with and without a scope,
// parsing bounded by the packet (pointers, loops, truncation), ids, node type.
#include "ud_test_env.h"

#include "cmnetbios.h"

#include <functional>
#include <string>
#include <vector>

using namespace testenv;

namespace {

using Bytes = std::vector<uint8_t>;

CMNetBiosNameInfo record(const char *text, uint8_t suffix)
{
    CMNetBiosNameInfo r{};
    cmNetBiosNameCreate(&r, text, suffix);
    return r;
}

Bytes encode(const CMNetBiosNameInfo &r)
{
    Bytes out(CM_NB_ENCODED_NAME_MAX, 0xEE);
    out.resize(cmNetBiosEncodeName(&r, out.data()));
    return out;
}

Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

// The transaction-id test runs first, before anything else draws an id.
TEST(NetBiosTranId, StartsAtOneAndWraps)
{
    EXPECT_EQ(cmNetBiosGetNextTranId(), 1);
    EXPECT_EQ(cmNetBiosGetNextTranId(), 2);
    uint16_t id = 2;
    while (id != 65535)
        id = cmNetBiosGetNextTranId();
    EXPECT_EQ(cmNetBiosGetNextTranId(), 0);
    EXPECT_EQ(cmNetBiosGetNextTranId(), 1);
}

TEST(NetBiosName, CreateFormatAndClean)
{
    const struct {
        const char *text;
        uint8_t suffix;
        const char *name;  // 16 bytes
    } cases[] = {
        {"fred.example.com", 0x20, "FRED           \x20"},
        {"abcdefghijklmnopq", 0x1B, "ABCDEFGHIJKLMNO\x1B"},
        {"x", 0x03, "X              \x03"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        CMNetBiosNameInfo r = record(c.text, c.suffix);
        EXPECT_EQ(std::string(r.name, 16), std::string(c.name, 16));
        EXPECT_EQ(r.name[16], '\0');
    }
    char empty[17] = {};
    cmNetBiosNameFormat(empty, 0x20);
    EXPECT_EQ(Bytes(empty, empty + 17), Bytes(17, 0));

    CMNetBiosNameInfo r = record("fred", 0x20);
    cmNetBiosNameClean(r.name);
    EXPECT_STREQ(r.name, "FRED");
    r = record("fred", 0x1C);
    cmNetBiosNameClean(r.name);
    EXPECT_EQ(std::string(r.name), std::string("FRED           \x1C"));
    char spaces[17];
    std::memset(spaces, ' ', sizeof spaces);
    cmNetBiosNameClean(spaces);
    EXPECT_STREQ(spaces, "");
}

TEST(NetBiosName, EncodeWithoutScope)
{
    Bytes want = {0x20};
    for (char c : std::string("EGFCEFEE") + std::string(22, 'C'))
        want.push_back(static_cast<uint8_t>(c));
    for (size_t i = 9; i < want.size(); i += 2)
        want[i + 1] = 'A';
    want.push_back('A');
    want.push_back('A');
    want.push_back(0);
    Bytes got = encode(record("FRED", 0x00));
    ASSERT_EQ(got.size(), 34u);
    EXPECT_EQ(got, want);
}

TEST(NetBiosName, PointerEncoding)
{
    Bytes packet(100, 0);
    uint8_t out[2];
    EXPECT_EQ(cmNetBiosEncodeNamePointer(packet.data(), out, packet.data() + 12), 2u);
    EXPECT_EQ(out[0], 0xC0);
    EXPECT_EQ(out[1], 12);
    packet[50] = 0xC0;
    packet[51] = 0x0C;
    cmNetBiosEncodeNamePointer(packet.data(), out, packet.data() + 50);
    EXPECT_EQ(out[0], 0xC0);
    EXPECT_EQ(out[1], 12);
}

// A packet: 12 header bytes, then whatever the case puts there.
struct Packet {
    Bytes data = Bytes(12, 0);
    size_t add(const Bytes &b)
    {
        size_t at = data.size();
        data.insert(data.end(), b.begin(), b.end());
        return at;
    }
    const uint8_t *at(size_t i) const { return data.data() + i; }
    const uint8_t *end() const { return data.data() + data.size(); }
};

Bytes encodedBody(const char *text, uint8_t suffix)
{
    Bytes b = encode(record(text, suffix));
    b.pop_back();  // without the terminating zero label
    return b;
}

TEST(NetBiosName, ParsePlainAndScoped)
{
    Packet p;
    Bytes name = encodedBody("WORKGROUP", 0x1D);
    Bytes scoped = name;
    for (uint8_t b : bytes("\3abc\5defgh"))
        scoped.push_back(b);
    scoped.push_back(0);
    size_t at = p.add(scoped);
    char out[17];
    char scope[100];
    const uint8_t *next = cmNetBiosParseName(p.at(0), p.end(), p.at(at), out, scope, sizeof scope);
    ASSERT_EQ(next, p.end());
    EXPECT_EQ(std::string(out, 16), std::string("WORKGROUP      \x1D"));
    EXPECT_STREQ(scope, "abc.defgh");
    EXPECT_EQ(cmNetBiosSkipName(p.at(0), p.end(), p.at(at)), p.end());

    // A scope buffer too small for the second label keeps the first.
    char small[8];
    cmNetBiosParseName(p.at(0), p.end(), p.at(at), out, small, sizeof small);
    EXPECT_STREQ(small, "abc");
}

TEST(NetBiosName, ParseFollowsOneBackwardPointer)
{
    Packet p;
    Bytes name = encodedBody("FRED", 0x20);
    name.push_back(3);
    for (uint8_t b : bytes("lan"))
        name.push_back(b);
    name.push_back(0);
    size_t first = p.add(name);
    size_t ptr = p.add({static_cast<uint8_t>(0xC0), static_cast<uint8_t>(first)});
    p.add({0xAA, 0xBB});
    char out[17];
    char scope[100];
    EXPECT_EQ(cmNetBiosParseName(p.at(0), p.end(), p.at(ptr), out, scope, sizeof scope), p.at(ptr + 2));
    EXPECT_EQ(std::string(out, 16), std::string("FRED           \x20"));
    EXPECT_STREQ(scope, "lan");

    // A pointer among the scope labels continues there and ends the name.
    Packet q;
    size_t label = q.add({3, 'c', 'o', 'm', 0});
    Bytes tail = encodedBody("FRED", 0x20);
    tail.push_back(2);
    tail.push_back('x');
    tail.push_back('y');
    tail.push_back(0xC0);
    tail.push_back(static_cast<uint8_t>(label));
    size_t n = q.add(tail);
    q.add({0x99});
    EXPECT_EQ(cmNetBiosParseName(q.at(0), q.end(), q.at(n), out, scope, sizeof scope), q.end() - 1);
    EXPECT_STREQ(scope, "xy.com");
}

TEST(NetBiosName, RefusesWhatIsNotANameInsideThePacket)
{
    char out[17];
    char scope[100];
    Bytes name = encodedBody("FRED", 0x20);
    const struct {
        const char *what;
        std::function<Packet(size_t &)> make;
    } cases[] = {
        {"wrong first byte",
         [&](size_t &at) {
             Packet p;
             Bytes b = name;
             b[0] = 0x21;
             b.push_back(0);
             at = p.add(b);
             return p;
         }},
        {"truncated name",
         [&](size_t &at) {
             Packet p;
             at = p.add(Bytes(name.begin(), name.begin() + 20));
             return p;
         }},
        {"no terminating label",
         [&](size_t &at) {
             Packet p;
             at = p.add(name);
             return p;
         }},
        {"label past the end",
         [&](size_t &at) {
             Packet p;
             Bytes b = name;
             b.push_back(9);
             b.push_back('a');
             at = p.add(b);
             return p;
         }},
        {"reserved label kind",
         [&](size_t &at) {
             Packet p;
             Bytes b = name;
             b.push_back(0x41);
             b.push_back(0);
             at = p.add(b);
             return p;
         }},
        {"pointer to itself",
         [&](size_t &at) {
             Packet p;
             at = p.data.size();
             p.add({0xC0, static_cast<uint8_t>(at)});
             return p;
         }},
        {"forward pointer",
         [&](size_t &at) {
             Packet p;
             at = p.add({0xC0, 14});
             Bytes b = name;
             b.push_back(0);
             p.add(b);
             return p;
         }},
        {"pointer past the packet",
         [&](size_t &at) {
             Packet p;
             at = p.add({0xFF, 0xFF});
             return p;
         }},
        {"half a pointer",
         [&](size_t &at) {
             Packet p;
             at = p.add({0xC0});
             return p;
         }},
        {"pointer to a non-name",
         [&](size_t &at) {
             Packet p;
             at = p.add({0xC0, 2});
             return p;
         }},
        {"second pointer (loop)",
         [&](size_t &at) {
             // The scope's pointer leads back to the pointer that led here.
             Packet p;
             Bytes b = name;
             size_t start = p.data.size();
             b.push_back(0xC0);
             b.push_back(static_cast<uint8_t>(start + name.size() + 2));
             p.add(b);
             at = p.add({0xC0, static_cast<uint8_t>(start)});
             return p;
         }},
        {"scope pointer loop",
         [&](size_t &at) {
             Packet p;
             Bytes b = name;
             size_t loop = p.data.size() + name.size();
             b.push_back(0xC0);
             b.push_back(static_cast<uint8_t>(loop));
             at = p.add(b);
             return p;
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        size_t at = 0;
        Packet p = c.make(at);
        EXPECT_EQ(cmNetBiosParseName(p.at(0), p.end(), p.at(at), out, scope, sizeof scope), nullptr);
        EXPECT_EQ(cmNetBiosSkipName(p.at(0), p.end(), p.at(at)), nullptr);
    }
    Packet p;
    EXPECT_EQ(cmNetBiosSkipName(p.at(0), p.end(), p.end()), nullptr);
    EXPECT_EQ(cmNetBiosSkipName(nullptr, p.end(), p.at(0)), nullptr);
}

class NetBiosScopeTest : public HookTest {};

TEST_F(NetBiosScopeTest, EncodeWithScopeAndParseBack)
{
    const struct {
        const char *scope;
        size_t length;
        const char *parsed;
    } cases[] = {
        {"abc.defgh", 44, "abc.defgh"},
        {"abc.", 38, "abc"},
        {"", 34, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.scope);
        udStop();
        ASSERT_EQ(udInit(), 0);
        writeFile(path("cm_cfg.txt"), std::string("SCOPE_ID=") + c.scope + "\n");
        ASSERT_EQ(cmNetBiosInit(), 0);
        Bytes got = encode(record("FRED", 0x00));
        EXPECT_EQ(got.size(), c.length);
        if (std::string(c.scope) == "abc.defgh") {
            // 33 name bytes, 03 "abc" 05 "defgh" 00.
            EXPECT_EQ(Bytes(got.begin() + 33, got.end()), bytes(std::string("\3abc\5defgh", 10) + '\0'));
        }
        char out[17];
        char scope[100];
        EXPECT_EQ(
            cmNetBiosParseName(got.data(), got.data() + got.size(), got.data(), out, scope, sizeof scope),
            got.data() + got.size());
        EXPECT_STREQ(scope, c.parsed);
        cmNetBiosExit();
    }
}

TEST_F(NetBiosScopeTest, NodeTypeFollowsWins)
{
    uint8_t flags = 0x02;
    cmNetBiosSetDatagramFlags(&flags);
    EXPECT_EQ(cmNetBiosGetNodeType(), uint32_t(CM_NB_NODE_B));
    EXPECT_EQ(flags, 0x02);
    udStop();
    ASSERT_EQ(udInit(), 0);
    writeFile(path("cm_cfg.txt"), "WINS=10.0.0.1\n");
    EXPECT_EQ(cmNetBiosGetNodeType(), uint32_t(CM_NB_NODE_M));
    cmNetBiosSetDatagramFlags(&flags);
    EXPECT_EQ(flags, 0x0A);
}

}  // namespace
