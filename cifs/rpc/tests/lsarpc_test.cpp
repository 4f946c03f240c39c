// The local security authority over a fake pipe: policy handles, the
// policy's identity, the domain role, and SIDs and names translated both
// ways, with qualified names matched on the whole host name.
#include "pipe_fixture.h"

#include <gtest/gtest.h>

using namespace rpc_test;

namespace {

const std::string kLsa = "12345778-1234-abcd-ef00-0123456789ab";
const std::string kLsads = "3919286a-b10c-11d0-9ba8-00c04fd92ef5";

struct Sid {
    std::vector<uint32_t> sub;  // after the authority 5
};

// A conformant RPC_SID.
Ndr &sid(Ndr &n, const Sid &s)
{
    n.align(4).u32(uint32_t(s.sub.size())).u8(1).u8(uint8_t(s.sub.size()));
    n.u8(0).u8(0).u8(0).u8(0).u8(0).u8(5);
    for (uint32_t v : s.sub)
        n.u32(v);
    return n;
}

// Reads a conformant RPC_SID as "S-1-5-..." text.
std::string readSid(NdrReader &d)
{
    uint32_t count = d.u32();
    if (d.at + 8 + 4ull * count > d.b.size()) {
        d.bad = true;
        return "";
    }
    std::string text = "S-" + std::to_string(d.b[d.at]) + "-" + std::to_string(d.b[d.at + 7]);
    EXPECT_EQ(d.b[d.at + 1], count);
    d.at += 8;
    for (uint32_t i = 0; i < count; ++i)
        text += "-" + std::to_string(d.u32());
    return text;
}

// A counted string's header: its pointer, or 0.
uint32_t stringHeader(NdrReader &d, uint16_t *length = nullptr)
{
    uint16_t l = d.u16();
    d.u16();
    if (length)
        *length = l;
    return d.u32();
}

// A counted string's text after its structure.
std::string stringBody(NdrReader &d) { return d.text(); }

class Lsa : public PipeTest {
protected:
    void configure() override { testenv::writeFile(path("pwd_list.txt"), "alice::1001:0\nbob::-1002:0\n"); }
    void SetUp() override
    {
        PipeTest::SetUp();
        if (IsSkipped())
            return;
        pipe = bound("lsarpc", kLsa, 0);
        ASSERT_NE(pipe, nullptr);
    }
    std::string computerSid()
    {
        const CMSdDomainSid *s = cmSdGetComputerSid();
        std::string text = "S-1-5";
        for (uint32_t i = 0; i < s->count; ++i)
            text += "-" + std::to_string(s->subauthorities[i]);
        return text;
    }
    Sid computer(uint32_t rid)
    {
        const CMSdDomainSid *s = cmSdGetComputerSid();
        Sid out;
        out.sub.assign(s->subauthorities, s->subauthorities + s->count);
        out.sub.push_back(rid);
        return out;
    }
    Bytes openPolicy2(const char *server)
    {
        Ndr n;
        n.textPointer(server);
        n.u32(24).pointer(false).pointer(false).u32(0).pointer(false).pointer().u32(12).u16(2).u8(1).u8(0);
        n.u32(0x02000000);
        Reply r = call(pipe, 44, n.bytes);
        EXPECT_EQ(r.status, 0u);
        return r.stub;
    }
    Reply query(const Bytes &handle, uint16_t level)
    {
        Ndr n;
        n.raw(handle).u16(level);
        return call(pipe, 7, n.bytes);
    }
    Reply lookupSids(const std::vector<Sid> &sids, uint16_t level = 1)
    {
        Ndr n;
        n.raw(Bytes(20, 0)).u32(uint32_t(sids.size())).pointer(!sids.empty());
        if (!sids.empty()) {
            n.u32(uint32_t(sids.size()));
            for (size_t i = 0; i < sids.size(); ++i)
                n.pointer();
            for (const Sid &s : sids)
                sid(n, s);
        }
        n.u32(0).pointer(false).u16(level).align(4).u32(0).u32(0).u32(2);
        return call(pipe, 57, n.bytes);
    }
    Reply lookupNames(const std::vector<std::string> &names, uint16_t opnum = 68)
    {
        Ndr n;
        n.raw(Bytes(20, 0)).u32(uint32_t(names.size())).u32(uint32_t(names.size()));
        for (const std::string &s : names)
            n.u16(uint16_t(2 * s.size())).u16(uint16_t(2 * s.size())).pointer();
        for (const std::string &s : names) {
            // Counted strings go without a zero.
            n.align(4).u32(uint32_t(s.size())).u32(0).u32(uint32_t(s.size()));
            for (unsigned char c : s)
                n.u16(c);
        }
        n.align(4).u32(0).pointer(false).u16(1).align(4).u32(0);
        if (opnum == 68)
            n.u32(0).u32(2);
        return call(pipe, opnum, n.bytes);
    }

