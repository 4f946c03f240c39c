// The registry over a fake pipe: key walks from HKLM, values by exact
// name, the client's buffer size, the ten shared key handles and their
// release when the pipe that opened them closes.
#include "pipe_fixture.h"

#include <gtest/gtest.h>

using namespace rpc_test;

namespace {

const std::string kWinreg = "338cd001-2244-31f1-aaaa-900038001003";

using Handle = Bytes;

// An RRP_UNICODE_STRING with its text (terminator included), or a null one.
Ndr &rrp(Ndr &n, const char *text)
{
    n.align(4);
    if (!text)
        return n.u16(0).u16(0).pointer(false);
    uint16_t bytes = uint16_t((std::strlen(text) + 1) * 2);
    return n.u16(bytes).u16(bytes).pointer().text(text);
}

class Winreg : public PipeTest {
protected:
    void SetUp() override
    {
        PipeTest::SetUp();
        if (IsSkipped())
            return;
        pipe = bound("winreg", kWinreg, 1);
        ASSERT_NE(pipe, nullptr);
    }

    // OpenLocalMachine as rpcclient sends it (a server character) or as
    // impacket does (a null server pointer).
    Reply openHklm(CSFile *p, bool withServer = true)
    {
        Ndr n;
        n.pointer(withServer);
        if (withServer)
            n.u16('\\').align(4);
        n.u32(0x02000000);
        return call(p, 2, n.bytes);
    }
    Handle hklm(CSFile *p = nullptr)
    {
        Reply r = openHklm(p ? p : pipe);
        EXPECT_EQ(r.status, 0u);
        return r.stub;
    }
    Reply openKey(const Handle &parent, const char *path, CSFile *p = nullptr)
    {
        Ndr n;
        n.raw(parent);
        rrp(n, path).u32(0).u32(0x02000000);
        return call(p ? p : pipe, 15, n.bytes);
    }
    Reply queryValue(const Handle &key, const char *name, uint32_t size, bool withData = true)
    {
        Ndr n;
        n.raw(key);
        rrp(n, name).pointer().u32(0);
        n.pointer(withData);
        if (withData) {
            n.u32(size).u32(0).u32(size);
            for (uint32_t i = 0; i < size; ++i)
                n.u8(' ');
            n.align(4);
        }
        n.pointer().u32(size).pointer().u32(size);
        return call(pipe, 17, n.bytes);
    }
    Reply enumKey(const Handle &key, uint32_t index, uint16_t maximum = 1024)
    {
        Ndr n;
        n.raw(key).u32(index);
        n.u16(0).u16(maximum).pointer().u32(maximum / 2).u32(0).u32(0);
        n.pointer().u16(128).u16(128).pointer().u32(64).u32(0).u32(0);  // class
        n.pointer(false);                                               // time
        return call(pipe, 9, n.bytes);
    }
    Reply closeKey(const Handle &key, CSFile *p = nullptr) { return call(p ? p : pipe, 5, key); }

    // Data of a QueryValue answer as 8-bit text, "" when none came.
    struct ValueAnswer {
        uint32_t type = 0, size = 0, length = 0;
        bool data = false;
        std::string text;
    };
    ValueAnswer parseValue(const Reply &r)
    {
        ValueAnswer a;
        NdrReader d(r.stub);
        if (d.u32())
            a.type = d.u32();
        if (d.u32()) {
            a.data = true;
            d.u32();
            d.u32();
            uint32_t actual = d.u32();
            for (uint32_t i = 0; i + 1 < actual; i += 2) {
                uint16_t c = d.u16();
                if (c)
                    a.text.push_back(char(c));
            }
        }
        if (d.u32())
            a.size = d.u32();
        if (d.u32())
            a.length = d.u32();
        EXPECT_FALSE(d.bad);
        EXPECT_EQ(d.at, r.stub.size());
        return a;
    }

