// The control channel: each command's handler through doControl over a
// loopback socket, malformed and truncated requests, replies that must fit
// one datagram, and the client functions against a served port 4445 in a
// network namespace of the test's own.
#include "server_fixture.h"
#include "ud_test_env.h"
#include "csauth.h"
#include "csctrl.h"
#include "csserver.h"
#include "cmsd.h"
#include "syfiles.h"
#include "sysockets.h"

#include "fw_test/matchers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace server_test;
using fw_test::HasSubstr;

namespace {

std::vector<std::string> gCalls;
std::vector<CSSocketSlot> gClosed;

}  // namespace

extern "C" void csRpcSpoolssCleanupUser(uint16_t uid) { gCalls.push_back("spoolss " + std::to_string(uid)); }

namespace {

const uint32_t kFailed = CM_ERR_CTRL_FAILED, kUnknown = CM_ERR_GENERAL;
const std::string kHash = "00112233445566778899aabbccddeeff";

// A request as the wire has it.
struct Message {
    std::vector<uint8_t> bytes;
    explicit Message(uint32_t code) { u32(code); }
    Message &u16(uint16_t v)
    {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
        return *this;
    }
    Message &u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
    Message &text(const std::string &s)
    {
        u16(uint16_t(s.size()));
        for (unsigned char c : s)
            u16(c);
        return u16(0);
    }
};

struct Reply {
    std::vector<uint8_t> bytes;
    size_t at = 4;
    uint32_t status() const
    {
        return bytes.size() < 4 ? 0xFFFFFFFF
                                : uint32_t(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24);
    }
    uint16_t u16()
    {
        uint16_t v = at + 2 <= bytes.size() ? uint16_t(bytes[at] | bytes[at + 1] << 8) : 0xFFFF;
        at += 2;
        return v;
    }
    std::string text()
    {
        uint16_t n = u16();
        std::string s;
        for (uint16_t i = 0; i < n; ++i)
            s.push_back(char(u16()));
        u16();
        return s;
    }
    std::string narrow()
    {
        uint16_t n = u16();
        std::string s(bytes.begin() + long(at), bytes.begin() + long(at + n));
        at += n + 1;
        return s;
    }
};

void endLoop() { gCalls.push_back("end loop"); }
void dropAll() { gCalls.push_back("drop all"); }
void closeConnection(CSSocketSlot socket) { gClosed.push_back(socket); }

class ControlTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        gCalls.clear();
        gClosed.clear();
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(cmSdInit(), 0);
        ASSERT_EQ(csAuthInit(), 1);
        testenv::writeFile(path("cs_cfg.txt"), "Music;/mnt/music;Songs\n");
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        ASSERT_NE(csServerContextCreate(), nullptr);
        csServerSetLoopHooks(endLoop, dropAll);
        csDatabaseSetCloseHook(closeConnection);
        server = socket(AF_INET, SOCK_DGRAM, 0);
        client = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        socklen_t n = sizeof address;
        getsockname(server, reinterpret_cast<sockaddr *>(&address), &n);
        timeval tv{2, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    void TearDown() override
    {
        if (server >= 0)
            close(server);
        if (client >= 0)
            close(client);
        csDatabaseSetCloseHook(nullptr);
        csServerSetLoopHooks(nullptr, nullptr);
        csServerContextFree();
        csCloseDatabase();
        csAuthShutdown();
        cmSdExit();
        syStop();
        csDispatchSetSocket(nullptr);
        csAuthSetPermissive(0);
        testenv::HookTest::TearDown();
    }
    // Sends the bytes, serves them, and gives the answer (none for an empty one).
    Reply exchange(const std::vector<uint8_t> &bytes, int *result = nullptr)
    {
        sendto(client, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&address), sizeof address);
        int r = doControl(server);
        if (result)
            *result = r;
        Reply reply;
        reply.bytes.resize(4096);
        ssize_t n = bytes.empty() ? -1 : recv(client, reply.bytes.data(), reply.bytes.size(), 0);
        reply.bytes.resize(n > 0 ? size_t(n) : 0);
        return reply;
    }
    Reply exchange(const Message &m, int *result = nullptr) { return exchange(m.bytes, result); }
    uint32_t status(const Message &m) { return exchange(m).status(); }

    int server = -1, client = -1;
    sockaddr_in address{};
};

