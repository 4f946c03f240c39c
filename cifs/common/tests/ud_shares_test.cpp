// Shares in cs_cfg.txt, mounts in cc_cfg.txt, descriptors in share_sd.txt.
#include "ud_test_env.h"

#include <sys/stat.h>

using namespace testenv;

namespace {

class SharesTest : public HookTest {
protected:
    std::string shares() { return readFile(path("cs_cfg.txt")); }
    void setShares(const std::string &text) { writeFile(path("cs_cfg.txt"), text); }

    int save(const char *oldName, const std::string &name, const std::string &dir, const std::string &comment)
    {
        auto o = W(oldName != nullptr ? oldName : "");
        return udSaveShareInformation(oldName != nullptr ? o.data() : nullptr, W(name).data(), W(dir).data(),
                                      W(comment).data());
    }

    // Every share of one enumeration as "name|path|comment".
    std::vector<std::string> enumerate()
    {
        std::vector<std::string> out;
        uint16_t name[UD_SHARE_NAME_SIZE], dir[UD_SHARE_PATH_SIZE], comment[UD_SHARE_COMMENT_SIZE];
        int printer = -1;
        while (udGetNextShare(name, dir, &printer, comment) == 1) {
            EXPECT_EQ(printer, 0);
            out.push_back(A(name) + "|" + A(dir) + "|" + A(comment));
        }
        return out;
    }
};

TEST_F(SharesTest, EnumerationAddsDefaultShareOnce)
{
    setShares("Music;/mnt/music;My music\n# comment\nbroken line\n  Docs ;/mnt/docs;\r\n");
    using V = std::vector<std::string>;
    EXPECT_EQ(enumerate(),
              (V{"Music|/mnt/music|My music", "Docs |/mnt/docs|", "C$|/var/run/cifs/|Default share"}));
    EXPECT_EQ(enumerate(), (V{"Music|/mnt/music|My music", "Docs |/mnt/docs|"}));
}

// A byte from 0x80 up cuts a line short; what follows it is no share.
TEST_F(SharesTest, HighByteDropsTheLineNotSplitsIt)
{
    setShares("M\xc3\xbasica;/mnt/usb;Music\nOk;/srv;caf\xc3\xa9;x;/etc;y\nLast;/x;z\n");
    using V = std::vector<std::string>;
    EXPECT_EQ(enumerate(), (V{"Ok|/srv|caf", "Last|/x|z", "C$|/var/run/cifs/|Default share"}));
}

TEST_F(SharesTest, NoShareFileMeansNoShareAtAll) { EXPECT_TRUE(enumerate().empty()); }

TEST_F(SharesTest, WritersRefuseDuringEnumeration)
{
    setShares("Music;/mnt/music;x\n");
    uint16_t name[UD_SHARE_NAME_SIZE], dir[UD_SHARE_PATH_SIZE], comment[UD_SHARE_COMMENT_SIZE];
    int printer;
    ASSERT_EQ(udGetNextShare(name, dir, &printer, comment), 1);
    EXPECT_EQ(save(nullptr, "New", "/mnt/new", ""), 0);
    EXPECT_EQ(udRemoveShare(W("Music").data()), 0);
    EXPECT_EQ(shares(), "Music;/mnt/music;x\n");
}

TEST_F(SharesTest, RemoveMatchesWholeName)
{
    setShares("Music;/a;x\nMusic2;/b;y\n");
    EXPECT_EQ(udRemoveShare(W("Music").data()), 1);
    EXPECT_EQ(shares(), "Music2;/b;y\n");
    std::filesystem::remove(path("cs_cfg.txt"));
    EXPECT_EQ(udRemoveShare(W("Music2").data()), 1);
    EXPECT_FALSE(exists(path("cs_cfg.txt")));
}

TEST_F(SharesTest, RenameMovesLineLastAndKeepsComments)
{
    setShares("# shares\nMusic;/a;x\nPhotos;/p;y\n");
    EXPECT_EQ(save("Music", "Songs", "/a", "x"), 1);
    EXPECT_EQ(shares(), "# shares\nPhotos;/p;y\nSongs;/a;x\n");
    EXPECT_FALSE(exists(path("__temp__")));
}

TEST_F(SharesTest, AddAppendsOnlyToAnExistingFile)
{
    EXPECT_EQ(save(nullptr, "Music", "/a", "x"), 1);
    EXPECT_FALSE(exists(path("cs_cfg.txt")));
    // A last line without its line end must not swallow the new one.
    setShares("Photos;/p;y");
    EXPECT_EQ(save(nullptr, "Music", "/a", "x"), 1);
    EXPECT_EQ(shares(), "Photos;/p;y\nMusic;/a;x\n");
}

TEST_F(SharesTest, LongLinesAreCopiedWhole)
{
    std::string longLine = "Big;/" + std::string(300, 'd') + ";" + std::string(200, 'c') + "\n";
    setShares(longLine + "Music;/a;x\n");
    EXPECT_EQ(save("Music", "Music", "/b", "y"), 1);
    EXPECT_EQ(shares(), longLine + "Music;/b;y\n");
}

TEST_F(SharesTest, TextThatWouldNotReadBackIsRefused)
{
    setShares("Music;/a;x\n");
    const struct {
        std::string name, dir, comment;
    } cases[] = {
        {"", "/a", "x"},
        {"Evil\nAdmin", "/", "x"},
        {"Semi;colon", "/a", "x"},
        {"#Hidden", "/a", "x"},
        {" Lead", "/a", "x"},
        {std::string(64, 'n'), "/a", "x"},
        {"Ok", "/a;b", "x"},
        {"Ok", " /a", "x"},
        {"Ok", "/a\r", "x"},
        {"Ok", "/caf\xe9", "x"},
        {"Ok", "/" + std::string(499, 'p'), "x"},
        {"Ok", "/a", "two\nlines"},
        {"Ok", "/a", std::string(250, 'c')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name + "|" + c.dir + "|" + c.comment);
        EXPECT_EQ(save(nullptr, c.name, c.dir, c.comment), 0);
        EXPECT_EQ(save("Music", c.name, c.dir, c.comment), 0);
    }
    EXPECT_EQ(shares(), "Music;/a;x\n");
    // The longest fields that read back are taken, and read back unchanged.
    std::string name(63, 'n'), dir = "/" + std::string(498, 'p'), comment(249, 'c');
    EXPECT_EQ(save(nullptr, name, dir, "semi;colons ok " + comment.substr(15)), 1);
    auto all = enumerate();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1], name + "|" + dir + "|semi;colons ok " + comment.substr(15));
}

