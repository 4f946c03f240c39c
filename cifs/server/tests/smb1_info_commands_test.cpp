// The SMB1 commands that query and change files, served one block at a
// time as the dispatcher hands them over: their answers, their refusals
// and what they leave on disk.
#include "files_fixture.h"

#include <sys/statfs.h>

#include <cstring>
#include <filesystem>

using namespace files_test;

namespace {

class Smb1InfoTest : public FilesTest {
protected:
    // One command of a table: what it does, its handler and its request.
    struct CommandCase {
        const char *what;
        CSCommandHandler handler;
        Request request;
    };
};

TEST_F(Smb1InfoTest, QueryInformationByName)
{
    write("dir/x", "");
    std::filesystem::create_directory(root.file("dir"));
    write("dir/f.txt", "12345");
    for (bool unicode : {false, true}) {
        ASSERT_EQ(serve(csComQueryInformation, {{}, {"dir\\f.txt"}, unicode}), 0u) << unicode;
        ASSERT_EQ(answer.size(), 23u);
        EXPECT_EQ(answer[0], 10);
        EXPECT_EQ(le16(&answer[1]) & 0x10, 0);
        EXPECT_EQ(le32(&answer[7]), 5u);
    }
    ASSERT_EQ(serve(csComQueryInformation, {{}, {"dir"}}), 0u);
    EXPECT_EQ(le16(&answer[1]) & 0x10, 0x10);
    EXPECT_EQ(le32(&answer[7]), 0u) << "a folder has no size";
    EXPECT_EQ(serve(csComQueryInformation, {{}, {"missing"}}), 0xC0000034u);
    EXPECT_EQ(serve(csComQueryInformation, {{1}, {"dir"}}), 0xC0000001u);
    EXPECT_EQ(serve(csComQueryInformation, {{}, {}, false, {4}}), 0xC0000001u) << "byte count below 2";
    EXPECT_EQ(serve(csComQueryInformation, {{}, {"..\\..\\etc"}}), 0xC0000034u);
}

TEST_F(Smb1InfoTest, QueryInformation2ByHandle)
{
    write("f", "abc");
    uint16_t fid = fidOf("f");
    ASSERT_EQ(serve(csComQueryInformation2, {{fid}, {}}), 0u);
    ASSERT_EQ(answer.size(), 25u);
    EXPECT_EQ(answer[0], 11);
    EXPECT_EQ(le32(&answer[13]), 3u);
    EXPECT_EQ(serve(csComQueryInformation2, {{0x4100}, {}}), 0xC0000008u);
    csGetNameByNid(csGetFileByJustFid(fid)->nid)->deleteOnClose = 1;
    EXPECT_EQ(serve(csComQueryInformation2, {{fid}, {}}), 0xC000000Fu);
    csReleaseFile(fid);
}

TEST_F(Smb1InfoTest, QueryInformationDiskCountsFitSixteenBits)
{
    ASSERT_EQ(serve(csComQueryInformationDisk, {{}, {}}), 0u);
    ASSERT_EQ(answer.size(), 13u);
    EXPECT_EQ(answer[0], 5);
    struct statfs fs;
    ASSERT_EQ(::statfs(root.path().c_str(), &fs), 0);
    uint64_t total = le16(&answer[1]), perUnit = le16(&answer[3]), bytes = le16(&answer[5]);
    uint64_t reported = total * perUnit * bytes, real = uint64_t(fs.f_blocks) * fs.f_bsize;
    EXPECT_LE(reported, real);
    EXPECT_GE(reported * 2 + perUnit * bytes * 2, real) << "rounded down by less than a unit";
}

TEST_F(Smb1InfoTest, SetInformationAttributesAndTime)
{
    write("f");
    std::filesystem::create_directory(root.file("d"));
    ASSERT_EQ(serve(csComSetInformation, {{0x01, 0xCA00, 0x3B9A, 0, 0, 0, 0, 0}, {"f"}}), 0u);
    EXPECT_EQ(answer, std::vector<uint8_t>({0, 0, 0}));
    struct stat st;
    ASSERT_EQ(::stat(root.file("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(st.st_mtime, 1000000000);
    // A folder stays a folder and never becomes read-only.
    ASSERT_EQ(serve(csComSetInformation, {{0x01, 0, 0, 0, 0, 0, 0, 0}, {"d"}}), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(root.file("d")));
    ASSERT_EQ(::stat(root.file("d").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0200, 0u);
    EXPECT_EQ(serve(csComSetInformation, {{0, 0, 0, 0, 0, 0, 0, 0}, {"missing\\x"}}), 0xC000003Au);
    gNeighbours.canWrite = false;
    EXPECT_EQ(serve(csComSetInformation, {{0x20, 0, 0, 0, 0, 0, 0, 0}, {"f"}}), 0xC0000005u);
}

TEST_F(Smb1InfoTest, NamesEndingAboveTheShareAreRefused)
{
    std::filesystem::create_directory(root.file("d"));
    struct stat before, after;
    ASSERT_EQ(::stat((root.path() + "/..").c_str(), &before), 0);
    for (const char *name : {"d\\..\\..", "..", "d\\..\\..\\"}) {
        EXPECT_NE(serve(csComSetInformation, {{0x00, 0, 0, 0, 0, 0, 0, 0}, {name}}), 0u) << name;
        EXPECT_NE(serve(csComQueryInformation, {{}, {name}}), 0u) << name;
        EXPECT_NE(serve(csComDeleteDirectory, {{}, {name}}), 0u) << name;
    }
    ASSERT_EQ(::stat((root.path() + "/..").c_str(), &after), 0);
    EXPECT_EQ(before.st_mode, after.st_mode);
    EXPECT_EQ(serve(csComCheckDirectory, {{}, {"d\\.."}}), 0u) << "the share root itself";
}

// IPC$ has no folder: with its empty path every name on it is one from the
// disk's root, which a guest reaches. Set information of "\" once gave
// "/" the mode 0766.
TEST_F(Smb1InfoTest, NamesOnIpcNeverReachTheDisk)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to chroot";
    fw_test::TempDir jail{"ipc-root"};
    std::filesystem::create_directory(jail.file("empty"));
    std::filesystem::create_directory(jail.file("d"));
    std::ofstream(jail.file("victim")) << "guard";
    ::chmod(jail.path().c_str(), 0755);
    ::chmod(jail.file("victim").c_str(), 0644);
    onIpc();
    const CommandCase cases[] = {
        {"set the root's attributes", csComSetInformation, {{0x20, 0, 0, 0, 0, 0, 0, 0}, {"\\"}}},
        {"set the root's attributes, no name", csComSetInformation, {{0x20, 0, 0, 0, 0, 0, 0, 0}, {""}}},
        {"make a file read-only", csComSetInformation, {{0x01, 0, 0, 0, 0, 0, 0, 0}, {"\\victim"}}},
        {"through a folder", csComSetInformation, {{0x01, 0, 0, 0, 0, 0, 0, 0}, {"\\d\\..\\victim"}}},
        {"query", csComQueryInformation, {{}, {"\\victim"}}},
        {"check a folder", csComCheckDirectory, {{}, {"\\d"}}},
        {"remove a folder", csComDeleteDirectory, {{}, {"\\empty"}}},
        {"rename", csComRename, {{0}, {"\\victim", "\\moved"}}},
        {"delete", csComDelete, {{0}, {"\\victim"}}},
        {"delete by pattern", csComDelete, {{0}, {"\\*"}}},
        {"list", csComSearch, {{10, 0x16}, {"\\*.*"}}},
    };
    std::vector<uint32_t> statuses = inJail(jail.path(), [&] {
        std::vector<uint32_t> out;
        for (const CommandCase &c : cases)
            out.push_back(serve(c.handler, c.request));
        return out;
    });
    ASSERT_EQ(statuses.size(), std::size(cases));
    for (size_t i = 0; i < statuses.size(); ++i)
        EXPECT_NE(statuses[i], 0u) << cases[i].what;
    struct stat st;
    ASSERT_EQ(::stat(jail.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat(jail.file("victim").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(read(jail.file("victim")), "guard");
    EXPECT_TRUE(exists(jail.file("empty")));
    EXPECT_FALSE(exists(jail.file("moved")));
}

// A printer share's path is its device: no command treats it as a folder.
TEST_F(Smb1InfoTest, PrinterSharesHaveNoFolder)
{
    write("lp0", "device");
    ::chmod(root.file("lp0").c_str(), 0644);
    CSShare printer{};
    setShare(printer, root.file("lp0"));
    printer.isPrinter = 1;
    alice.tree->share = &printer;
    const CommandCase cases[] = {
        {"set its attributes", csComSetInformation, {{0x01, 0, 0, 0, 0, 0, 0, 0}, {"\\"}}},
        {"query", csComQueryInformation, {{}, {""}}},
        {"delete", csComDelete, {{0}, {"\\"}}},
        {"rename", csComRename, {{0}, {"\\", "\\..\\moved"}}},
        {"list", csComSearch, {{10, 0x16}, {"\\*.*"}}},
    };
    for (const CommandCase &c : cases)
        EXPECT_EQ(serve(c.handler, c.request), 0xC0000022u) << c.what;
    struct stat st;
    ASSERT_EQ(::stat(root.file("lp0").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(read(root.file("lp0")), "device");
}

TEST_F(Smb1InfoTest, SetInformation2Times)
{
    write("f");
    uint16_t fid = fidOf("f");
    // 2001-09-09 01:46:40 local is not what matters: the words round-trip.
    uint16_t date = uint16_t((21 << 9) | (9 << 5) | 9), time = uint16_t((1 << 11) | (46 << 5) | 20);
    ASSERT_EQ(serve(csComSetInformation2, {{fid, date, time, date, time, date, time}, {}}), 0u);
    ASSERT_EQ(serve(csComQueryInformation2, {{fid}, {}}), 0u);
    EXPECT_EQ(le16(&answer[9]), date);
    EXPECT_EQ(le16(&answer[11]), time);
    csReleaseFile(fid);
    EXPECT_EQ(serve(csComSetInformation2, {{fid, 0, 0, 0, 0, 0, 0}, {}}), 0xC0000008u);
}

TEST_F(Smb1InfoTest, RenameWithUnicodeNames)
{
    write("old.txt", "content");
    ASSERT_EQ(serve(csComRename, {{0}, {"old.txt", "new.txt"}, true}), 0u);
    EXPECT_EQ(read(root.file("new.txt")), "content");
    ASSERT_EQ(serve(csComRename, {{0}, {"new.txt", "..\\escaped.txt"}}), 0xC000003Au);
    EXPECT_TRUE(exists(root.file("new.txt")));
    EXPECT_EQ(serve(csComRename, {{0}, {"new.txt"}}), 0xC0000033u) << "one name only";
}

TEST_F(Smb1InfoTest, DeleteByPattern)
{
    write("a.tmp");
    write("b.tmp");
    write("c.doc");
    ASSERT_EQ(serve(csComDelete, {{0}, {"*.tmp"}}), 0u);
    EXPECT_FALSE(exists(root.file("a.tmp")));
    EXPECT_TRUE(exists(root.file("c.doc")));
    EXPECT_EQ(serve(csComDelete, {{0}, {"*.tmp"}}), 0xC000000Fu);
    gNeighbours.canWrite = false;
    EXPECT_EQ(serve(csComDelete, {{0}, {"c.doc"}}), 0xC0000005u);
    EXPECT_TRUE(exists(root.file("c.doc")));
}

TEST_F(Smb1InfoTest, DeleteDirectory)
{
    std::filesystem::create_directories(root.file("full/x"));
    std::filesystem::create_directory(root.file("empty"));
    std::filesystem::create_directory(root.file("open"));
    write("file");
    EXPECT_EQ(serve(csComDeleteDirectory, {{}, {""}}), 0xC0000101u) << "the share root";
    EXPECT_EQ(serve(csComDeleteDirectory, {{}, {"\\"}}), 0xC0000101u) << "the share root";
    EXPECT_EQ(serve(csComDeleteDirectory, {{}, {"full"}}), 0xC0000101u);
    EXPECT_TRUE(exists(root.file("full/x")));
    EXPECT_EQ(serve(csComDeleteDirectory, {{}, {"file"}}), 0xC000003Au);
    EXPECT_EQ(serve(csComDeleteDirectory, {{}, {"missing"}}), 0xC000000Fu);
    ASSERT_EQ(serve(csComDeleteDirectory, {{}, {"empty"}}), 0u);
    EXPECT_FALSE(exists(root.file("empty")));
    uint16_t fid = fidOf("open", 0x40);
    ASSERT_EQ(serve(csComDeleteDirectory, {{}, {"open"}}), 0u);
    EXPECT_TRUE(exists(root.file("open"))) << "removed at its last close";
    csReleaseFile(fid);
    EXPECT_FALSE(exists(root.file("open")));
    csDispatchSetNtError(0);
    EXPECT_EQ(serve(csComDeleteDirectory, {{}, {"full"}}), 0x00910001u);
}

TEST_F(Smb1InfoTest, CheckDirectory)
{
    std::filesystem::create_directory(root.file("d"));
    write("f");
    EXPECT_EQ(serve(csComCheckDirectory, {{}, {"d"}}), 0u);
    EXPECT_EQ(serve(csComCheckDirectory, {{}, {"f"}}), 0xC0000033u);
    EXPECT_EQ(serve(csComCheckDirectory, {{}, {"missing"}}), 0xC000000Fu);
    EXPECT_EQ(serve(csComCheckDirectory, {{}, {"missing\\deeper"}}), 0xC000003Au);
    gNeighbours.canRead = false;
    EXPECT_EQ(serve(csComCheckDirectory, {{}, {"d"}}), 0xC0000005u);
}

}  // namespace

// "IPC$" has no folder (its names are pipes) and a printer's path is its
// device: a name on either is no host path. Before, "\\" on "IPC$" was the
// host's "/", and SET_INFORMATION gave it a folder's mode 0766.
TEST_F(Smb1InfoTest, NamesOnSharesWithoutAFolderReachNoHostFile)
{
    std::filesystem::create_directory(root.file("d"));
    write("f", "12345");
    ::chmod(root.file("d").c_str(), 0755);
    ::chmod(root.file("f").c_str(), 0644);
    auto wire = [](std::string path) {
        for (char &c : path)
            if (c == '/')
                c = '\\';
        return path;
    };
    CSShare printer{};
    setShare(printer, root.path());
    printer.isPrinter = 1;
    printer.debugLevel = 0;
    struct Case {
        const char *share;
        std::string d, f;
    };
    const Case cases[] = {{"IPC$", wire(root.file("d")), wire(root.file("f"))}, {"printer", "d", "f"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.share);
        alice.tree->share = std::string(c.share) == "IPC$" ? csGetShareByName(W("IPC$").data()) : &printer;
        ASSERT_NE(alice.tree->share, nullptr);
        EXPECT_NE(serve(csComSetInformation, {{0x20, 0, 0, 0, 0, 0, 0, 0}, {c.d}}), 0u);
        EXPECT_NE(serve(csComSetInformation, {{0x01, 0, 0, 0, 0, 0, 0, 0}, {c.f}}), 0u);
        EXPECT_NE(serve(csComDelete, {{0}, {c.f}}), 0u);
        EXPECT_NE(serve(csComRename, {{0}, {c.f, c.f + ".moved"}}), 0u);
        EXPECT_NE(serve(csComDeleteDirectory, {{}, {c.d}}), 0u);
        EXPECT_NE(serve(csComCheckDirectory, {{}, {c.d}}), 0u);
        struct stat st;
        ASSERT_EQ(::stat(root.file("d").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u);
        ASSERT_EQ(::stat(root.file("f").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u);
        EXPECT_EQ(read(root.file("f")), "12345");
        EXPECT_FALSE(exists(root.file("f.moved")));
    }
}