TEST_F(ControlTest, UnknownCodesAndMalformedDatagramsAreAnsweredAndServingGoesOn)
{
    int result = 0;
    Reply r = exchange(Message(7777), &result);
    EXPECT_EQ(r.status(), kUnknown);
    EXPECT_EQ(r.bytes.size(), 4u);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(exchange(std::vector<uint8_t>{}, &result).bytes.empty());
    EXPECT_EQ(result, 1);
    EXPECT_EQ(exchange(std::vector<uint8_t>{3, 0}).status(), kFailed);
    std::vector<uint8_t> full(CS_CTRL_MAX_MESSAGE, 0xFF);
    full[0] = 3, full[1] = full[2] = full[3] = 0;
    EXPECT_EQ(exchange(full).status(), kFailed);
    std::vector<uint8_t> over(CS_CTRL_MAX_MESSAGE + 1, 0);
    over[0] = 5;
    EXPECT_EQ(exchange(over).status(), kFailed) << "longer than a message may be";
    EXPECT_EQ(status(Message(CS_CTRL_ENUM_SHARES).u16(0)), 0u) << "still serving";
}

TEST_F(ControlTest, StopAndRestartEndTheLoop)
{
    int result = 1;
    EXPECT_EQ(exchange(Message(CS_CTRL_RESTART), &result).status(), 0u);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(csGetServerContext()->restart, 1u);
    EXPECT_EQ(exchange(Message(CS_CTRL_STOP), &result).status(), 0u);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(csGetServerContext()->restart, 0u);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"end loop", "end loop"}));
}

TEST_F(ControlTest, SharesAreAddedListedAndRemoved)
{
    EXPECT_EQ(
        status(Message(CS_CTRL_ADD_SHARE).text("Docs").text("/mnt/docs").text("").u16(0xFFFF).text("Papers")),
        0u);
    std::vector<std::string> listed;
    for (uint16_t i = 0;; ++i) {
        Reply r = exchange(Message(CS_CTRL_ENUM_SHARES).u16(i));
        if (r.status() != 0) {
            EXPECT_EQ(r.status(), kFailed);
            break;
        }
        std::string name = r.text(), dir = r.text(), statusPath = r.text();
        int16_t level = int16_t(r.u16());
        listed.push_back(name + "|" + dir + "|" + statusPath + "|" + std::to_string(level) + "|" + r.text());
        EXPECT_EQ(r.at, r.bytes.size());
    }
    EXPECT_EQ(listed,
              (std::vector<std::string>{"IPC$|||-1|IPC Service", "Music|/mnt/music||-1|Songs",
                                        "C$|/var/run/cifs/||-1|Default share", "Docs|/mnt/docs||-1|Papers"}));
    EXPECT_EQ(status(Message(CS_CTRL_REMOVE_SHARE).text("docs")), 0u);
    EXPECT_EQ(status(Message(CS_CTRL_REMOVE_SHARE).text("docs")), kFailed);
    EXPECT_EQ(status(Message(CS_CTRL_REMOVE_SHARE).text("C$")), kFailed);
}

TEST_F(ControlTest, ARequestEndingInsideAFieldChangesNothing)
{
    Message whole =
        Message(CS_CTRL_ADD_SHARE).text("Docs").text("/mnt/docs").text("").u16(0xFFFF).text("Papers");
    for (size_t cut = 4; cut < whole.bytes.size(); ++cut) {
        std::vector<uint8_t> part(whole.bytes.begin(), whole.bytes.begin() + long(cut));
        EXPECT_EQ(exchange(part).status(), kFailed) << cut;
    }
    // Counts that run past the datagram or past the field, and a zero unit inside.
    Message pastDatagram = Message(CS_CTRL_REMOVE_SHARE).u16(0xFFFF).u16('M');
    Message pastField =
        Message(CS_CTRL_ADD_SHARE).text(std::string(200, 'n')).text("/x").text("").u16(0xFFFF).text("");
    Message zeroInside =
        Message(CS_CTRL_ADD_SHARE).text(std::string("Do\0cs", 5)).text("/x").text("").u16(0xFFFF).text("");
    for (const Message *m : {&pastDatagram, &pastField, &zeroInside})
        EXPECT_EQ(status(*m), kFailed);
    EXPECT_EQ(csGetSharesCount(), 3u);
    EXPECT_EQ(status(Message(CS_CTRL_REMOVE_SHARE).text("Music")), 0u) << "the whole request still works";
}

