// SMB2 messages through the server's reader on a socket pair: messages as a
// client builds them (compounds, signatures, transforms) and a logged-on
// client put straight into the database.
#pragma once
#include "cmcryptsmb3.h"
#include "cmsd.h"
#include "cmsign.h"
#include "cmstring.h"
#include "csauth.h"
#include "csdispatch.h"
#include "csshares.h"
#include "cssmb2.h"
#include "fw_test/bytes.h"
#include "fw_test/temp_dir.h"
#include "nssocket.h"
#include "syfiles.h"
#include "ud_test_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace smb2_test {

using fw_test::Bytes;
using fw_test::get_le16;
using fw_test::get_le32;
using fw_test::put_le16;
using fw_test::put_le32;

inline void put_le64(Bytes &b, uint64_t v)
{
    put_le32(b, uint32_t(v));
    put_le32(b, uint32_t(v >> 32));
}
inline uint64_t get_le64(const uint8_t *p) { return get_le32(p) | uint64_t(get_le32(p + 4)) << 32; }

// One element of a request.
struct Element {
    uint16_t command = 13;  // ECHO
    uint64_t mid = 0;
    uint64_t sid = 0;
    uint32_t tid = 0;
    uint32_t flags = 0;
    uint16_t credits = 1;
    uint16_t charge = 1;
    Bytes body = {4, 0, 0, 0};
    uint32_t next = 0;  // 0: worked out by compound()
    uint32_t status = 0;
};

inline Bytes header(const Element &e, uint32_t next)
{
    Bytes h = {0xFE, 'S', 'M', 'B'};
    put_le16(h, 64);
    put_le16(h, e.charge);
    put_le32(h, e.status);
    put_le16(h, e.command);
    put_le16(h, e.credits);
    put_le32(h, e.flags);
    put_le32(h, next);
    put_le64(h, e.mid);
    put_le32(h, 0xFEFF);
    put_le32(h, e.tid);
    put_le64(h, e.sid);
    h.resize(64, 0);
    return h;
}

// Elements chained 8-aligned; a signing key signs each (SMB3 CMAC, or
// SMB2 HMAC when smb2 is set) that has the signed flag.
inline Bytes compound(const std::vector<Element> &elements, const uint8_t *key = nullptr, bool smb2 = false)
{
    Bytes m;
    for (size_t i = 0; i < elements.size(); ++i) {
        const Element &e = elements[i];
        Bytes element = header(e, 0);
        element.insert(element.end(), e.body.begin(), e.body.end());
        const bool last = i + 1 == elements.size();
        if (!last)
            element.resize((element.size() + 7) & ~size_t(7), 0);
        uint32_t next = e.next ? e.next : (last ? 0 : uint32_t(element.size()));
        std::memcpy(&element[20], &next, 4);
        if (key && (e.flags & CM_SMB2_FLAGS_SIGNED)) {
            if (smb2)
                cmSmb2CalculateMessageSignature(key, 16, element.data(), uint32_t(element.size()), nullptr, 0,
                                                &element[48]);
            else
                cmSmb3CalculateMessageSignature(key, 16, element.data(), uint32_t(element.size()), nullptr, 0,
                                                &element[48]);
        }
        m.insert(m.end(), element.begin(), element.end());
    }
    return m;
}

// A message sealed under a transform header naming sid.
inline Bytes seal(const Bytes &plain, const uint8_t *key, uint64_t sid, bool gcm, uint64_t nonce = 1)
{
    Bytes t = {0xFD, 'S', 'M', 'B'};
    t.resize(20, 0);
    put_le64(t, nonce);
    t.resize(36, 0);
    put_le32(t, uint32_t(plain.size()));
    put_le16(t, 0);
    put_le16(t, 1);
    put_le64(t, sid);
    Bytes body = plain;
    cmSmb3EncryptMessage(key, &t[20], body.data(), uint32_t(body.size()), &t[20], 32, &t[4], gcm);
    t.insert(t.end(), body.begin(), body.end());
    return t;
}

// The plain message of a sealed answer, or empty when it does not open.
inline Bytes unseal(const Bytes &sealed, const uint8_t *key, bool gcm)
{
    if (sealed.size() < 52 || sealed[0] != 0xFD)
        return {};
    Bytes body(sealed.begin() + 52, sealed.end());
    if (get_le32(&sealed[36]) != body.size())
        return {};
    if (cmSmb3DecryptMessage(key, &sealed[20], body.data(), uint32_t(body.size()), &sealed[20], 32,
                             &sealed[4], gcm) != 1)
        return {};
    return body;
}

struct Answer {
    uint32_t status;
    uint16_t command;
    uint16_t credits;
    uint32_t flags;
    uint32_t next;
    uint64_t mid;
    uint32_t tid;
    uint64_t sid;
};