TEST_F(SharesTest, MountsEnumerateAndStartAgain)
{
    uint16_t a[UD_MOUNT_TEXT_SIZE], b[UD_MOUNT_TEXT_SIZE];
    EXPECT_EQ(udGetNextMount(a, b), 0);
    writeFile(path("cc_cfg.txt"), "# mounts\n/dev/sda1;/mnt/usb;extra\nnosemicolon\n/dev/sdb1;/mnt/b\n");
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(udGetNextMount(a, b), 1);
        EXPECT_EQ(A(a), "/dev/sda1");
        EXPECT_EQ(A(b), "/mnt/usb");
        ASSERT_EQ(udGetNextMount(a, b), 1);
        EXPECT_EQ(A(a), "/dev/sdb1");
        EXPECT_EQ(A(b), "/mnt/b");
        EXPECT_EQ(udGetNextMount(a, b), 0);
    }
}

class ShareSdTest : public HookTest {
protected:
    static std::vector<uint8_t> descriptor(size_t n)
    {
        std::vector<uint8_t> sd(n);
        for (size_t i = 0; i < n; ++i)
            sd[i] = static_cast<uint8_t>(i * 37 + 1);
        return sd;
    }
    std::string file() { return readFile(path("share_sd.txt")); }
};

TEST_F(ShareSdTest, RecordLayout)
{
    auto sd = descriptor(20);
    sd[0] = 0xAB;
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("Music").data(), sd.data(), 20), 0);
    std::string f = file();
    ASSERT_EQ(f.size(), 860u);
    EXPECT_EQ(f.substr(0, 5), "Music");
    EXPECT_EQ(f.substr(5, 251), std::string(251, '\0'));
    EXPECT_EQ(f.substr(256, 2), ";;");
    EXPECT_EQ(f.substr(258, 2), "ab");
    std::string hex = f.substr(258, 40);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(f.substr(298, 560), std::string(560, '\0'));
    EXPECT_EQ(f.substr(858, 2), "\x0a\x0d");

    uint8_t buf[512];
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("Music").data(), buf, sizeof buf), 20u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 20), sd);
}

