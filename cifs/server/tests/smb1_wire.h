// The SMB1 dispatcher on a socket pair with the server's tables, for the
// tests of the SMB1 commands: messages built field by field, answers read
// back as the client gets them.
#pragma once
#include "cmsd.h"
#include "cmstring.h"
#include "csauth.h"
#include "csdb.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csshares.h"
#include "nssocket.h"
#include "syfiles.h"
#include "ud_test_env.h"

#include "fw_test/bytes.h"
#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace smb1test {

using fw_test::Bytes;
using fw_test::get_le16;
using fw_test::get_le32;
using fw_test::put_le16;
using fw_test::put_le32;

constexpr uint16_t kNt = 0xC801;  // unicode, NT status, extended security, long names

// A message: the header for command, then the block (WordCount onwards).
struct Message {
    uint8_t command = 0;
    uint8_t flags = 0x18;
    uint16_t flags2 = kNt;
    uint16_t tid = 0, uid = 0, pid = 0x0101, mid = 0x4242, pidHigh = 0;
    Bytes words;  // parameter bytes
    Bytes data;
    Bytes raw;  // when set, the whole block as given

    Bytes build() const
    {
        Bytes m{0xFF, 'S', 'M', 'B', command, 0, 0, 0, 0, flags};
        put_le16(m, flags2);
        put_le16(m, pidHigh);
        m.resize(24, 0);
        put_le16(m, tid);
        put_le16(m, pid);
        put_le16(m, uid);
        put_le16(m, mid);
        if (!raw.empty()) {
            m.insert(m.end(), raw.begin(), raw.end());
            return m;
        }
        m.push_back(uint8_t(words.size() / 2));
        m.insert(m.end(), words.begin(), words.end());
        put_le16(m, uint16_t(data.size()));
        m.insert(m.end(), data.begin(), data.end());
        return m;
    }
};

// The message with a second block chained after its first (whose
// AndXCommand must already name it): the first block's AndXOffset points there.
inline Message chain(Message m, const Bytes &next)
{
    Bytes whole = m.build();
    Bytes block(whole.begin() + 32, whole.end());
    const uint16_t offset = uint16_t(whole.size());
    block[3] = uint8_t(offset);
    block[4] = uint8_t(offset >> 8);
    block.insert(block.end(), next.begin(), next.end());
    m.raw = block;
    return m;
}

// A block that ends a chain: two words (AndXCommand 0xFF), no bytes.
inline Bytes lastBlock() { return {2, 0xFF, 0, 0, 0, 0, 0}; }

// An answer as the client reads it.
struct Answer {
    Bytes m;
    bool none() const { return m.empty(); }
    uint32_t status() const { return get_le32(m.data() + 5); }
    uint16_t flags2() const { return get_le16(m.data() + 10); }
    uint16_t tid() const { return get_le16(m.data() + 24); }
    uint16_t uid() const { return get_le16(m.data() + 28); }
    uint8_t wordCount() const { return m[32]; }
    const uint8_t *words() const { return m.data() + 33; }
    uint16_t word(size_t at) const { return get_le16(words() + at); }
    uint32_t dword(size_t at) const { return get_le32(words() + at); }
    uint16_t byteCount() const { return get_le16(words() + 2 * wordCount()); }
    const uint8_t *bytes() const { return words() + 2 * wordCount() + 2; }
    // Byte offset from the header of the block's data.
    size_t bytesOffset() const { return 33 + 2 * wordCount() + 2; }
};

inline Bytes utf16(const std::string &text, bool terminate = true)
{
    Bytes out;
    for (char c : text) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    if (terminate)
        out.insert(out.end(), {0, 0});
    return out;
}