inline Answer answerAt(const Bytes &m, size_t at)
{
    const uint8_t *p = m.data() + at;
    return Answer{get_le32(p + 8),  get_le16(p + 12), get_le16(p + 14), get_le32(p + 16),
                  get_le32(p + 20), get_le64(p + 24), get_le32(p + 36), get_le64(p + 40)};
}

class Smb2Test : public testenv::HookTest {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace";
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(cmSdInit(), 0);
        ASSERT_EQ(csAuthInit(), 1);
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        ASSERT_EQ(nsInit(0, 4), 0);
        started = true;
        ASSERT_EQ(csDispatchInit(), 0);
        ASSERT_EQ(cs2DispatchInit(), 0);
        reconnect();
    }
    void TearDown() override
    {
        closePair();
        cs2DispatchExit();
        csDispatchExit();
        if (started)
            nsExit(0, 4);
        csCloseDatabase();
        testenv::HookTest::TearDown();
    }
    void closePair()
    {
        if (slot.sySocket >= 0)
            close(slot.sySocket);
        if (peer >= 0)
            close(peer);
        slot.sySocket = peer = -1;
    }
    // A new connection: what the last one left belongs to nobody.
    void reconnect()
    {
        if (slot.sySocket >= 0)
            csReleaseSessions(&slot, 1);
        closePair();
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        int size = 1 << 20;
        for (int fd : fds) {
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        slot.sySocket = fds[0];
        slot.isNetBios = 1;
        peer = fds[1];
        csDispatchSetSocket(&slot);
        csDispatchSetSocketIp(&address);
    }
    void send(const Bytes &message, uint32_t claimed = 0)
    {
        uint32_t n = claimed ? claimed : uint32_t(message.size());
        uint8_t h[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        ASSERT_EQ(write(peer, h, 4), 4);
        if (!message.empty())
            ASSERT_EQ(write(peer, message.data(), message.size()), ssize_t(message.size()));
    }
    // The next answer, or empty when none came within 200 ms.
    Bytes answer()
    {
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            return {};
        uint8_t h[4];
        if (read(peer, h, 4) != 4)
            return {};
        uint32_t n = (h[1] << 16) | (h[2] << 8) | h[3];
        Bytes m(n);
        uint32_t got = 0;
        while (got < n) {
            ssize_t r = read(peer, m.data() + got, n - got);
            if (r <= 0)
                return {};
            got += uint32_t(r);
        }
        return m;
    }
    // 0 kept, -1 the connection is to be closed (as the server loop sees it).
    int serve() { return csDispatchRequest(&slot, &address); }
    Bytes exchange(const Bytes &message)
    {
        send(message);
        EXPECT_EQ(serve(), 0);
        return answer();
    }

    // A client that has negotiated dialect and logged on as bob; MessageIds
    // from 0 up to 100 are granted.
    CSUser *logon(uint32_t dialect, bool signing = false)
    {
        session = csGetSessionBySocket();
        if (!session)
            session = csGetNewSession();
        if (!session)
            return nullptr;
        session->dialect = dialect;
        session->creditPool = CS2_CREDIT_POOL;
        session->midLow = 0;
        session->midEnd = 100;
        session->negotiated = 1;
        session->signingActive = signing;
        user = csGetNewUser(session);
        if (!user)
            return nullptr;
        cmAnsiToUnicode(user->name, "bob");
        user->loggedOn = user->authenticated = 1;
        user->ntStatusMode = 1;
        user->token.ridCount = 2;
        user->token.rids[0] = 1000;
        user->token.rids[1] = CM_SD_RID_USERS;
        user->token.domain = *cmSdGetComputerSid();
        std::memset(user->sessionKey, 0x11, 16);
        std::memset(user->smb3SigningKey, 0x22, 16);
        std::memset(user->encryptionKey, 0x33, 16);
        std::memset(user->decryptionKey, 0x44, 16);
        return user;
    }
    uint64_t sid(const CSUser *u) const { return uint64_t(u->uid) + CS_SMB2_SESSION_BASE; }

    // bob logged on at dialect, with a tree on a new share "Docs".
    void logonWithDocs(uint32_t dialect, CSShare *&share, CSTree *&tree)
    {
        ASSERT_NE(logon(dialect), nullptr);
        share = addShare("Docs");
        ASSERT_NE(share, nullptr);
        tree = csGetNewTree(user);
        ASSERT_NE(tree, nullptr);
        tree->share = share;
    }

    // A share on a folder of its own.
    CSShare *addShare(const char *name)
    {
        dirs.emplace_back(new fw_test::TempDir("smb2-share"));
        if (vxAddShareA(name, dirs.back()->path().c_str(), "", -1, "") != 0)
            return nullptr;
        return csGetShareByName(testenv::W(name).data());
    }

    NSSocket slot{-1};
    int peer = -1;
    uint32_t address = 0x0100007F;
    bool started = false;
    CSSession *session = nullptr;
    CSUser *user = nullptr;
    std::vector<std::unique_ptr<fw_test::TempDir>> dirs;
};

}  // namespace smb2_test