TEST_F(ShareSdTest, RewriteInPlaceAndAppend)
{
    auto a = descriptor(40), b = descriptor(10), c = descriptor(299);
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("A").data(), a.data(), 40), 0);
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("B").data(), a.data(), 40), 0);
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("A").data(), b.data(), 10), 0);
    EXPECT_EQ(file().size(), 1720u);
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("C").data(), c.data(), 299), 0);
    uint8_t buf[512];
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("A").data(), buf, sizeof buf), 10u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 10), b);
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("B").data(), buf, sizeof buf), 40u);
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("C").data(), buf, sizeof buf), 299u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 299), c);
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("D").data(), buf, sizeof buf), 0u);
    // An empty descriptor is stored and loads as none.
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("A").data(), nullptr, 0), 0);
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("A").data(), buf, sizeof buf), 0u);
}

TEST_F(ShareSdTest, DescriptorsThatCannotLoadBackAreRefused)
{
    auto sd = descriptor(301);
    EXPECT_EQ(udSaveShareSecurityDescriptor(W("A").data(), sd.data(), 300), -1);
    EXPECT_EQ(udSaveShareSecurityDescriptor(W("A").data(), sd.data(), 301), -1);
    EXPECT_EQ(udSaveShareSecurityDescriptor(W(std::string(256, 'n')).data(), sd.data(), 4), -1);
    EXPECT_EQ(udSaveShareSecurityDescriptor(W("").data(), sd.data(), 4), -1);
    EXPECT_FALSE(exists(path("share_sd.txt")));
    EXPECT_EQ(udSaveShareSecurityDescriptor(W(std::string(255, 'n')).data(), sd.data(), 4), 0);
    uint8_t buf[8];
    EXPECT_EQ(udLoadShareSecurityDescriptor(W(std::string(255, 'n')).data(), buf, sizeof buf), 4u);
}

TEST_F(ShareSdTest, LoadFailures)
{
    auto sd = descriptor(20);
    uint8_t buf[16];
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("A").data(), buf, sizeof buf), 0u);
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("A").data(), sd.data(), 20), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("A").data(), buf, sizeof buf), 0u);
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("A").data(), buf, 0), 0u);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "UDCONFIG - Buffer overflow while loading share SD\n"
                   "UDCONFIG - Buffer overflow while loading share SD\n");

    std::string f = file();
    f[258 + 6] = 'x';
    writeFile(path("share_sd.txt"), f);
    testing::internal::CaptureStdout();
    uint8_t big[64];
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("A").data(), big, sizeof big), 0u);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("UDCONFIG - Non-hexadecimal character found in Share SD file: x", 0), 0u);
}

TEST_F(ShareSdTest, TornRecordAtTheEndIsOverwritten)
{
    auto sd = descriptor(8);
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("A").data(), sd.data(), 8), 0);
    writeFile(path("share_sd.txt"), file() + "torn");
    ASSERT_EQ(udSaveShareSecurityDescriptor(W("B").data(), sd.data(), 8), 0);
    EXPECT_EQ(file().size(), 1720u);
    uint8_t buf[16];
    EXPECT_EQ(udLoadShareSecurityDescriptor(W("B").data(), buf, sizeof buf), 8u);
}

}  // namespace
