// Set levels, renames and deletes on a real folder: what changes on disk,
// what is notified, what is refused and what a refusal leaves alone.
#include "files_fixture.h"
#include "csinfo.h"

#include "fw_test/matchers.h"

#include <cstring>
#include <filesystem>

using namespace files_test;
using ::testing::Contains;

namespace {

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}
void put64(std::vector<uint8_t> &b, size_t at, uint64_t v)
{
    put32(b, at, uint32_t(v));
    put32(b, at + 4, uint32_t(v >> 32));
}

// A FILETIME of a time in seconds since 1970.
uint64_t fileTime(uint64_t seconds) { return (seconds + 11644473600ull) * 10000000ull; }

class InfoSetTest : public FilesTest {
protected:
    uint32_t set(const std::string &name, uint32_t level, std::vector<uint8_t> data, CSFile *file = nullptr,
                 const server_test::Client *who = nullptr)
    {
        path = W(name.empty() ? root.path() : root.file(name));
        const server_test::Client &c = who ? *who : alice;
        CSSetRequest r{c.user->uid, c.tree->tid, path.data(), level, data.data(), uint32_t(data.size())};
        return csSetFileInformationByName(file, &r);
    }
    CSFile *open(const std::string &name, uint16_t mode)
    {
        keep.push_back(W(root.file(name)));
        CSFile *file = nullptr;
        EXPECT_EQ(csOpenFile(keep.back().data(), alice.tree->tid, mode, nullptr, &file), 0u) << name;
        return file;
    }
    static std::vector<uint8_t> renameData(bool smb2, bool replace, const std::string &target)
    {
        size_t at = smb2 ? 20 : 12;
        std::vector<uint8_t> d(at + 2 * target.size(), 0);
        d[0] = replace;
        put32(d, smb2 ? 16 : 8, uint32_t(2 * target.size()));
        for (size_t i = 0; i < target.size(); ++i)
            d[at + 2 * i] = uint8_t(target[i]);
        return d;
    }
    size_t notifications() const
    {
        return size_t(std::count_if(gNeighbours.calls.begin(), gNeighbours.calls.end(),
                                    [](const std::string &c) { return c.rfind("notify", 0) == 0; }));
    }

    std::vector<CMWchar> path;
    std::vector<std::vector<CMWchar>> keep;
};