inline Bytes ascii(const std::string &text)
{
    Bytes out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

class Smb1Test : public testenv::HookTest {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace";
        HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(cmSdInit(), 0);
        ASSERT_EQ(csAuthInit(), 1);
        csAuthSetPermissive(0);
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        // The walks of rename and delete run on the process-wide pair.
        ASSERT_EQ(csFnamesInit(), 0);
        ASSERT_EQ(nsInit(0, 4), 0);
        started = true;
        ASSERT_EQ(csDispatchInit(), 0);
        reconnect();
    }
    void TearDown() override
    {
        if (slot.sySocket >= 0)
            close(slot.sySocket);
        if (peer >= 0)
            close(peer);
        csDispatchExit();
        csDispatchSetSocket(nullptr);
        csDispatchSetSocketIp(nullptr);
        if (started)
            nsExit(0, 4);
        csFnamesExit();
        csCloseDatabase();
        csAuthShutdown();
        cmSdExit();
        HookTest::TearDown();
    }

    // A fresh connection: the slot's session goes, a new socket pair comes.
    void reconnect()
    {
        if (started)
            csReleaseSessions(&slot, 1);
        if (slot.sySocket >= 0)
            close(slot.sySocket);
        if (peer >= 0)
            close(peer);
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        slot.sySocket = fds[0];
        slot.isNetBios = 1;
        peer = fds[1];
        csDispatchSetSocket(&slot);
        csDispatchSetSocketIp(&address);
    }

    // A session message as the client sends it: the 4-byte header with the
    // length claimed (the message's own by default), then the message.
    void sendFrame(const Bytes &m, uint32_t claimed = 0)
    {
        const uint32_t n = claimed ? claimed : uint32_t(m.size());
        uint8_t h[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        ASSERT_EQ(write(peer, h, 4), 4);
        if (!m.empty()) {
            ASSERT_EQ(write(peer, m.data(), m.size()), ssize_t(m.size()));
        }
    }

    // Serves one message of the connection: 0, or -1 when it drops it.
    int serve() { return csDispatchRequest(&slot, &address); }

    // Sends the message, serves it and returns the answer (none when
    // nothing came within 200 ms).
    Answer ask(const Message &message)
    {
        sendFrame(message.build());
        EXPECT_EQ(serve(), 0);
        return read();
    }

    Answer read()
    {
        Answer a;
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            return a;
        uint8_t h[4];
        if (::read(peer, h, 4) != 4)
            return a;
        uint32_t n = (h[1] << 16) | (h[2] << 8) | h[3];
        a.m.resize(n);
        uint32_t got = 0;
        while (got < n) {
            ssize_t r = ::read(peer, a.m.data() + got, n - got);
            if (r <= 0)
                return Answer{};
            got += uint32_t(r);
        }
        return a;
    }

    // A session, a logged-on user and (on share, when given) a tree, made
    // straight in the tables.
    CSUser *logOn(const std::string &name = "alice")
    {
        CSSession *session = csGetSessionBySocket();
        if (!session) {
            session = csGetNewSession();
            if (!session)
                return nullptr;
            session->dialect = CS_DIALECT_SMB1;
        }
        CSUser *user = csGetNewUser(session);
        if (!user)
            return nullptr;
        std::vector<uint16_t> w = testenv::W(name);
        cmWStrcpy(user->name, w.data());
        user->loggedOn = user->authenticated = 1;
        user->ntStatusMode = 1;
        user->rid = 1000;
        user->token.ridCount = 2;
        user->token.rids[0] = 1000;
        user->token.rids[1] = CM_SD_RID_USERS;
        csFillUserToken(user);
        return user;
    }

    // Path opened straight in the tables for tree, its descriptor read-write.
    static CSFile *openFile(const CSTree *tree, const std::string &path, uint32_t pid = 0x0101)
    {
        std::vector<CMWchar> w = testenv::W(path);
        CSName *n = csGetNameByName(w.data());
        if (!n)
            n = csGetNewName(w.data(), tree->uid);
        CSFile *f = n ? csGetNewFile(tree, n, 0) : nullptr;
        if (f) {
            f->fd = ::open(path.c_str(), O_RDWR);
            f->pid = pid;
        }
        return f;
    }

    NSSocket slot{};
    int peer = -1;
    uint32_t address = 0x0100007F;
    bool started = false;
};

// A logged-on user and the disk share "Docs" over a temporary folder, and
// the header of a request from them (on their tree once there is one).
class Smb1UserTest : public Smb1Test {
protected:
    void SetUp() override
    {
        Smb1Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_EQ(vxAddShareA("Docs", dir.path().c_str(), "", -1, "papers"), 0);
        user = logOn();
        ASSERT_NE(user, nullptr);
    }

    Message base(uint8_t command, bool unicode = true) const
    {
        Message m;
        m.command = command;
        m.uid = user->uid;
        m.tid = tree ? tree->tid : 0;
        if (!unicode)
            m.flags2 &= uint16_t(~0x8000);
        return m;
    }

    // TRANSACTION or TRANSACTION2: parameters and data follow the name
    // (TRANSACTION) or the pad (TRANSACTION2) in the byte block.
    Message transaction(uint8_t command, std::vector<uint16_t> setup, const std::string &name,
                        const Bytes &parameters, const Bytes &data, uint16_t maxData = 1000)
    {
        Message m = base(command);
        const uint32_t words = 14 + uint32_t(setup.size());
        Bytes bytes;
        if (command == 0x25) {
            bytes.push_back(0);  // pad: the name at an even offset
            Bytes n = utf16(name);
            bytes.insert(bytes.end(), n.begin(), n.end());
        } else {
            bytes.push_back(0);
        }
        const uint32_t start = 32 + 1 + 2 * words + 2;
        const uint16_t parameterOffset = uint16_t(start + bytes.size());
        bytes.insert(bytes.end(), parameters.begin(), parameters.end());
        const uint16_t dataOffset = uint16_t(start + bytes.size());
        bytes.insert(bytes.end(), data.begin(), data.end());
        put_le16(m.words, uint16_t(parameters.size()));
        put_le16(m.words, uint16_t(data.size()));
        put_le16(m.words, 1000);
        put_le16(m.words, maxData);
        m.words.insert(m.words.end(), {0, 0});
        put_le16(m.words, 0);
        put_le32(m.words, 0);
        put_le16(m.words, 0);
        put_le16(m.words, uint16_t(parameters.size()));
        put_le16(m.words, parameterOffset);
        put_le16(m.words, uint16_t(data.size()));
        put_le16(m.words, dataOffset);
        m.words.push_back(uint8_t(setup.size()));
        m.words.push_back(0);
        for (uint16_t s : setup)
            put_le16(m.words, s);
        m.data = bytes;
        return m;
    }

    fw_test::TempDir dir;
    CSUser *user = nullptr;
    CSTree *tree = nullptr;
};

// The same user with a tree on "Docs".
class Smb1ShareTest : public Smb1UserTest {
protected:
    void SetUp() override
    {
        Smb1UserTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        tree = csGetNewTree(user);
        ASSERT_NE(tree, nullptr);
        std::vector<CMWchar> name = testenv::W("Docs");
        share = csGetShareByName(name.data());
        tree->share = share;
    }

    CSShare *share = nullptr;
};

}  // namespace smb1test