TEST_F(ControlTest, ARecordTooLongForADatagramGetsShorterStrings)
{
    std::vector<CMWchar> name = W(std::string(CS_SHARE_NAME_MAX, 'n')), dir = W("/" + std::string(1000, 'p')),
                         status = W("/" + std::string(1000, 's')), comment = W(std::string(501, 'c'));
    // A file share: a printer's device path that long is refused.
    ASSERT_EQ(vxAddShareW(name.data(), dir.data(), status.data(), -1, comment.data()), 0);
    Reply r = exchange(Message(CS_CTRL_ENUM_SHARES).u16(3));
    ASSERT_EQ(r.status(), 0u);
    EXPECT_LE(r.bytes.size(), size_t(CS_CTRL_MAX_MESSAGE));
    std::string n = r.text(), p = r.text(), s = r.text();
    EXPECT_EQ(r.u16(), 0xFFFF);
    std::string c = r.text();
    EXPECT_EQ(r.at, r.bytes.size()) << "every field is there, none cut off";
    EXPECT_EQ(n, std::string(CS_SHARE_NAME_MAX, 'n')) << "a short string stays whole";
    EXPECT_GT(c.size(), 100u);
    EXPECT_EQ(p.substr(0, 5), "/pppp");
    EXPECT_EQ(p.size(), s.size());
}

TEST_F(ControlTest, UsersAreAddedOnlyWhole)
{
    auto addUser = [&](const std::string &name, const std::string &password, uint16_t admin) {
        return status(
            Message(CS_CTRL_ADD_USER).text(name).text(name + " full").text("desc").text(password).u16(admin));
    };
    EXPECT_EQ(addUser("plain", "secret", 0), kFailed);
    EXPECT_EQ(udGetUserCount(), 0u) << "no account is left with an empty password";
    EXPECT_EQ(addUser("admin", kHash, 1), 0u);
    EXPECT_EQ(addUser("ADMIN", kHash, 0), kFailed) << "names compare without regard to case";
    EXPECT_EQ(addUser("user", kHash, 0), 0u);
    std::vector<std::string> users;
    for (uint16_t i = 0;; ++i) {
        Reply r = exchange(Message(CS_CTRL_ENUM_USERS).u16(i));
        if (r.status() != 0)
            break;
        std::string name = r.text(), full = r.text(), description = r.text();
        users.push_back(name + "|" + full + "|" + description + "|" + std::to_string(r.u16()));
    }
    EXPECT_EQ(users, (std::vector<std::string>{"admin|admin|Administrator|1", "user|user|Ordinary user|0"}));
}

TEST_F(ControlTest, RemovingAUserReleasesEveryLogonOfIt)
{
    testenv::writeFile(path("pwd_list.txt"),
                       "ann:" + kHash + kHash + ":4:0\nbob:" + kHash + kHash + ":5:0\n");
    int s1 = 0, s2 = 0, s3 = 0;
    Client a1 = connect(&s1, 1, "ann", nullptr), a2 = connect(&s2, 2, "ann", nullptr),
           b = connect(&s3, 3, "bob", nullptr);
    for (auto [c, rid] : {std::pair{&a1, 4u}, std::pair{&a2, 4u}, std::pair{&b, 5u}}) {
        c->user->token.ridCount = 1;
        c->user->token.rids[0] = rid;
    }
    EXPECT_EQ(status(Message(CS_CTRL_REMOVE_USER).text("Ann")), 0u);
    EXPECT_EQ(csGetUsersCount(), 1u);
    EXPECT_EQ(csGetUserByIndex(0), b.user);
    EXPECT_THAT(testenv::readFile(path("pwd_list.txt")), fw_test::Not(HasSubstr("ann")));
    EXPECT_EQ(status(Message(CS_CTRL_REMOVE_USER).text("ann")), kFailed);
}

