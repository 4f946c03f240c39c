// A fake pipe for the RPC interfaces: the server's database with one client
// logged on, pipes opened on its IPC$ tree, PDUs built and taken apart, and
// calls made as a client makes them (bind, request, read back).
#pragma once
#include "server_fixture.h"
#include "ud_test_env.h"

#include "csdcerpc.h"
#include "cmnetbios.h"
#include "cmsd.h"
#include "syfiles.h"

#include "fw_test/bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace rpc_test {

using fw_test::Bytes;
using server_test::A;
using server_test::W;

// The 16 bytes of a UUID in NDR (little-endian fields) order.
inline std::array<uint8_t, 16> uuid(const std::string &text)
{
    std::array<uint8_t, 16> raw{};
    std::string hex;
    for (char c : text)
        if (c != '-')
            hex.push_back(c);
    for (size_t i = 0; i < 16 && 2 * i + 1 < hex.size(); ++i)
        raw[i] = uint8_t(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    std::array<uint8_t, 16> out = raw;
    out[0] = raw[3], out[1] = raw[2], out[2] = raw[1], out[3] = raw[0];
    out[4] = raw[5], out[5] = raw[4], out[6] = raw[7], out[7] = raw[6];
    return out;
}

const std::string kNdr = "8a885d04-1ceb-11c9-9fe8-08002b104860";
const std::string kNdr64 = "71710533-beba-4937-8319-b5dbef9ccc36";
const std::string kSrvsvc = "4b324fc8-1670-01d3-1278-5a47bf6ee188";
const std::string kWkssvc = "6bffd098-a112-3610-9833-46c3f87e345a";

// An NDR writer for request stubs and PDUs, in either byte order.
struct Ndr {
    Bytes bytes;
    bool big = false;
    uint32_t nextReferent = 0x20000;

    Ndr &u8(uint8_t v)
    {
        bytes.push_back(v);
        return *this;
    }
    Ndr &u16(uint16_t v)
    {
        return big ? u8(uint8_t(v >> 8)).u8(uint8_t(v)) : u8(uint8_t(v)).u8(uint8_t(v >> 8));
    }
    Ndr &u32(uint32_t v)
    {
        return big ? u16(uint16_t(v >> 16)).u16(uint16_t(v)) : u16(uint16_t(v)).u16(uint16_t(v >> 16));
    }
    Ndr &raw(const Bytes &b)
    {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    Ndr &id(const std::string &text)
    {
        std::array<uint8_t, 16> u = uuid(text);
        if (!big)
            return raw(Bytes(u.begin(), u.end()));
        u32(uint32_t(u[0] | u[1] << 8 | u[2] << 16 | uint32_t(u[3]) << 24));
        u16(uint16_t(u[4] | u[5] << 8));
        u16(uint16_t(u[6] | u[7] << 8));
        return raw(Bytes(u.begin() + 8, u.end()));
    }
    Ndr &align(uint32_t n)
    {
        while (bytes.size() % n)
            bytes.push_back(0);
        return *this;
    }
    Ndr &pointer(bool present = true) { return u32(present ? (nextReferent += 4) : 0); }
    // A conformant varying UTF-16 string with its terminator.
    Ndr &text(const std::string &s)
    {
        align(4);
        u32(uint32_t(s.size() + 1)).u32(0).u32(uint32_t(s.size() + 1));
        for (unsigned char c : s)
            u16(c);
        u16(0);
        return align(4);
    }
    // A unique pointer to a string, null for none.
    Ndr &textPointer(const char *s)
    {
        pointer(s != nullptr);
        return s ? text(s) : *this;
    }
};

struct Context {
    uint16_t id;
    std::string abstract;
    uint32_t version;  // major in the low 16 bits
    std::vector<std::pair<std::string, uint32_t>> transfers;
};

inline Context context(uint16_t id, const std::string &abstract, uint32_t version)
{
    return Context{id, abstract, version, {{kNdr, 2}}};
}

// One fragment: its header in the byte order asked for, then the body.
inline Bytes pdu(uint8_t ptype, uint8_t flags, uint32_t callId, const Bytes &body, bool big = false,
                 uint16_t authLength = 0, uint8_t minor = 0, int fragLength = -1)
{
    Ndr n;
    n.big = big;
    n.u8(5).u8(minor).u8(ptype).u8(flags).u8(big ? 0x00 : 0x10).u8(0).u8(0).u8(0);
    n.u16(uint16_t(fragLength >= 0 ? fragLength : 16 + body.size())).u16(authLength).u32(callId);
    return n.raw(body).bytes;
}

inline Bytes bindPdu(const std::vector<Context> &items, uint16_t maxRecv = 4280, bool big = false,
                     uint8_t ptype = CS_RPC_BIND, uint8_t minor = 0, uint32_t callId = 1)
{
    Ndr b;
    b.big = big;
    b.u16(4280).u16(maxRecv).u32(0).u8(uint8_t(items.size())).u8(0).u8(0).u8(0);
    for (const Context &c : items) {
        // Versions are a u16 major and a u16 minor.
        b.u16(c.id).u8(uint8_t(c.transfers.size())).u8(0).id(c.abstract);
        b.u16(uint16_t(c.version)).u16(uint16_t(c.version >> 16));
        for (const auto &t : c.transfers)
            b.id(t.first).u16(uint16_t(t.second)).u16(uint16_t(t.second >> 16));
    }
    return pdu(ptype, 3, callId, b.bytes, big, 0, minor);
}

// A request fragment: alloc_hint, context and opnum before the stub.
inline Bytes requestPdu(uint16_t contextId, uint16_t opnum, const Bytes &stub, uint8_t flags = 3,
                        uint32_t callId = 2, bool big = false, uint16_t authLength = 0)
{
    Ndr b;
    b.big = big;
    b.u32(uint32_t(stub.size())).u16(contextId).u16(opnum).raw(stub);
    return pdu(CS_RPC_REQUEST, flags, callId, b.bytes, big, authLength);
}

// A PDU read back.
struct Pdu {
    uint8_t ptype = 0xFF, flags = 0, drep0 = 0;
    uint16_t fragLength = 0, authLength = 0;
    uint32_t callId = 0, allocHint = 0;
    uint16_t contextId = 0;
    uint8_t cancel = 0;
    Bytes body;  // after the 16- or 24-byte header
    bool big() const { return (drep0 & 0x10) == 0; }
    uint16_t get16(size_t at) const
    {
        return big() ? uint16_t(body[at] << 8 | body[at + 1]) : uint16_t(body[at] | body[at + 1] << 8);
    }
    uint32_t get32(size_t at) const
    {
        return big() ? uint32_t(get16(at)) << 16 | get16(at + 2) : get16(at) | uint32_t(get16(at + 2)) << 16;
    }
};

inline Pdu parsePdu(const Bytes &b)
{
    Pdu p;
    if (b.size() < 16)
        return p;
    p.ptype = b[2];
    p.flags = b[3];
    p.drep0 = b[4];
    Pdu h = p;
    h.body = Bytes(b.begin() + 8, b.begin() + 16);
    p.fragLength = h.get16(0);
    p.authLength = h.get16(2);
    p.callId = h.get32(4);
    size_t head = 16;
    if ((p.ptype == CS_RPC_RESPONSE || p.ptype == CS_RPC_FAULT) && b.size() >= 24) {
        h.body = Bytes(b.begin() + 16, b.begin() + 24);
        p.allocHint = h.get32(0);
        p.contextId = h.get16(4);
        p.cancel = b[22];
        head = 24;
    }
    p.body = Bytes(b.begin() + head, b.end());
    return p;
}

// An answer to a call: the fragments as read, the joined stub without the
// status, and the status that closes it (or a fault's status).
struct Reply {
    std::vector<Pdu> fragments;
    Bytes stub;
    uint32_t status = 0;
    bool fault = false;
};

class PipeTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(sethostname("router", 6), 0);
        ASSERT_EQ(cmNetBiosInit(), 0);
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(cmSdInit(), 0);
        configure();
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        ASSERT_EQ(csDcerpcInit(), 0);
        ipc = csGetShareByIndex(0);
        client = server_test::connect(&socket, 0x0201A8C0, "alice", ipc);
        ASSERT_NE(client.tree, nullptr);
        serve();
    }
    void TearDown() override
    {
        if (IsSkipped())
            return;
        csDcerpcRunDeferredReleases();
        // Pipes still open hold their calls: closing them frees those.
        for (uint32_t i = 0; i < CS_MAX_FILES; ++i)
            csReleaseFile(uint16_t(CS_FID_BASE + i));
        csCloseDatabase();
        csDcerpcStop();
        cmSdExit();
        syStop();
        cmNetBiosExit();
        csDispatchSetSocket(nullptr);
        testenv::HookTest::TearDown();
    }
    // Shares and users written before the database starts.
    virtual void configure() {}
    void serve() { csDispatchSetSocket(&socket); }

    // A pipe file on the client's tree, bound to the framework by name.
    CSFile *open(const std::string &name)
    {
        CSFile *f = server_test::open(client, "\\" + name);
        if (f && csDcerpcOpenPipe(W(name).data(), f) != 1) {
            csReleaseFile(f->fid);
            return nullptr;
        }
        return f;
    }

    uint32_t write(CSFile *pipe, const Bytes &b, uint32_t forceLast = 0)
    {
        return csDcerpcWrite(pipe, b.data(), uint32_t(b.size()), forceLast);
    }
    // One read of at most size bytes.
    Bytes read(CSFile *pipe, uint32_t size, uint32_t *remaining = nullptr)
    {
        Bytes out(size);
        out.resize(csDcerpcRead(pipe, out.data(), size, remaining));
        return out;
    }
    // Reads whole PDUs until nothing waits; reads may be cut by size.
    std::vector<Pdu> readAll(CSFile *pipe, uint32_t size = 65535)
    {
        std::vector<Pdu> out;
        Bytes current;
        for (int guard = 0; guard < 10000 && pipe->callState; ++guard) {
            uint32_t remaining = 0;
            Bytes b = read(pipe, size, &remaining);
            current.insert(current.end(), b.begin(), b.end());
            if (remaining == 0) {
                out.push_back(parsePdu(current));
                current.clear();
            }
        }
        return out;
    }
    Pdu bind(CSFile *pipe, const std::vector<Context> &items, uint16_t maxRecv = 4280, bool big = false)
    {
        EXPECT_EQ(write(pipe, bindPdu(items, maxRecv, big)), 0u);
        std::vector<Pdu> got = readAll(pipe);
        return got.size() == 1 ? got[0] : Pdu{};
    }
    // A pipe with the interface bound on context 0.
    CSFile *bound(const std::string &name, const std::string &abstract, uint32_t version)
    {
        CSFile *f = open(name);
        if (f && bind(f, {context(0, abstract, version)}).ptype != CS_RPC_BIND_ACK)
            return nullptr;
        return f;
    }
    Reply call(CSFile *pipe, uint16_t opnum, const Bytes &stub, uint16_t contextId = 0)
    {
        Reply r;
        uint32_t status = write(pipe, requestPdu(contextId, opnum, stub));
        EXPECT_EQ(status, 0u);
        r.fragments = readAll(pipe);
        for (const Pdu &p : r.fragments)
            r.stub.insert(r.stub.end(), p.body.begin(), p.body.end());
        if (!r.fragments.empty() && r.fragments.front().ptype == CS_RPC_FAULT) {
            // A fault: its status, then four reserved bytes.
            r.fault = true;
            EXPECT_EQ(r.stub.size(), 8u);
            r.status = r.stub.size() >= 4 ? r.fragments.front().get32(0) : 0;
            r.stub.clear();
        } else if (r.stub.size() >= 4 && !r.fragments.empty()) {
            Pdu tail = r.fragments.back();
            tail.body = Bytes(r.stub.end() - 4, r.stub.end());
            r.status = tail.get32(0);
            r.stub.resize(r.stub.size() - 4);
        }
        return r;
    }

    int socket = 0;
    CSShare *ipc = nullptr;
    server_test::Client client;
};

// Reads NDR answers: fields in order, strings as 8-bit text.
struct NdrReader {
    const Bytes &b;
    size_t at = 0;
    bool bad = false;
    explicit NdrReader(const Bytes &bytes) : b(bytes) {}
    void align(size_t n) { at = (at + n - 1) / n * n; }
    uint32_t u32()
    {
        align(4);
        if (at + 4 > b.size()) {
            bad = true;
            return 0;
        }
        uint32_t v = fw_test::get_le32(&b[at]);
        at += 4;
        return v;
    }
    uint16_t u16()
    {
        align(2);
        if (at + 2 > b.size()) {
            bad = true;
            return 0;
        }
        uint16_t v = fw_test::get_le16(&b[at]);
        at += 2;
        return v;
    }
    std::string text()
    {
        uint32_t max = u32(), offset = u32(), actual = u32();
        (void)max;
        (void)offset;
        std::string s;
        if (at + 2ull * actual > b.size()) {
            bad = true;
            return s;
        }
        for (uint32_t i = 0; i < actual; ++i) {
            uint16_t c = fw_test::get_le16(&b[at + 2 * i]);
            if (c)
                s.push_back(char(c));
        }
        at += 2 * actual;
        align(4);
        return s;
    }
};

}  // namespace rpc_test