TEST_F(InfoSetTest, BasicTimesAndAttributes)
{
    write("f", "x");
    std::vector<uint8_t> basic(40, 0);
    ASSERT_EQ(set("f", 1004, basic), 0u);
    EXPECT_EQ(notifications(), 0u) << "nothing changed, nothing told";

    put64(basic, 16, fileTime(1000000000));  // last write
    ASSERT_EQ(set("f", 1004, basic), 0u);
    EXPECT_EQ(std::filesystem::last_write_time(root.file("f")).time_since_epoch().count() != 0, true);
    struct stat st;
    ASSERT_EQ(::stat(root.file("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
    EXPECT_THAT(gNeighbours.calls, Contains("notify " + root.file("f") + " 3 124"));

    std::vector<uint8_t> readOnly(40, 0);
    put32(readOnly, 32, 0x01);
    ASSERT_EQ(set("f", 0x101, readOnly), 0u);
    ASSERT_EQ(::stat(root.file("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    // A folder keeps taking files.
    std::filesystem::create_directory(root.file("d"));
    ASSERT_EQ(set("d", 1004, readOnly), 0u);
    ASSERT_EQ(::stat(root.file("d").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0200, 0u);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    std::vector<uint8_t> standard(22, 0);
    standard[20] = 0x01;
    ASSERT_EQ(set("d", 1, standard), 0u);
    ASSERT_EQ(::stat(root.file("d").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0200, 0u);
}

TEST_F(InfoSetTest, TimesOfAnOpenNameArePinned)
{
    write("f", "x");
    CSFile *file = open("f", 0x40);
    ASSERT_NE(file, nullptr);
    std::vector<uint8_t> basic(40, 0);
    put64(basic, 0, fileTime(500000000));
    put64(basic, 16, fileTime(600000000));
    ASSERT_EQ(set("f", 1004, basic, file), 0u);
    SYFileInformation info;
    ASSERT_EQ(syGetFileInformationByName(path.data(), &info), 0);
    uint8_t times[32];
    csWriteFileTimes(&info, csGetNameByNid(file->nid), times);
    EXPECT_EQ(std::memcmp(times, basic.data(), 8), 0) << "creation as set";
    EXPECT_EQ(std::memcmp(times + 16, basic.data() + 16, 8), 0) << "last write as set";
    EXPECT_EQ(std::memcmp(times + 24, basic.data() + 16, 8), 0) << "change follows the write";
    csReleaseFile(file->fid);
}

TEST_F(InfoSetTest, EndOfFileAndStandardSizes)
{
    write("f", "0123456789");
    std::vector<uint8_t> eof(8, 0);
    put64(eof, 0, 4);
    ASSERT_EQ(set("f", 1020, eof), 0u);
    EXPECT_EQ(read(root.file("f")), "0123");
    std::vector<uint8_t> standard(22, 0);
    put32(standard, 12, 6);
    ASSERT_EQ(set("f", 1, standard), 0u);
    EXPECT_EQ(std::filesystem::file_size(root.file("f")), 6u);
}

TEST_F(InfoSetTest, AllocationIsCheckedAgainstTheFreeSpace)
{
    write("f", "keep");
    std::vector<uint8_t> size(8, 0);
    put64(size, 0, ~0ull >> 1);
    EXPECT_EQ(set("f", 1019, size), 0xC000007Fu);
    put64(size, 0, 4096);
    EXPECT_EQ(set("f", 1019, size), 0u);
    EXPECT_EQ(read(root.file("f")), "keep");
    put64(size, 0, 0);
    EXPECT_EQ(set("f", 1019, size), 0u);
    EXPECT_EQ(read(root.file("f")), "");
}

TEST_F(InfoSetTest, LevelsAndShortDataAreRefused)
{
    write("f");
    EXPECT_EQ(set("f", 1014, std::vector<uint8_t>(8, 0)), 0xC00000BBu);
    EXPECT_EQ(set("f", 1004, std::vector<uint8_t>(20, 0)), 0xC000000Du);
    EXPECT_EQ(set("f", 1020, std::vector<uint8_t>(7, 0)), 0xC000000Du);
    EXPECT_EQ(set("missing", 1020, std::vector<uint8_t>(8, 0)), 0xC0000034u);
}

TEST_F(InfoSetTest, DispositionMarksTheNameAndTheLastCloseDeletes)
{
    write("f");
    std::vector<uint8_t> on = {1}, off = {0};
    EXPECT_EQ(set("f", 1013, on), 0xC000000Du) << "no handle";
    CSFile *plain = open("f", 0x42);
    EXPECT_EQ(set("f", 1013, on, plain), 0xC0000022u) << "opened without delete access";
    csReleaseFile(plain->fid);

    CSFile *file = open("f", 0x8842);
    ASSERT_EQ(set("f", 1013, on, file), 0u);
    EXPECT_TRUE(csFileMarkedForDeletion(path.data()));
    ASSERT_EQ(set("f", 1013, off, file), 0u);
    EXPECT_FALSE(csFileMarkedForDeletion(path.data()));
    ASSERT_EQ(set("f", 1013, on, file), 0u);
    csReleaseFile(file->fid);
    EXPECT_FALSE(exists(root.file("f")));
}

TEST_F(InfoSetTest, DispositionOfDirectoriesAndReadOnlyObjects)
{
    std::filesystem::create_directories(root.file("full/x"));
    std::filesystem::create_directory(root.file("empty"));
    std::vector<uint8_t> on = {1};
    CSFile *full = open("full", 0x8840);
    EXPECT_EQ(set("full", 1013, on, full), 0xC0000101u);
    csReleaseFile(full->fid);
    EXPECT_TRUE(exists(root.file("full/x")));
    // "." and ".." are no entries: an empty folder goes at its last close.
    CSFile *empty = open("empty", 0x8840);
    ASSERT_EQ(set("empty", 1013, on, empty), 0u);
    csReleaseFile(empty->fid);
    EXPECT_FALSE(exists(root.file("empty")));

    makeReadOnly(write("ro"));
    CSFile *ro = open("ro", 0x8840);
    EXPECT_EQ(set("ro", 1013, on, ro), 0xC0000121u);
    csReleaseFile(ro->fid);
}

TEST_F(InfoSetTest, DeletingNeedsTheRightToWriteTheShare)
{
    write("f", "stays");
    gNeighbours.canWrite = false;
    CSFile *file = open("f", 0x8844);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(set("f", 1013, {1}, file), 0xC0000005u);
    csReleaseFile(file->fid);
    EXPECT_EQ(read(root.file("f")), "stays");
}

// A pipe's record names no file: no level is set through it, though a file
// of that name stands where its path points.
TEST_F(InfoSetTest, PipesSetNothing)
{
    write("srvsvc", "0123456789");
    CSFile *pipe = open("srvsvc", 0x42);
    ASSERT_NE(pipe, nullptr);
    pipe->pipe = 1;
    std::vector<uint8_t> eof = {2, 0, 0, 0, 0, 0, 0, 0};
    for (uint32_t level : {0x104u, 1020u, 1010u})
        EXPECT_EQ(set("srvsvc", level, level == 1010 ? renameData(true, false, "moved") : eof, pipe), 0xC00000BBu)
            << level;
    EXPECT_EQ(read(root.file("srvsvc")), "0123456789");
    pipe->pipe = 0;
    csReleaseFile(pipe->fid);
}

TEST_F(InfoSetTest, RenameClassMovesTheFileAndItsOpenName)
{
    write("a.txt", "A");
    CSFile *file = open("a.txt", 0x8842);
    ASSERT_EQ(set("a.txt", 1010, renameData(true, false, "b.txt"), file), 0u);
    EXPECT_FALSE(exists(root.file("a.txt")));
    EXPECT_EQ(read(root.file("b.txt")), "A");
    EXPECT_EQ(A(csGetFileName(file->fid)), root.file("b.txt"));
    EXPECT_THAT(gNeighbours.calls, Contains("notify " + root.file("a.txt") + " 4 3"));
    csReleaseFile(file->fid);
    // Without an open name the file is renamed and that is all.
    ASSERT_EQ(set("b.txt", 1010, renameData(true, false, "c.txt")), 0u);
    EXPECT_EQ(read(root.file("c.txt")), "A");
    // The SMB1 layout on an SMB1 session.
    alice.session->dialect = CS_DIALECT_SMB1;
    ASSERT_EQ(set("c.txt", 1010, renameData(false, false, "d.txt")), 0u);
    EXPECT_EQ(read(root.file("d.txt")), "A");
    // There a bare name stays in the file's folder; a name with a path is
    // from the share's root; a bare dot or two name no file.
    std::filesystem::create_directory(root.file("sub"));
    write("sub/e.txt", "E");
    CSFile *inFolder = open("sub/e.txt", 0x8842);
    ASSERT_EQ(set("sub/e.txt", 1010, renameData(false, false, "f.txt"), inFolder), 0u);
    EXPECT_EQ(read(root.file("sub/f.txt")), "E");
    EXPECT_FALSE(exists(root.file("f.txt")));
    EXPECT_EQ(A(csGetFileName(inFolder->fid)), root.file("sub/f.txt"));
    csReleaseFile(inFolder->fid);
    ASSERT_EQ(set("sub/f.txt", 1010, renameData(false, false, "\\g.txt")), 0u);
    EXPECT_EQ(read(root.file("g.txt")), "E");
    write("sub/h.txt", "H");
    for (const char *dots : {".", ".."})
        EXPECT_EQ(set("sub/h.txt", 1010, renameData(false, false, dots)), 0xC0000033u) << dots;
    EXPECT_EQ(read(root.file("sub/h.txt")), "H");
}

TEST_F(InfoSetTest, ReplacingRenamesOverTheTargetInOneStep)
{
    write("a", "new");
    write("b", "old");
    EXPECT_EQ(set("a", 1010, renameData(true, false, "b")), 0xC0000035u);
    EXPECT_EQ(read(root.file("a")), "new");
    EXPECT_EQ(read(root.file("b")), "old");
    // A target outside the share: both files stay.
    write("../outside-target", "outside");
    EXPECT_EQ(set("a", 1010, renameData(true, true, "..\\outside-target")), 0xC000003Au);
    EXPECT_EQ(read(root.path() + "/../outside-target"), "outside");
    EXPECT_EQ(read(root.file("a")), "new");
    std::filesystem::remove(root.path() + "/../outside-target");
    // An open target is not replaced.
    CSFile *held = open("b", 0x40);
    EXPECT_EQ(set("a", 1010, renameData(true, true, "b")), 0xC0000022u);
    csReleaseFile(held->fid);
    ASSERT_EQ(set("a", 1010, renameData(true, true, "b")), 0u);
    EXPECT_FALSE(exists(root.file("a")));
    EXPECT_EQ(read(root.file("b")), "new");
}

TEST_F(InfoSetTest, RenameNamesInsideTheData)
{
    write("a");
    std::vector<uint8_t> d = renameData(true, false, "b");
    put32(d, 16, 4);
    EXPECT_EQ(set("a", 1010, d), 0xC000000Du);
    put32(d, 16, 0);
    EXPECT_EQ(set("a", 1010, d), 0xC0000033u);
    EXPECT_EQ(set("a", 1010, std::vector<uint8_t>(16, 0)), 0xC000000Du);
    EXPECT_TRUE(exists(root.file("a")));
}

TEST_F(InfoSetTest, WildcardRenames)
{
    write("abc.txt", "1");
    write("axe.txt", "2");
    write("other.txt", "3");
    std::vector<CMWchar> from = W(root.file("a*.txt")), to = W(root.file("b*.bak"));
    ASSERT_EQ(csRenameFile(alice.user, &share, 1, 0, from.data(), to.data()), 0u);
    EXPECT_EQ(read(root.file("bbc.bak")), "1");
    EXPECT_EQ(read(root.file("bxe.bak")), "2");
    EXPECT_TRUE(exists(root.file("other.txt")));
    // A new case of the same name, though that name exists.
    std::vector<CMWchar> lower = W(root.file("other.txt")), upper = W(root.file("OTHER.TXT"));
    EXPECT_EQ(csRenameFile(alice.user, &share, 1, 0, lower.data(), upper.data()), 0u);
    EXPECT_EQ(read(root.file("OTHER.TXT")), "3");
    std::vector<CMWchar> onto = W(root.file("bbc.bak"));
    EXPECT_EQ(csRenameFile(alice.user, &share, 1, 0, upper.data(), onto.data()), 0xC0000035u);
    std::vector<CMWchar> none = W(root.file("z*.txt"));
    EXPECT_EQ(csRenameFile(alice.user, &share, 1, 0, none.data(), to.data()), 0xC000000Fu);
}

TEST_F(InfoSetTest, DeleteMatchingFiles)
{
    write("a.txt");
    write("b.txt");
    write("keep.doc");
    std::vector<CMWchar> pattern = W(root.file("*.txt"));
    ASSERT_EQ(csDeleteMatchingFiles(&share, pattern.data(), 0), 0u);
    EXPECT_FALSE(exists(root.file("a.txt")));
    EXPECT_FALSE(exists(root.file("b.txt")));
    EXPECT_TRUE(exists(root.file("keep.doc")));
    EXPECT_EQ(csDeleteMatchingFiles(&share, pattern.data(), 0), 0xC000000Fu);
    // "*" walks "." and ".." first: they are the folder, not its files.
    std::vector<CMWchar> all = W(root.file("*"));
    ASSERT_EQ(csDeleteMatchingFiles(&share, all.data(), 0), 0u);
    EXPECT_FALSE(exists(root.file("keep.doc")));
    // Read-only and open files are refused.
    makeReadOnly(write("ro.txt"));
    EXPECT_EQ(csDeleteMatchingFiles(&share, pattern.data(), 0x02), 0xC0000022u);
    std::filesystem::remove(root.file("ro.txt"));
    write("open.txt");
    CSFile *held = open("open.txt", 0x40);
    EXPECT_EQ(csDeleteMatchingFiles(&share, pattern.data(), 0), 0xC0000022u);
    csReleaseFile(held->fid);
    EXPECT_TRUE(exists(root.file("open.txt")));
}

}  // namespace