TEST_F(ControlTest, ClientsAndFilesAreListed)
{
    int s1 = 0, s2 = 0;
    CSShare *music = csGetShareByName(W("Music").data());
    Client bob = connect(&s1, 0x0501A8C0, "bob", music);
    bob.user->guest = 1;
    bob.session->dialect = CS_DIALECT_SMB21;
    csDispatchSetSocket(&s2);
    CSSession *bare = csGetNewSession();
    bare->dialect = CS_DIALECT_SMB1;
    CSFile *f = open(bob, "/mnt/music/a.mp3");
    f->isDirectory = 1;

    Reply r = exchange(Message(CS_CTRL_ENUM_CLIENTS).u16(0));
    ASSERT_EQ(r.status(), 0u);
    EXPECT_EQ(r.text(), "192.168.1.5");
    EXPECT_EQ(r.u16(), CS_DIALECT_SMB21);
    EXPECT_EQ(r.text(), "bob");
    EXPECT_EQ(r.u16(), 1);
    EXPECT_EQ(r.u16(), 0);
    EXPECT_EQ(r.u16(), 0);
    r = exchange(Message(CS_CTRL_ENUM_CLIENTS).u16(1));
    ASSERT_EQ(r.status(), 0u);
    r.text();
    EXPECT_EQ(r.u16(), CS_DIALECT_SMB1);
    EXPECT_EQ(r.text(), "unknown");
    EXPECT_EQ(status(Message(CS_CTRL_ENUM_CLIENTS).u16(2)), kFailed);

    r = exchange(Message(CS_CTRL_ENUM_FILES).u16(0));
    ASSERT_EQ(r.status(), 0u);
    EXPECT_EQ(r.narrow(), "192.168.1.5");
    EXPECT_EQ(r.text(), "/mnt/music/a.mp3");
    EXPECT_EQ(r.text(), "bob");
    EXPECT_EQ(r.u16(), 1);
    EXPECT_EQ(r.at, r.bytes.size());
    EXPECT_EQ(status(Message(CS_CTRL_ENUM_FILES).u16(1)), kFailed);

    EXPECT_EQ(status(Message(CS_CTRL_CLEAN_USER_CONNECTIONS).u16(0).text("bob")), 0u);
    EXPECT_EQ(gClosed, std::vector<CSSocketSlot>{&s1});
    EXPECT_EQ(csGetFilesCount(), 0u);
    EXPECT_EQ(status(Message(CS_CTRL_CLEAN_USER_CONNECTIONS).u16(0).text("bob")), kFailed);
}

TEST_F(ControlTest, PolicySwitches)
{
    EXPECT_EQ(status(Message(CS_CTRL_SET_SIGNING_POLICY).u16(2)), 0u);
    EXPECT_EQ(csIsMessageSigningRequired(), 1u);
    EXPECT_EQ(status(Message(CS_CTRL_SET_SIGNING_POLICY).u16(3)), kFailed);
    EXPECT_EQ(csIsMessageSigningRequired(), 1u);
    EXPECT_EQ(status(Message(CS_CTRL_SET_SIGNING_POLICY).u16(0)), 0u);
    EXPECT_EQ(csIsMessageSigningEnabled(), 0u);
    EXPECT_EQ(status(Message(CS_CTRL_SET_ENCRYPTION_METHODS).u16(CS_AUTH_NTLMV2)), 0u);
    EXPECT_EQ(status(Message(CS_CTRL_SET_ENCRYPTION_METHODS)), kFailed);
    csChangeEncryptionLevel(CS_AUTH_ALL);

    int s1 = 0, s2 = 0;
    Client guest = connect(&s1, 1, "guest", nullptr), ann = connect(&s2, 2, "ann", nullptr);
    guest.user->guest = 1;
    const std::string guestCleanup = "spoolss " + std::to_string(guest.user->uid);
    EXPECT_EQ(status(Message(CS_CTRL_SET_PERMISSIVE).u16(1)), 0u);
    EXPECT_EQ(csAuthIsPermissive(), 1);
    EXPECT_TRUE(gClosed.empty());
    EXPECT_EQ(status(Message(CS_CTRL_SET_PERMISSIVE).u16(0)), 0u);
    EXPECT_EQ(csAuthIsPermissive(), 0);
    EXPECT_EQ(gClosed, std::vector<CSSocketSlot>{&s1});
    EXPECT_EQ(gCalls, (std::vector<std::string>{guestCleanup, "drop all"}));
    (void)ann;
}

TEST_F(ControlTest, PrinterOwners)
{
    testenv::writeFile(path("pwd_list.txt"), "ann:" + kHash + kHash + ":4:0\n");
    int s1 = 0;
    Client ann = connect(&s1, 1, "ann", nullptr);
    EXPECT_EQ(status(Message(CS_CTRL_SET_PRINTER_OWNER).u16(1).text("ann")), 0u);
    EXPECT_THAT(testenv::readFile(path("pwd_list.txt")), HasSubstr(":4:1"));
    EXPECT_TRUE(gCalls.empty());
    EXPECT_EQ(status(Message(CS_CTRL_SET_PRINTER_OWNER).u16(0).text("ann")), 0u);
    EXPECT_THAT(testenv::readFile(path("pwd_list.txt")), HasSubstr(":4:0"));
    EXPECT_EQ(gCalls, std::vector<std::string>{"spoolss " + std::to_string(ann.user->uid)});
    EXPECT_EQ(status(Message(CS_CTRL_SET_PRINTER_OWNER).u16(1).text("nobody")), kFailed);
}