    // The referenced-domain list as "NAME SID" lines.
    std::vector<std::string> domains(NdrReader &d)
    {
        std::vector<std::string> out;
        if (!d.u32())
            return out;
        uint32_t entries = d.u32();
        uint32_t array = d.u32();
        d.u32();
        if (!array)
            return out;
        EXPECT_EQ(d.u32(), entries);
        std::vector<uint32_t> sids;
        for (uint32_t i = 0; i < entries; ++i) {
            stringHeader(d);
            sids.push_back(d.u32());
        }
        for (uint32_t i = 0; i < entries; ++i) {
            std::string name = stringBody(d);
            out.push_back(name + " " + (sids[i] ? readSid(d) : ""));
        }
        return out;
    }

    CSFile *pipe = nullptr;
};

TEST_F(Lsa, PolicyHandles)
{
    Reply a = call(pipe, 6, Bytes{0, 0, 0, 0});
    Reply b = call(pipe, 6, Bytes{0, 0, 0, 0});
    ASSERT_EQ(a.stub.size(), 20u);
    ASSERT_EQ(b.stub.size(), 20u);
    EXPECT_EQ(fw_test::get_le32(&a.stub[0]), 1u);
    EXPECT_EQ(fw_test::get_le32(&b.stub[4]), fw_test::get_le32(&a.stub[4]) + 1);

    struct Case {
        const char *server;
        uint32_t second;
    } cases[] = {{"\\\\ROUTER", 1}, {"ROUTER", 1}, {"\\\\router", 2}, {"\\\\OTHER", 2}, {nullptr, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.server ? c.server : "null");
        Bytes h = openPolicy2(c.server);
        ASSERT_EQ(h.size(), 20u);
        EXPECT_EQ(fw_test::get_le32(&h[0]), 0u);
        EXPECT_EQ(fw_test::get_le32(&h[8]), c.second);
    }
    Reply closed = call(pipe, 0, Bytes(20, 7));
    EXPECT_EQ(closed.status, 0u);
    EXPECT_EQ(closed.stub, Bytes(20, 0));
}

TEST_F(Lsa, QueryInformationPolicy)
{
    Bytes host = openPolicy2("\\\\ROUTER"), other = openPolicy2(nullptr);
    for (uint16_t level : {3, 5}) {
        for (bool own : {true, false}) {
            SCOPED_TRACE(std::to_string(level) + (own ? " own" : " other"));
            Reply r = query(own ? host : other, level);
            EXPECT_EQ(r.status, 0u);
            NdrReader d(r.stub);
            EXPECT_NE(d.u32(), 0u);
            EXPECT_EQ(d.u16(), level);
            d.align(4);  // the union's arm
            uint16_t length = d.u16(), maximum = d.u16();
            const std::string name = own ? "ROUTER" : "WORKGROUP";
            EXPECT_EQ(length, 2 * name.size());
            EXPECT_EQ(maximum, 2 * name.size() + 2);
            EXPECT_NE(d.u32(), 0u);
            EXPECT_NE(d.u32(), 0u);
            EXPECT_EQ(d.text(), name);
            EXPECT_EQ(readSid(d), computerSid());
            EXPECT_FALSE(d.bad);
            EXPECT_EQ(d.at, r.stub.size());
        }
    }
    Reply r = query(host, 12);
    EXPECT_EQ(r.status, 0x1C000021u);
    EXPECT_EQ(r.stub, Bytes(4, 0));
}

TEST_F(Lsa, DomainRole)
{
    CSFile *ds = bound("lsarpc", kLsads, 0);
    ASSERT_NE(ds, nullptr);
    Reply r = call(ds, 0, Bytes{1, 0});
    EXPECT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    EXPECT_NE(d.u32(), 0u);
    EXPECT_EQ(d.u16(), 1u);
    d.align(4);
    EXPECT_EQ(d.u16(), 2u);  // a workgroup: standalone server
    EXPECT_EQ(d.u32(), 0u);
    EXPECT_NE(d.u32(), 0u);
    uint32_t dns = d.u32(), forest = d.u32();
    EXPECT_EQ(dns != 0, forest != 0);
    d.at += 16;
    EXPECT_EQ(d.text(), "WORKGROUP");
    if (dns) {
        std::string a = d.text(), b = d.text();
        EXPECT_EQ(a, b);
    }
    EXPECT_EQ(d.at, r.stub.size());

    r = call(ds, 0, Bytes{2, 0});
    EXPECT_EQ(r.status, 0xC0000003u);
    EXPECT_EQ(r.stub, Bytes(4, 0));
}

TEST_F(Lsa, LookupSids2)
{
    struct Case {
        std::vector<Sid> sids;
        uint32_t status;
        std::vector<std::string> names;  // "" for unmapped
    };
    const std::vector<Case> cases = {
        {{{{32, 544}}}, 0, {"Administrators"}},
        {{{{32, 545}}, computer(1001), computer(uint32_t(-1002))}, 0, {"Users", "alice", "bob"}},
        {{{{32, 544}}, {{32, 999}}, {{21, 1, 2, 3, 1001}}}, 0x107, {"Administrators", "", ""}},
        {{computer(4711), {{32}}}, 0xC0000073u, {"", ""}},
        {{}, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.names.size());
        Reply r = lookupSids(c.sids);
        EXPECT_FALSE(r.fault);
        EXPECT_EQ(r.status, c.status);
        NdrReader d(r.stub);
        std::vector<std::string> refs = domains(d);
        uint32_t entries = d.u32();
        ASSERT_EQ(entries, c.names.size());
        uint32_t array = d.u32();
        if (entries)
            EXPECT_EQ(d.u32(), entries);
        std::vector<uint32_t> types, pointers, indexes;
        for (uint32_t i = 0; i < entries && array; ++i) {
            types.push_back(d.u16());
            pointers.push_back(stringHeader(d));
            indexes.push_back(d.u32());
            d.u32();
        }
        uint32_t mappedCount = 0, seen = 0;
        for (uint32_t i = 0; i < entries; ++i) {
            std::string name = pointers[i] ? stringBody(d) : "";
            EXPECT_EQ(name, c.names[i]);
            if (c.names[i].empty()) {
                EXPECT_EQ(types[i], 8u);
                continue;
            }
            EXPECT_EQ(types[i], c.names[i] == "Administrators" || c.names[i] == "Users" ? 4u : 1u);
            EXPECT_EQ(indexes[i], seen++);
            ++mappedCount;
        }
        EXPECT_EQ(d.u32(), mappedCount);
        ASSERT_EQ(refs.size(), mappedCount);
        for (const std::string &ref : refs)
            EXPECT_EQ(ref.substr(0, 7), "ROUTER ");
        if (!refs.empty() && c.names[0] == "Administrators")
            EXPECT_EQ(refs[0], "ROUTER S-1-5-32");
        EXPECT_FALSE(d.bad);
        EXPECT_EQ(d.at, r.stub.size());
    }
    // Twelve SIDs: beyond the ten kept without a block.
    std::vector<Sid> many(12, Sid{{32, 545}});
    EXPECT_EQ(lookupSids(many).status, 0u);
    // Lookup levels other than 1.
    Reply r = lookupSids({{{32, 544}}}, 2);
    EXPECT_EQ(r.status, 0xC0000032u);
    EXPECT_EQ(r.stub, Bytes(16, 0));
    // A count that claims more SIDs than the stub holds.
    Ndr n;
    n.raw(Bytes(20, 0)).u32(0x40000000).pointer().u32(0x40000000).pointer();
    EXPECT_TRUE(call(pipe, 57, n.bytes).fault);
}

TEST_F(Lsa, LookupNames)
{
    struct Case {
        std::vector<std::string> names;
        uint32_t status;
        std::vector<std::string> sids;  // "" unmapped
    };
    const std::string c = computerSid();
    const std::vector<Case> cases = {
        {{"ROUTER\\alice"}, 0, {c + "-1001"}},
        {{"alice", "BOB"}, 0, {c + "-1001", c + "-4294966294"}},
        {{"R\\alice"}, 0xC0000073u, {""}},
        {{"OTHER\\alice"}, 0xC0000073u, {""}},
        {{"router\\alice"}, 0xC0000073u, {""}},
        {{"ROUTERX\\alice"}, 0xC0000073u, {""}},
        {{"Administrators", "ROUTER\\nobody", "ROUTER\\alice"}, 0x107, {"S-1-5-32-544", "", c + "-1001"}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.names[0]);
        Reply r = lookupNames(k.names);
        EXPECT_FALSE(r.fault);
        EXPECT_EQ(r.status, k.status);
        NdrReader d(r.stub);
        std::vector<std::string> refs = domains(d);
        ASSERT_FALSE(refs.empty());
        EXPECT_EQ(refs[0], "ROUTER S-1-5-32");
        uint32_t entries = d.u32();
        ASSERT_EQ(entries, k.names.size());
        d.u32();
        EXPECT_EQ(d.u32(), entries);
        std::vector<uint32_t> pointers, indexes, types;
        for (uint32_t i = 0; i < entries; ++i) {
            types.push_back(d.u16());
            pointers.push_back(d.u32());
            indexes.push_back(d.u32());
            d.u32();
        }
        uint32_t count = 0;
        for (uint32_t i = 0; i < entries; ++i) {
            std::string s = pointers[i] ? readSid(d) : "";
            EXPECT_EQ(s, k.sids[i]);
            if (s.empty()) {
                EXPECT_EQ(types[i], 8u);
                continue;
            }
            ++count;
            ASSERT_LT(indexes[i], refs.size());
            EXPECT_EQ(refs[indexes[i]], "ROUTER " + s.substr(0, s.rfind('-')));
        }
        EXPECT_EQ(d.u32(), count);
        EXPECT_FALSE(d.bad);
        EXPECT_EQ(d.at, r.stub.size());
    }
    // Twenty-five names, past the twenty kept without a block.
    EXPECT_EQ(lookupNames(std::vector<std::string>(25, "ROUTER\\alice")).status, 0u);
    // LookupNames2 answers RIDs.
    Reply r = lookupNames({"alice", "Users"}, 58);
    EXPECT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    domains(d);
    EXPECT_EQ(d.u32(), 2u);
    d.u32();
    d.u32();
    EXPECT_EQ(d.u16(), 1u);
    EXPECT_EQ(d.u32(), 1001u);
    d.u32();
    d.u32();
    EXPECT_EQ(d.u16(), 4u);
    EXPECT_EQ(d.u32(), 545u);
    EXPECT_EQ(d.u32(), 0u);
    // A count beyond the stub.
    Ndr n;
    n.raw(Bytes(20, 0)).u32(0x10000000).u32(0x10000000);
    EXPECT_TRUE(call(pipe, 68, n.bytes).fault);
    // Opnums without an operation.
    EXPECT_EQ(call(pipe, 14, Bytes(24, 0)).status, CS_RPC_OP_RANGE_ERROR);
}

}  // namespace
