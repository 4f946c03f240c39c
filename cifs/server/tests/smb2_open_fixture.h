// Two SMB2 connections logged on to one share, and the bodies of the file
// commands they send (CREATE with its contexts, CLOSE, the acknowledgment).
#pragma once
#include "smb2_fixture.h"

#include "csservices.h"

#include <fstream>
#include <string>
#include <sys/stat.h>

namespace smb2_open_test {

using namespace smb2_test;

constexpr uint16_t kCreate = 5, kClose = 6, kCancel = 12, kOplockBreak = 18;
constexpr uint32_t kPending = 0x103;

struct Open {
    std::string name;
    uint32_t disposition = 3;  // open if
    uint32_t options = 0;
    uint32_t access = 0x0012019F;
    uint32_t share = 7;
    uint8_t oplock = 0;
    Bytes contexts;
};

// The CREATE body; the contexts go 8-aligned behind the name.
inline Bytes createBody(const Open &o)
{
    Bytes name;
    for (char c : o.name)
        put_le16(name, uint16_t(uint8_t(c)));
    Bytes b;
    put_le16(b, 57);
    b.push_back(0);
    b.push_back(o.oplock);
    put_le32(b, 2);
    b.resize(b.size() + 16, 0);
    put_le32(b, o.access);
    put_le32(b, 0);
    put_le32(b, o.share);
    put_le32(b, o.disposition);
    put_le32(b, o.options);
    put_le16(b, 120);
    put_le16(b, uint16_t(name.size()));
    const uint32_t contextsAt = o.contexts.empty() ? 0 : uint32_t((120 + name.size() + 7) & ~size_t(7));
    put_le32(b, contextsAt);
    put_le32(b, uint32_t(o.contexts.size()));
    b.insert(b.end(), name.begin(), name.end());
    if (name.empty())
        b.push_back(0);
    if (!o.contexts.empty()) {
        b.resize(contextsAt - 64, 0);
        b.insert(b.end(), o.contexts.begin(), o.contexts.end());
    }
    return b;
}

inline Bytes context(const char *tag, const Bytes &data = {})
{
    Bytes c;
    put_le32(c, 0);
    put_le16(c, 16);
    put_le16(c, 4);
    put_le16(c, 0);
    put_le16(c, data.empty() ? 0 : 24);
    put_le32(c, uint32_t(data.size()));
    c.insert(c.end(), tag, tag + 4);
    c.resize(24, 0);
    c.insert(c.end(), data.begin(), data.end());
    return c;
}

inline Bytes fidBytes(uint16_t fid)
{
    Bytes b;
    put_le16(b, fid);
    b.resize(16, 0);
    return b;
}

inline Bytes closeBody(uint16_t fid, uint16_t flags = 0)
{
    Bytes b;
    put_le16(b, 24);
    put_le16(b, flags);
    put_le32(b, 0);
    Bytes f = fidBytes(fid);
    b.insert(b.end(), f.begin(), f.end());
    return b;
}

inline Bytes ackBody(uint16_t fid, uint8_t level = 0)
{
    Bytes b;
    put_le16(b, 24);
    b.push_back(level);
    b.resize(8, 0);
    Bytes f = fidBytes(fid);
    b.insert(b.end(), f.begin(), f.end());
    return b;
}

// One connection of the test: its socket pair, its logged-on user, a tree.
struct Client {
    NSSocket slot{-1};
    int peer = -1;
    CSUser *user = nullptr;
    CSTree *tree = nullptr;
    uint64_t mid = 1;
    ~Client()
    {
        if (slot.sySocket >= 0)
            close(slot.sySocket);
        if (peer >= 0)
            close(peer);
    }
};

class OpenTest : public Smb2Test {
protected:
    void SetUp() override
    {
        Smb2Test::SetUp();
        if (IsSkipped())
            return;
        share = addShare("data");
        ASSERT_NE(share, nullptr);
        root = dirs.back()->path();
        a.slot = slot;
        a.peer = peer;
        slot.sySocket = peer = -1;
        join(a);
    }
    void TearDown() override
    {
        for (Client *c : {&a, &b})
            if (c->slot.sySocket >= 0)
                csReleaseSessions(&c->slot, 1);
        Smb2Test::TearDown();
    }
    // A connection of its own, logged on, with a tree on the share.
    void join(Client &c)
    {
        if (c.slot.sySocket < 0) {
            int fds[2];
            ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
            c.slot.sySocket = fds[0];
            c.slot.isNetBios = 1;
            c.peer = fds[1];
        }
        csDispatchSetSocket(&c.slot);
        c.user = logon(CS_DIALECT_SMB30);
        ASSERT_NE(c.user, nullptr);
        c.user->session->socket = &c.slot;
        c.tree = csGetNewTree(c.user);
        ASSERT_NE(c.tree, nullptr);
        c.tree->share = share;
    }
    Element element(Client &c, uint16_t command, const Bytes &body)
    {
        Element e;
        e.command = command;
        e.mid = c.mid++;
        e.sid = sid(c.user);
        e.tid = c.tree->tid;
        e.body = body;
        return e;
    }
    void post(Client &c, const Element &e)
    {
        csDispatchSetSocket(&c.slot);
        Bytes m = compound({e});
        uint32_t n = uint32_t(m.size());
        uint8_t h[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        ASSERT_EQ(::write(c.peer, h, 4), 4);
        ASSERT_EQ(::write(c.peer, m.data(), m.size()), ssize_t(m.size()));
        ASSERT_EQ(csDispatchRequest(&c.slot, &address), 0);
    }
    Bytes next(Client &c)
    {
        std::swap(peer, c.peer);
        Bytes m = answer();
        std::swap(peer, c.peer);
        return m;
    }
    Bytes call(Client &c, uint16_t command, const Bytes &body)
    {
        post(c, element(c, command, body));
        return next(c);
    }
    Bytes create(Client &c, const Open &o) { return call(c, kCreate, createBody(o)); }
    static uint16_t fidOf(const Bytes &m) { return m.size() >= 64 + 66 ? get_le16(&m[64 + 64]) : 0; }
    std::string at(const std::string &name) const { return root + "/" + name; }
    static bool exists(const std::string &path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
    void put(const std::string &name, const std::string &data = "x") { std::ofstream(at(name)) << data; }

    CSShare *share = nullptr;
    std::string root;
    Client a, b;
};

}  // namespace smb2_open_test
