// Users in pwd_list.txt: rewrites, RIDs, passwords and refused names.
#include "ud_test_env.h"

#include "failing_new.h"

#include <dirent.h>
#include <functional>
#include <sys/stat.h>

using namespace testenv;

namespace {

class UsersTest : public HookTest {
protected:
    std::string users() { return readFile(path("pwd_list.txt")); }
    void setUsers(const std::string &text) { writeFile(path("pwd_list.txt"), text); }
    int create(const std::string &name) { return udCreateUser(W(name).data(), nullptr, nullptr); }
};

TEST_F(UsersTest, InitMakesPrivateFolderAndDropsUsers)
{
    struct stat st {};
    ASSERT_EQ(stat(UD_CONFIG_DIR, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    setUsers("bob::1:0\n");
    udStop();
    ASSERT_EQ(udInit(), 0);
    EXPECT_FALSE(exists(path("pwd_list.txt")));
}

TEST_F(UsersTest, FirstUserGetsRidOne)
{
    EXPECT_EQ(create("bob"), 1);
    EXPECT_EQ(users(), "bob::1:0\n");
    EXPECT_FALSE(exists(path("__temp__")));
}

TEST_F(UsersTest, NextRidFollowsLargestAbsoluteRid)
{
    setUsers("ann::3:0\n# note\n\ncarl:pw:-7:1\n");
    EXPECT_EQ(create("dave"), 1);
    // Comments and empty lines are dropped by any rewrite.
    EXPECT_EQ(users(), "ann::3:0\ncarl:pw:-7:1\ndave::8:0\n");
}

TEST_F(UsersTest, SameNameRefusedOtherCaseAdded)
{
    setUsers("Bob::1:0\n");
    EXPECT_EQ(create("Bob"), 0);
    EXPECT_EQ(users(), "Bob::1:0\n");
    EXPECT_EQ(create("bob"), 1);
    int32_t rid = 0;
    EXPECT_EQ(udGetUserRidByName(W("BOB").data(), &rid), 1);
    EXPECT_EQ(rid, 1);
    EXPECT_EQ(udGetUserCount(), 2u);
}

TEST_F(UsersTest, TextThatWouldNotReadBackIsRefused)
{
    setUsers("ann::1:0\n");
    const char *bad[] = {
        "",
        "eve\nroot::-1:0",
        "eve:x",
        "j-smith",
        "#hidden",
        " lead",
        "caf\xe9",
        "tab\tname",
        "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghij",  // 50 characters
    };
    for (const char *name : bad) {
        SCOPED_TRACE(name);
        EXPECT_EQ(create(name), 0);
        EXPECT_EQ(
            udSetUserInfo(1, W(name).data(), nullptr, nullptr, W("00112233445566778899aabbccddeeff").data()),
            0);
        EXPECT_EQ(users(), "ann::1:0\n");
    }
    // Narrowing keeps the low byte: a unit 0x010A must not become a line feed.
    std::vector<uint16_t> sneaky = W("eveXroot");
    sneaky[3] = 0x010A;
    EXPECT_EQ(udCreateUser(sneaky.data(), nullptr, nullptr), 0);
    EXPECT_EQ(create("abcdefghijabcdefghijabcdefghijabcdefghijabcdefghi"), 1);  // 49
}

TEST_F(UsersTest, SetUserInfoMovesLineLastWithDoubledHash)
{
    setUsers("ann::1:0\nbob:old:2:1\ncarl::3:0\n");
    const std::string hash = "00112233445566778899AABBCCDDEEFF";
    EXPECT_EQ(udSetUserInfo(2, W("robert").data(), nullptr, nullptr, W(hash).data()), 1);
    EXPECT_EQ(users(), "ann::1:0\ncarl::3:0\nrobert:" + hash + hash + ":2:1\n");
    // A null name keeps the name.
    EXPECT_EQ(udSetUserInfo(1, nullptr, nullptr, nullptr, W(hash).data()), 1);
    EXPECT_EQ(users(), "carl::3:0\nrobert:" + hash + hash + ":2:1\nann:" + hash + hash + ":1:0\n");
}

TEST_F(UsersTest, SetUserInfoRefusals)
{
    setUsers("ann::1:0\n");
    const struct {
        int32_t rid;
        const char *hash;
    } cases[] = {
        {1, "0011223344556677889900112233445"},    // 31 digits
        {1, "0011223344556677889900112233445g"},   // not hexadecimal
        {1, "0011223344556677889900112233445\n"},  // line end
        {9, "00112233445566778899001122334455"},   // no such RID
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hash);
        EXPECT_EQ(udSetUserInfo(c.rid, W("ann").data(), nullptr, nullptr, W(c.hash).data()), 0);
    }
    EXPECT_EQ(udSetUserInfo(1, W("ann").data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(users(), "ann::1:0\n");
    EXPECT_FALSE(exists(path("__temp__")));
}

TEST_F(UsersTest, AdministratorFlipsRidSign)
{
    setUsers("ann::5:1\nbob::6:0\n");
    EXPECT_EQ(udSetUserAsAdministrator(-5, 1), 1);  // already says so: nothing to do
    EXPECT_EQ(users(), "ann::5:1\nbob::6:0\n");
    EXPECT_EQ(udSetUserAsAdministrator(5, 1), 1);
    EXPECT_EQ(users(), "bob::6:0\nann::-5:1\n");
    EXPECT_EQ(udSetUserAsAdministrator(-5, 0), 1);
    EXPECT_EQ(users(), "bob::6:0\nann::5:1\n");
    EXPECT_EQ(udSetUserAsAdministrator(9, 1), 0);

    setUsers("ann::-5:1\n");
    int32_t rid = 0;
    int owner = 0;
    uint16_t name[64], full[64], desc[64];
    ASSERT_EQ(udGetUserInfo(0, &rid, &owner, name, full, desc), 1);
    EXPECT_EQ(rid, -5);
    EXPECT_EQ(owner, 1);
    EXPECT_EQ(A(name), "ann");
    EXPECT_EQ(A(full), "ann");
    EXPECT_EQ(A(desc), "Administrator");
    EXPECT_EQ(udGetUserInfo(1, &rid, &owner, name, full, desc), 0);
}

TEST_F(UsersTest, PrinterOwnerAndLookups)
{
    setUsers("ann::1:0\nbob::2:0\n");
    EXPECT_EQ(udSetUserAsPrinterOwner(1, 1), 1);
    EXPECT_EQ(users(), "bob::2:0\nann::1:1\n");
    int flag = -1;
    EXPECT_EQ(udGetPrinterOwnerFlag(W("ANN").data(), &flag), 1);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(udSetUserAsPrinterOwner(1, 0), 1);
    EXPECT_EQ(udGetPrinterOwnerFlag(W("ann").data(), &flag), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(udSetUserAsPrinterOwner(7, 1), 0);

    uint16_t name[64], full[64];
    EXPECT_EQ(udGetUserNameByRid(2, name, full), 1);
    EXPECT_EQ(A(name), "bob");
    EXPECT_EQ(udGetUserNameByRid(-2, name, full), 0);
}

TEST_F(UsersTest, DeleteDropsEveryMatchingLine)
{
    setUsers("ann::1:0\nbob::2:0\nann2::1:0\n");
    EXPECT_EQ(udDeleteUserByRid(1), 1);
    EXPECT_EQ(users(), "bob::2:0\n");
    EXPECT_EQ(udDeleteUserByRid(1), 0);
    EXPECT_EQ(users(), "bob::2:0\n");
}

TEST_F(UsersTest, MissingFile)
{
    EXPECT_EQ(udGetUserCount(), 0u);
    EXPECT_EQ(udSetUserAsAdministrator(1, 1), 0);
    EXPECT_FALSE(exists(path("pwd_list.txt")));
    EXPECT_EQ(udDeleteUserByRid(1), 0);
    EXPECT_EQ(users(), "");  // the empty scratch file became the users file
    EXPECT_TRUE(exists(path("pwd_list.txt")));
}

TEST_F(UsersTest, LeftOverScratchFileNeverReachesUsers)
{
    writeFile(path("__temp__"), "mallory::-1:0\n");
    EXPECT_EQ(create("bob"), 1);
    EXPECT_EQ(users(), "bob::1:0\n");
}

TEST_F(UsersTest, MalformedLineIsWrittenBackWithFourFields)
{
    setUsers("ann\nbob::2:0\n");
    EXPECT_EQ(create("carl"), 1);
    EXPECT_EQ(users(), "ann:::\nbob::2:0\ncarl::3:0\n");
}

// A byte from 0x80 up ends the name; the rest of its line is no user.
TEST_F(UsersTest, HighByteInANameDoesNotSplitTheLine)
{
    setUsers("j\xc3\xb6"
             "e:secret:5:0\nbob::6:0\n");
    uint8_t out[UD_PASSWORD_OUT_SIZE] = {};
    int32_t rid = -1;
    EXPECT_EQ(udGetPassword(W("e").data(), out, nullptr, &rid), 2);
    EXPECT_EQ(udGetUserRidByName(W("bob").data(), &rid), 1);
    EXPECT_EQ(rid, 6);
    EXPECT_EQ(udGetUserCount(), 2u) << "j (fields cut) and bob";
}

TEST_F(UsersTest, Passwords)
{
    const std::string lm = "00112233445566778899aabbccddeeff";
    const std::string nt = "FFEEDDCCBBAA99887766554433221100";
    setUsers("plain:secret:1:0\nhash1:" + lm + ":2:0\nhash2:" + lm + nt +
             ":-3:0\n"
             "bad:0011223344556677889900112233445z:4:0\nnone::5:0\n");
    const struct {
        const char *name;
        int result;
        int hashed;
        int32_t rid;
        std::string out;
    } cases[] = {
        {"PLAIN", 4, 0, 1, "secret"},
        {"hash1", 3, 1, 2,
         std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16)},
        {"hash2", 4, 1, -3,
         std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff"
                     "\xff\xee\xdd\xcc\xbb\xaa\x99\x88\x77\x66\x55\x44\x33\x22\x11\x00",
                     32)},
        {"bad", 2, 1, 4, ""},
        {"none", 4, 0, 5, ""},
        {"nobody", 2, -1, -100, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t out[UD_PASSWORD_OUT_SIZE] = {};
        int hashed = -1;
        int32_t rid = -100;
        EXPECT_EQ(udGetPassword(W(c.name).data(), out, &hashed, &rid), c.result);
        EXPECT_EQ(hashed, c.hashed);
        EXPECT_EQ(rid, c.rid);
        if (c.result >= 3) {
            EXPECT_EQ(std::string(reinterpret_cast<char *>(out), c.out.size() + 1), c.out + '\0');
        }
    }
    int32_t rid = 0;
    uint8_t out[UD_PASSWORD_OUT_SIZE];
    int hashed = 0;
    EXPECT_EQ(udGetPassword(W("Anonymous Logon").data(), out, &hashed, &rid), 1);
    EXPECT_EQ(rid, 666);
    std::filesystem::remove(path("pwd_list.txt"));
    EXPECT_EQ(udGetPassword(W("plain").data(), out, &hashed, &rid), 1);
}

int openDescriptors()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n;
}

// Every allocation a hook makes is failed in turn: the hook answers its
// failure value, throws nothing, leaves the file as it was and closes it.
TEST_F(UsersTest, RunningOutOfMemoryNeitherThrowsNorLeaks)
{
    const std::string before = "bob:pw:5:0\nann::6:0\n";
    // Arguments are made before any allocation is failed.
    const auto carl = W("carl");
    const auto longName = W("a-name-longer-than-a-short-string");
    const struct {
        const char *what;
        std::function<long()> call;
        long failed;
    } hooks[] = {
        {"create", [&] { return udCreateUser(carl.data(), nullptr, nullptr); }, 0},
        {"administrator", [] { return udSetUserAsAdministrator(5, 1); }, 0},
        {"printer owner", [] { return udSetUserAsPrinterOwner(6, 1); }, 0},
        {"delete", [] { return udDeleteUserByRid(6); }, 0},
        {"count", [] { return static_cast<long>(udGetUserCount()); }, 0},
        {"password",
         [&] {
             uint8_t out[UD_PASSWORD_OUT_SIZE];
             return udGetPassword(longName.data(), out, nullptr, nullptr);
         },
         2},
    };
    for (const auto &h : hooks) {
        for (int granted = 0; granted < 200; ++granted) {
            SCOPED_TRACE(testing::Message() << h.what << " after " << granted << " allocations");
            setUsers(before);
            int fds = openDescriptors();
            long result = -99;
            t_newsBeforeFailure = granted;
            EXPECT_NO_THROW(result = h.call());
            bool failed = t_newsBeforeFailure == -1;
            t_newsBeforeFailure = -1;
            if (!failed)
                break;  // every allocation was granted: nothing left to fail
            EXPECT_EQ(result, h.failed);
            EXPECT_EQ(users(), before);
            EXPECT_FALSE(exists(path("__temp__")));
            EXPECT_EQ(openDescriptors(), fds);
        }
    }
}

}  // namespace