    CSFile *pipe = nullptr;
};

TEST_F(Winreg, ValuesThroughTheirPaths)
{
    struct Case {
        const char *path, *value, *expect;
    } cases[] = {
        {"System\\CurrentControlSet\\Control\\ProductOptions", "ProductType", "VXE"},
        {"software\\microsoft\\windows nt\\currentversion", "CurrentVersion", "5.1"},
        {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", "C:\\Windows"},
        {"System\\CurrentControlSet\\Services\\EventLog\\Application", "File",
         "%SystemRoot%\\system32\\config\\AppEvent.Evt"},
        {"System\\CurrentControlSet\\Services\\Tcpip\\Parameters", "Hostname", "ROUTER"},
        {"System\\CurrentControlSet\\Services\\Tcpip\\Parameters", "Domain", "WORKGROUP"},
        // Components are prefixes, in table order.
        {"Soft\\Micro\\Win\\Cur", "CurrentVersion", "5.1"},
        {"Sys\\Cur\\Con\\Prod\\", "ProductType", "VXE"},
    };
    Handle root = hklm();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        Reply o = openKey(root, c.path);
        ASSERT_EQ(o.status, 0u);
        ASSERT_EQ(o.stub.size(), 20u);
        Reply q = queryValue(o.stub, c.value, 512);
        EXPECT_EQ(q.status, 0u);
        ValueAnswer a = parseValue(q);
        EXPECT_EQ(a.type, 1u);
        EXPECT_EQ(a.text, c.expect);
        EXPECT_EQ(a.size, (std::strlen(c.expect) + 1) * 2);
        EXPECT_EQ(a.length, a.size);
        EXPECT_EQ(closeKey(o.stub).status, 0u);
    }
}

TEST_F(Winreg, MissesAndCase)
{
    Handle root = hklm();
    Reply o = openKey(root, "Software\\Microsoft\\Windows NT\\CurrentVersion");
    ASSERT_EQ(o.status, 0u);
    // Value names are case-sensitive.
    Reply q = queryValue(o.stub, "currentversion", 512);
    EXPECT_EQ(q.status, 2u);
    ValueAnswer a = parseValue(q);
    EXPECT_EQ(a.type, 0u);
    EXPECT_FALSE(a.data);
    EXPECT_EQ(a.size, 0u);
    // A value of another key.
    EXPECT_EQ(queryValue(o.stub, "ProductType", 512).status, 2u);
    // Keys that are not there, and a component longer than the key's name.
    for (const char *path : {"Hardware", "Software\\Other", "Softwares", "System\\CurrentControlSet\\X"}) {
        SCOPED_TRACE(path);
        Reply r = openKey(root, path);
        EXPECT_EQ(r.status, 2u);
        EXPECT_EQ(r.stub, Bytes(20, 0));
    }
}

TEST_F(Winreg, ClientBufferSizeIsChecked)
{
    Handle root = hklm();
    Reply o = openKey(root, "System\\CurrentControlSet\\Control\\ProductOptions");
    ASSERT_EQ(o.status, 0u);
    // "VXE" and its zero take 8 bytes: 8 fits, 7 does not.
    Reply q = queryValue(o.stub, "ProductType", 8);
    EXPECT_EQ(q.status, 0u);
    EXPECT_EQ(parseValue(q).text, "VXE");
    q = queryValue(o.stub, "ProductType", 7);
    EXPECT_EQ(q.status, 234u);
    ValueAnswer a = parseValue(q);
    EXPECT_EQ(a.text, "");
    EXPECT_EQ(a.size, 8u);
    EXPECT_EQ(a.length, 0u);
    // Asking for the size alone.
    q = queryValue(o.stub, "ProductType", 0, false);
    EXPECT_EQ(q.status, 0u);
    a = parseValue(q);
    EXPECT_FALSE(a.data);
    EXPECT_EQ(a.size, 8u);
}

TEST_F(Winreg, EnumKeyWalksChildrenInTableOrder)
{
    Handle root = hklm();
    struct Case {
        uint32_t index;
        uint32_t status;
        const char *name;
    } cases[] = {{0, 0, "Software"}, {1, 0, "System"}, {2, 259, ""}, {1000, 259, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.index);
        Reply r = enumKey(root, c.index);
        EXPECT_EQ(r.status, c.status);
        NdrReader d(r.stub);
        uint16_t length = d.u16(), maximum = d.u16();
        EXPECT_EQ(maximum, 1024u);
        std::string name;
        if (d.u32() != 0)
            name = d.text();
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(length, c.status ? 0u : (std::strlen(c.name) + 1) * 2);
        EXPECT_NE(d.u32(), 0u);  // class
        EXPECT_EQ(d.u16(), 0u);
        d.u16();
        EXPECT_EQ(d.u32(), 0u);
        EXPECT_EQ(d.u32(), 0u);  // no time asked
        EXPECT_FALSE(d.bad);
        EXPECT_EQ(d.at, r.stub.size());
    }
    // The EventLog key's three children.
    Reply o = openKey(root, "System\\CurrentControlSet\\Services\\EventLog");
    ASSERT_EQ(o.status, 0u);
    EXPECT_EQ(enumKey(o.stub, 2).status, 0u);
    EXPECT_EQ(enumKey(o.stub, 3).status, 259u);
    // A buffer too small for the name.
    EXPECT_EQ(enumKey(root, 0, 10).status, 234u);
}

TEST_F(Winreg, BadHandlesAreRefusedWithAnswersClientsCanParse)
{
    Bytes bad(20, 0);
    bad[18] = 7;  // in range, never opened
    Bytes outOfRange(20, 0);
    outOfRange[18] = 11;
    for (const Bytes &h : {bad, outOfRange, Bytes(20, 0)}) {
        Reply r = enumKey(h, 0);
        EXPECT_FALSE(r.fault);
        EXPECT_EQ(r.status, 6u);
        EXPECT_EQ(r.stub.size(), 8u + 4 + 8 + 4);
        EXPECT_EQ(openKey(h, "Software").status, 5u);
        EXPECT_EQ(queryValue(h, "ProductType", 512).status, 2u);
        Reply v = call(pipe, 26, h);
        EXPECT_EQ(v.status, 5u);
        Reply c = closeKey(h);
        EXPECT_EQ(c.status, 0u);
        EXPECT_EQ(c.stub, Bytes(20, 0));
    }
    Handle root = hklm();
    Reply v = call(pipe, 26, root);
    EXPECT_EQ(v.status, 0u);
    EXPECT_EQ(v.stub, (Bytes{1, 0, 0, 0}));
    // A closed handle is gone.
    EXPECT_EQ(closeKey(root).status, 0u);
    EXPECT_EQ(call(pipe, 26, root).status, 5u);
    // Arguments cut short fault.
    EXPECT_TRUE(call(pipe, 15, Bytes(10, 0)).fault);
}

TEST_F(Winreg, TenHandlesThenTheOpenerClosesAndOthersGetThem)
{
    // The first client opens ten keys and never closes them.
    std::vector<Handle> held;
    for (int i = 0; i < 10; ++i) {
        Reply r = i % 2 ? openHklm(pipe, false) : openHklm(pipe);
        ASSERT_EQ(r.status, 0u);
        held.push_back(r.stub);
    }
    Reply r = openHklm(pipe);
    EXPECT_EQ(r.status, 0xC000009Au);
    EXPECT_EQ(r.stub, Bytes(20, 0));
    EXPECT_EQ(openKey(held[0], "Software").status, 0xC000009Au);

    // A second client finds none free while the first holds them.
    CSFile *other = bound("winreg", kWinreg, 1);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(openHklm(other).status, 0xC000009Au);

    // The first pipe goes: its handles go with it.
    csReleaseFile(pipe->fid);
    pipe = nullptr;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(openHklm(other).status, 0u) << i;
    EXPECT_EQ(openHklm(other).status, 0xC000009Au);
}

}  // namespace