// The client functions against a loop serving 127.0.0.1:4445.
class ClientTest : public ControlTest {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace of its own for port 4445";
        ControlTest::SetUp();
        if (IsSkipped())
            return;
        port = syCreateSocket(0, 0);
        uint32_t loopback = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(syBindSocket(port, &loopback, htons(CS_CTRL_PORT)), 0);
    }
    void TearDown() override
    {
        stopServing();
        if (port >= 0)
            syCloseSocket(port);
        ControlTest::TearDown();
    }
    void serveInBackground()
    {
        loop = std::thread([this] {
            while (running) {
                fd_set set;
                FD_ZERO(&set);
                FD_SET(port, &set);
                timeval tv{0, 50000};
                if (select(port + 1, &set, nullptr, nullptr, &tv) > 0) {
                    ++served;
                    if (doControl(port) == 0)
                        running = false;
                }
            }
        });
    }
    void stopServing()
    {
        running = false;
        if (loop.joinable())
            loop.join();
    }
    int port = -1;
    std::thread loop;
    std::atomic<bool> running{true};
    std::atomic<int> served{0};
};

TEST_F(ClientTest, EachFunctionReachesItsHandler)
{
    serveInBackground();
    EXPECT_EQ(csCtrlAddShareA("Docs", "/mnt/docs", "", -1, "Papers"), 0);
    CSCtrlShareRecord share{};
    std::vector<std::string> shares;
    uint32_t i = 0;
    for (; csCtrlEnumShares(&share, i) == 0; ++i)
        shares.push_back(A(share.name) + "|" + A(share.path) + "|" + std::to_string(share.debugLevel) + "|" +
                         A(share.comment));
    EXPECT_EQ(errno, int(kFailed));
    EXPECT_EQ(shares,
              (std::vector<std::string>{"IPC$||-1|IPC Service", "Music|/mnt/music|-1|Songs",
                                        "C$|/var/run/cifs/|-1|Default share", "Docs|/mnt/docs|-1|Papers"}));
    EXPECT_EQ(csCtrlRemoveShareA("Docs"), 0);
    EXPECT_EQ(csCtrlRemoveShareA("Docs"), -1);
    EXPECT_EQ(errno, int(kFailed));

    EXPECT_EQ(csCtrlAddUserA("ann", "Ann A", "", kHash.c_str(), 1), 0);
    EXPECT_EQ(csCtrlAddUserA("pat", "", "", "plain", 0), -1);
    EXPECT_EQ(errno, int(kFailed));
    CSCtrlUserRecord user{};
    ASSERT_EQ(csCtrlEnumUsers(&user, 0), 0);
    EXPECT_EQ(A(user.name), "ann");
    EXPECT_EQ(user.administrator, 1u);
    EXPECT_EQ(csCtrlEnumUsers(&user, 1), -1);
    EXPECT_EQ(csCtrlSetPrinterOwnerA("ann", 1), 0);
    EXPECT_EQ(csCtrlRemoveUserA("ann"), 0);
    EXPECT_EQ(csCtrlRemoveUserA("ann"), -1);

    int s1 = 0;
    Client bob = connect(&s1, 0x0901A8C0, "bob", csGetShareByName(W("Music").data()));
    open(bob, "/mnt/music/x");
    CSCtrlClientRecord client{};
    ASSERT_EQ(csCtrlEnumClients(&client, 0), 0);
    EXPECT_EQ(client.address, 0x0901A8C0u);
    EXPECT_EQ(client.dialect, CS_DIALECT_SMB311);
    EXPECT_EQ(A(client.name), "bob");
    CSCtrlFileRecord file{};
    ASSERT_EQ(csCtrlEnumFiles(&file, 0), 0);
    EXPECT_EQ(A(file.path), "/mnt/music/x");
    EXPECT_EQ(A(file.user), "bob");
    EXPECT_EQ(file.address, 0x0901A8C0u);
    EXPECT_EQ(file.isDirectory, 0u);
    EXPECT_EQ(csCtrlCleanUserConnectionsA("bob", 0), 0);
    EXPECT_EQ(csCtrlEnumClients(&client, 0), -1);

    EXPECT_EQ(csCtrlSetMessageSigningPolicy(2), 0);
    EXPECT_EQ(csCtrlSetEncryptionMethods(CS_AUTH_NTLMV2 | CS_AUTH_NTLM), 0);
    EXPECT_EQ(csCtrlSetPermissive(7), 0);
    EXPECT_EQ(csAuthIsPermissive(), 1);
    EXPECT_EQ(csCtrlStop(), 0);
    stopServing();
    EXPECT_EQ(csGetServerContext()->restart, 0u);
    EXPECT_EQ(csIsMessageSigningRequired(), 1u);
    csChangeEncryptionLevel(CS_AUTH_ALL);
}

TEST_F(ClientTest, ARequestTooLongForADatagramIsNeverSent)
{
    serveInBackground();
    std::string longText(900, 'x');
    EXPECT_EQ(csCtrlAddShareA("Big", longText.c_str(), longText.c_str(), -1, ""), -1);
    EXPECT_EQ(errno, int(CM_ERR_GENERAL));
    std::string tooLong(200, 'n');
    EXPECT_EQ(csCtrlRemoveShareA(tooLong.c_str()), -1) << "longer than the name buffer";
    EXPECT_EQ(errno, int(CM_ERR_GENERAL));
    EXPECT_EQ(csCtrlAddUserA("\xff\xfe", "", "", kHash.c_str(), 0), -1) << "not UTF-8";
    EXPECT_EQ(served.load(), 0);
    EXPECT_EQ(csCtrlTransact(7777, nullptr, nullptr, nullptr, 5), -1);
    EXPECT_EQ(errno, int(CM_ERR_GENERAL));
    EXPECT_EQ(served.load(), 1);
}

// Answers each request with the next of the given replies, as they stand.
class ScriptedServerTest : public ClientTest {
protected:
    void answerWith(std::vector<std::vector<uint8_t>> replies)
    {
        loop = std::thread([this, replies] {
            for (const std::vector<uint8_t> &reply : replies) {
                uint8_t in[CS_CTRL_MAX_MESSAGE];
                sockaddr_in from{};
                socklen_t n = sizeof from;
                if (recvfrom(port, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &n) <= 0)
                    return;
                sendto(port, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), n);
            }
        });
    }
};

TEST_F(ScriptedServerTest, RepliesAreReadWithinTheirBoundsAndTheRecordsFields)
{
    Message longName = Message(0).text(std::string(300, 'n')).text("/p").text("").u16(0xFFFF).text("c");
    Message cut = Message(0).text("name").text("/path");
    std::vector<uint8_t> statusOnly = {0xD1, 0x07, 0xFF, 0x00};
    answerWith({longName.bytes, cut.bytes, statusOnly, {0x00, 0x00}});
    CSCtrlShareRecord share;
    std::memset(&share, 0x55, sizeof share);
    ASSERT_EQ(csCtrlEnumShares(&share, 0), 0);
    EXPECT_EQ(A(share.name), std::string(63, 'n')) << "cut to the record's field";
    EXPECT_EQ(A(share.path), "/p");
    EXPECT_EQ(share.debugLevel, -1);
    EXPECT_EQ(A(share.comment), "c");
    EXPECT_EQ(csCtrlEnumShares(&share, 1), -1) << "a record that ends early";
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_EQ(csCtrlEnumShares(&share, 2), -1);
    EXPECT_EQ(errno, int(kFailed));
    EXPECT_EQ(csCtrlSetPermissive(1), -1) << "a reply shorter than its status";
    EXPECT_EQ(errno, EBADMSG);
    loop.join();
}

TEST_F(ClientTest, NoAnswerInTimeIsItsOwnError)
{
    // Nobody serves the port; a datagram from elsewhere is not the answer.
    int stray = socket(AF_INET, SOCK_DGRAM, 0);
    std::thread noise([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        uint8_t bytes[4] = {};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The client's own port is unknown here: answer every datagram the served port got.
        uint8_t in[64];
        sockaddr_in from{};
        socklen_t n = sizeof from;
        timeval tv{1, 0};
        setsockopt(port, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (recvfrom(port, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &n) > 0)
            sendto(stray, bytes, sizeof bytes, 0, reinterpret_cast<sockaddr *>(&from), sizeof from);
        (void)to;
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(csCtrlTransact(CS_CTRL_ENUM_SHARES, nullptr, nullptr, nullptr, 1), -1);
    EXPECT_EQ(errno, int(CM_ERR_CTRL_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    noise.join();
    close(stray);
}

}  // namespace
