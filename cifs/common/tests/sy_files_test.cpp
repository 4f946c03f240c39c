// Files and directories by UTF-16 names through the access-control library.
#include "fw_test/matchers.h"
#include "syfiles.h"

#include "fw_test/temp_dir.h"
#include "zmo_acl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using fw_test::HasSubstr;

namespace fs = std::filesystem;

namespace {

// UTF-16 of a UTF-8 text (the test's own small encoder: no surrogates needed
// beyond those written by hand).
std::vector<CMWchar> U(const std::string &utf8)
{
    std::vector<CMWchar> out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = utf8[i];
        uint32_t cp;
        int n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            n = 2;
        } else {
            cp = c & 0x0F;
            n = 3;
        }
        for (int k = 1; k < n; ++k)
            cp = cp << 6 | (utf8[i + k] & 0x3F);
        out.push_back(static_cast<CMWchar>(cp));
        i += n;
    }
    out.push_back(0);
    return out;
}

struct Call {
    std::string call, path;
    int error;
};

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(syInit(), 1);
        zmo_acl_set_log_hook(
            [](void *ctx, const char *call, const char *path, const char *, int, int error) {
                static_cast<std::vector<Call> *>(ctx)->push_back({call, path ? path : "", error});
            },
            &calls);
    }
    void TearDown() override
    {
        zmo_acl_set_log_hook(nullptr, nullptr);
        zmo_acl_inject_error(nullptr, nullptr, 0, 0);
        syStop();
    }

    std::vector<CMWchar> name(const std::string &leaf) { return U(dir + "/" + leaf); }
    std::string path(const std::string &leaf) { return dir + "/" + leaf; }

    int makeFile(const std::string &leaf, const std::string &content = "")
    {
        int fd = syCreateFile(name(leaf).data(), 0, 0, 0);
        if (fd >= 0 && !content.empty())
            EXPECT_EQ(syWriteFile(fd, content.data(), static_cast<uint32_t>(content.size())),
                      static_cast<int>(content.size()));
        return fd;
    }

    fw_test::TempDir tmp{"syfiles"};
    std::string dir = tmp.path();
    std::vector<Call> calls;
};

TEST_F(FilesTest, NamesReachTheDiskAsUtf8ThroughTheLibrary)
{
    const std::string leaf = "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.txt";
    int fd = makeFile(leaf, "hello");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(syCloseFile(fd), 0);
    EXPECT_TRUE(fs::exists(path(leaf)));

    fd = syOpenFileForRead(name(leaf).data());
    ASSERT_GE(fd, 0);
    char buf[16] = {};
    EXPECT_EQ(syReadFile(fd, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "hello");
    syCloseFile(fd);
    syCloseFile(syOpenFileForWrite(name(leaf).data()));
    syCloseFile(syOpenFileForReadWrite(name(leaf).data()));

    SYFileInformation info;
    EXPECT_EQ(syGetFileInformationByName(name(leaf).data(), &info), 0);
    EXPECT_EQ(syCreateDirectory(name("d\xc3\xbc").data()), 0);
    EXPECT_EQ(syRenameFile(name(leaf).data(), name("d\xc3\xbc/moved").data()), 0);
    EXPECT_TRUE(fs::exists(path("d\xc3\xbc/moved")));
    EXPECT_EQ(syDeleteFile(name("d\xc3\xbc/moved").data()), 0);
    EXPECT_EQ(syDeleteDirectory(name("d\xc3\xbc").data()), 0);
    EXPECT_TRUE(fs::is_empty(dir));

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"open", path(leaf)},         {"open", path(leaf)},
        {"open", path(leaf)},         {"open", path(leaf)},
        {"stat", path(leaf)},         {"mkdir", path("d\xc3\xbc")},
        {"rename", path(leaf)},       {"unlink", path("d\xc3\xbc/moved")},
        {"rmdir", path("d\xc3\xbc")},
    };
    ASSERT_EQ(calls.size(), expected.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].call, expected[i].first) << i;
        EXPECT_EQ(calls[i].path, expected[i].second) << i;
        EXPECT_EQ(calls[i].error, 0) << i;
    }
}

TEST_F(FilesTest, FailedConversionNeverActsOnThePreviousName)
{
    int fd = makeFile("victim");
    ASSERT_GE(fd, 0);
    syCloseFile(fd);
    SYFileInformation info;
    ASSERT_EQ(syGetFileInformationByName(name("victim").data(), &info), 0);
    calls.clear();

    std::vector<CMWchar> lone = name("x");
    lone[lone.size() - 2] = 0xD800;  // an unpaired surrogate
    testing::internal::CaptureStdout();
    EXPECT_EQ(syDeleteFile(lone.data()), -1);
    EXPECT_EQ(syDeleteDirectory(lone.data()), -1);
    EXPECT_EQ(syOpenFileForRead(lone.data()), -1);
    EXPECT_EQ(syRenameFile(lone.data(), name("stolen").data()), -1);
    EXPECT_EQ(syRenameFile(name("victim").data(), lone.data()), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("!! Unable to convert UTF-16LE to UTF-8 (iconv failed with errno"));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(fs::exists(path("victim")));

    // More than the name buffer holds.
    std::vector<CMWchar> wide = name(std::string(700, 'x'));
    for (auto &u : wide)
        if (u == 'x')
            u = 0x65E5;  // three UTF-8 bytes each
    testing::internal::CaptureStdout();
    errno = 0;
    EXPECT_EQ(syDeleteFile(wide.data()), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(calls.empty());
}

TEST_F(FilesTest, StreamNamesAreRefusedBeforeConversion)
{
    errno = 0;
    EXPECT_EQ(syCreateFile(name("file:stream").data(), 0, 0, 0), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_TRUE(calls.empty());
}

TEST_F(FilesTest, LibraryRefusalComesBackAsErrno)
{
    int fd = makeFile("locked");
    syCloseFile(fd);
    zmo_acl_inject_error("open", "locked", EACCES, 1);
    errno = 0;
    EXPECT_EQ(syOpenFileForRead(name("locked").data()), -1);
    EXPECT_EQ(errno, EACCES);
    zmo_acl_inject_error("unlink", nullptr, EIO, 1);
    EXPECT_EQ(syDeleteFile(name("locked").data()), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(fs::exists(path("locked")));
}

TEST_F(FilesTest, ModeToDosAttributes)
{
    const struct {
        uint32_t mode, attr;
    } cases[] = {
        {0100644, 0x80}, {0100744, 0x20}, {0100444, 0x01}, {0100544, 0x21}, {040644, 0x10},  {040755, 0x30},
        {040444, 0x11},  {040555, 0x31},  {0100200, 0x80}, {0100020, 0x80}, {0100002, 0x80}, {0100000, 0x01},
    };
    for (const auto &c : cases)
        EXPECT_EQ(syUnixMode2DosAttr(c.mode), c.attr) << std::oct << c.mode;
}

TEST_F(FilesTest, Seeks)
{
    int fd = makeFile("seek", std::string(100, 'x'));
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sySeekFileStart(fd, 10, 0), 10);
    EXPECT_EQ(sySeekFileCurrent(fd, 5, 0), 15);
    EXPECT_EQ(sySeekFileCurrent(fd, static_cast<uint32_t>(-7), 0), 8);
    EXPECT_EQ(sySeekFileEnd(fd, static_cast<uint32_t>(-20), 0), 80);
    EXPECT_EQ(sySeekFileEnd(fd, static_cast<uint32_t>(-500), 0), 0);
    EXPECT_EQ(sySeekFileStart(fd, 0, 1), int64_t{1} << 32);
    syCloseFile(fd);
    EXPECT_EQ(sySeekFileEnd(fd, 0, 0), -1);
}

// Offsets at the ends of the 64-bit range must fail or clamp, never wrap.
TEST_F(FilesTest, SeeksToExtremeOffsets)
{
    int fd = makeFile("far", "");
    ASSERT_GE(fd, 0);
    const struct {
        bool fromEnd;
        uint32_t low, high;
        int64_t expected;
    } cases[] = {
        {false, 0x80000000u, 0x80000000u, -1},  // below the start
        {false, 0x7FFFFFFFu, 0x7FFFFFFFu, 0x7FFFFFFF7FFFFFFFll},
        {true, 0x80000000u, 0x80000000u, 0},  // before the start: clamped
        {true, 0xFFFFFFFFu, 0xFFFFFFFFu, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.fromEnd << " " << std::hex << c.high << ":" << c.low);
        ASSERT_EQ(sySeekFileStart(fd, 0, 0), 0);
        int64_t got = c.fromEnd ? sySeekFileEnd(fd, c.low, c.high) : sySeekFileCurrent(fd, c.low, c.high);
        // A far position may be refused by the file system; never a wrapped one.
        if (c.expected > 0 && got == -1)
            continue;
        EXPECT_EQ(got, c.expected);
    }
    // From the end of a file past 2^31 bytes: the sum overflows 64 bits.
    ASSERT_EQ(ftruncate(fd, int64_t{1} << 32), 0);
    EXPECT_EQ(sySeekFileEnd(fd, 0x7FFFFFFFu, 0x7FFFFFFFu), -1);
    EXPECT_EQ(errno, EOVERFLOW);
    syCloseFile(fd);
}

TEST_F(FilesTest, Truncate)
{
    int fd = makeFile("size", std::string(100, 'x'));
    ASSERT_GE(fd, 0);
    const struct {
        uint32_t size;
        off_t expected;
    } steps[] = {{100, 100}, {40, 40}, {5000, 5000}, {0, 0}};
    for (const auto &s : steps) {
        EXPECT_EQ(syTruncateFile(fd, s.size, 0), 0);
        struct stat st;
        fstat(fd, &st);
        EXPECT_EQ(st.st_size, s.expected);
    }
    syCloseFile(fd);
    EXPECT_EQ(syTruncateFile(fd, 1, 0), -1);
}

TEST_F(FilesTest, InformationFromStat)
{
    int fd = makeFile("info", std::string(3000, 'x'));
    ASSERT_GE(fd, 0);
    // Access earlier than modification and change: it is the creation time.
    struct timespec times[2] = {{1000000000, 250000000}, {1500000000, 0}};
    ASSERT_EQ(futimens(fd, times), 0);
    SYFileInformation info;
    ASSERT_EQ(syGetFileInformation(fd, nullptr, &info), 0);
    struct stat64 st;
    fstat64(fd, &st);
    auto u64 = [](const CMUint64 &v) { return (uint64_t{v.high} << 32) | v.low; };
    EXPECT_EQ(u64(info.creationTime), 1000000000250ull);
    EXPECT_EQ(u64(info.lastAccessTime), 1000000000250ull);
    EXPECT_EQ(u64(info.lastWriteTime), 1500000000000ull);
    EXPECT_EQ(u64(info.lastChangeTime), 1500000000000ull);
    EXPECT_EQ(u64(info.endOfFile), 3000u);
    EXPECT_EQ(u64(info.allocationSize), static_cast<uint64_t>(st.st_blocks) * 512);
    EXPECT_EQ(info.isDirectory, 0u);
    EXPECT_EQ(info.fileIdLow, static_cast<uint32_t>(st.st_ino));
    syCloseFile(fd);

    ASSERT_EQ(syCreateDirectory(name("sub").data()), 0);
    ASSERT_EQ(syGetFileInformationByName(name("sub").data(), &info), 0);
    EXPECT_EQ(info.isDirectory, 1u);
    EXPECT_EQ(info.attributes & 0x10, 0x10u);
    EXPECT_EQ(u64(info.endOfFile), 0u);
    EXPECT_EQ(u64(info.allocationSize), 0u);
    EXPECT_EQ(syGetFileInformationByName(name("missing").data(), &info), -1);
    EXPECT_EQ(errno, ENOENT);

    CMUint64 ms;
    struct timespec t {
        4294968, 999999999
    };
    syConvertTimeSpecToTimeInMsec(&ms, &t);
    EXPECT_EQ(u64(ms), 4294968999ull);
}

TEST_F(FilesTest, SetInformation)
{
    int fd = makeFile("attrs", "x");
    ASSERT_GE(fd, 0);
    struct timespec times[2] = {{1200000000, 0}, {1300000000, 0}};
    futimens(fd, times);
    syCloseFile(fd);
    calls.clear();

    SYFileInformation info{};
    info.attributes = SY_ATTR_READONLY | SY_ATTR_ARCHIVE;
    EXPECT_EQ(sySetFileInformation(name("attrs").data(), -1, &info), 0);
    struct stat st;
    stat(path("attrs").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0544u);
    EXPECT_EQ(st.st_atime, 1200000000);  // both times 0: unchanged
    EXPECT_EQ(st.st_mtime, 1300000000);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].call, "open");

    info.attributes = SY_ATTR_NORMAL;
    uint64_t modify = 1400000000123ull;
    info.lastChangeTime = CMUint64{static_cast<uint32_t>(modify), static_cast<uint32_t>(modify >> 32)};
    fd = open(path("attrs").c_str(), O_RDONLY);
    EXPECT_EQ(sySetFileInformation(nullptr, fd, &info), 0);
    EXPECT_NE(fcntl(fd, F_GETFD), -1);  // a given descriptor stays open
    close(fd);
    stat(path("attrs").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(st.st_atime, 1200000000);
    EXPECT_EQ(st.st_mtime, 1400000000);

    EXPECT_EQ(sySetFileInformation(name("missing").data(), -1, &info), -1);
}

// Writing back what was read changes no mode, though the attribute mapping
// is lossy: a folder keeps its search rights, a file its narrower rights.
TEST_F(FilesTest, SetInformationWritesBackWhatWasRead)
{
    syCloseFile(makeFile("plain", "x"));
    ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
    struct {
        const char *leaf;
        mode_t mode;
    } cases[] = {{"plain", 0644}, {"plain", 0744}, {"plain", 0444}, {"plain", 0600},
                 {"folder", 0755}, {"folder", 0555}, {"folder", 0711}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.leaf) + " " + std::to_string(c.mode));
        ASSERT_EQ(chmod(path(c.leaf).c_str(), c.mode), 0);
        SYFileInformation info{};
        ASSERT_EQ(syGetFileInformationByName(name(c.leaf).data(), &info), 0);
        EXPECT_EQ(sySetFileInformation(name(c.leaf).data(), -1, &info), 0);
        struct stat st;
        ASSERT_EQ(stat(path(c.leaf).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
    }
    // A real change still maps as before.
    SYFileInformation info{};
    ASSERT_EQ(syGetFileInformationByName(name("folder").data(), &info), 0);
    info.attributes |= SY_ATTR_READONLY;
    ASSERT_EQ(chmod(path("folder").c_str(), 0755), 0);
    EXPECT_EQ(sySetFileInformation(name("folder").data(), -1, &info), 0);
    struct stat st;
    ASSERT_EQ(stat(path("folder").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0544u);
}

TEST_F(FilesTest, DirectoryListing)
{
    for (const char *leaf : {"a", "b\xc3\xa9", "c"})
        syCloseFile(makeFile(leaf));
    // A name on disk that is not UTF-8 cannot be named by a client.
    close(open(path("bad\xff").c_str(), O_CREAT | O_WRONLY, 0600));
    calls.clear();

    SYDirectory d = nullptr;
    const CMWchar *entry = nullptr;
    std::set<std::vector<CMWchar>> seen;
    testing::internal::CaptureStdout();
    int r = syFirstDirectoryFile(U(dir).data(), &d, &entry);
    ASSERT_NE(d, nullptr);
    while (r == 0 && entry != nullptr) {
        const CMWchar *e = entry;
        std::vector<CMWchar> copy;
        while (*e != 0)
            copy.push_back(*e++);
        copy.push_back(0);
        seen.insert(copy);
        r = syNextDirectoryFile(d, &entry);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "!! Unable to convert UTF-8 to UTF-16LE (iconv failed with errno " + std::to_string(EILSEQ) +
                  ")\n");
    EXPECT_EQ(r, 0);
    EXPECT_EQ(entry, nullptr);
    std::set<std::vector<CMWchar>> expected = {U("."), U(".."), U("a"), U("b\xc3\xa9"), U("c")};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(syCloseDirectory(d), 0);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].call, "opendir");
    EXPECT_EQ(calls[0].path, dir);
    EXPECT_TRUE(
        std::all_of(calls.begin() + 1, calls.end(), [](const Call &c) { return c.call == "readdir"; }));

    // A read error is not the end of the directory.
    d = syOpenDirectory(U(dir).data());
    ASSERT_NE(d, nullptr);
    zmo_acl_inject_error("readdir", nullptr, EIO, 1);
    entry = U(".").data();
    EXPECT_EQ(syNextDirectoryFile(d, &entry), -1);
    EXPECT_EQ(entry, nullptr);
    syCloseDirectory(d);

    EXPECT_EQ(syFirstDirectoryFile(name("missing").data(), &d, &entry), -1);
    EXPECT_EQ(d, nullptr);
}

TEST_F(FilesTest, EmptyNameListsRoot)
{
    calls.clear();
    SYDirectory d = nullptr;
    const CMWchar *entry = nullptr;
    const CMWchar empty[] = {0};
    EXPECT_EQ(syFirstDirectoryFile(empty, &d, &entry), 0);
    ASSERT_NE(d, nullptr);
    EXPECT_NE(entry, nullptr);
    syCloseDirectory(d);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].path, "/");
}

TEST_F(FilesTest, VolumeInformation)
{
    SYVolumeInformation vol;
    ASSERT_EQ(syGetVolumeInformation(U(dir).data(), &vol), 0);
    struct statfs64 st;
    statfs64(dir.c_str(), &st);
    EXPECT_EQ(vol.serialNumber, 0u);
    EXPECT_EQ(vol.fileSystemId, 1u);
    EXPECT_EQ(vol.sectorsPerUnit, 1u);
    EXPECT_EQ(vol.bytesPerSector, static_cast<uint32_t>(st.f_bsize));
    EXPECT_EQ(vol.totalUnits.low, static_cast<uint32_t>(st.f_blocks));
    EXPECT_EQ(vol.totalUnits.high, 0u);
    EXPECT_EQ(vol.freeUnits.high, 0u);
    EXPECT_EQ(syGetVolumeInformation(name("missing").data(), &vol), -1);
}

TEST_F(FilesTest, WriteWaitsOnBusyDescriptor)
{
    int p[2];
    ASSERT_EQ(pipe2(p, O_NONBLOCK), 0);
    std::string data(300000, 'z');
    std::string got;
    std::thread reader([&] {
        char buf[4096];
        while (got.size() < data.size()) {
            int n = syReadFile(p[0], buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, n);
        }
    });
    EXPECT_EQ(syWriteFile(p[1], data.data(), static_cast<uint32_t>(data.size())),
              static_cast<int>(data.size()));
    reader.join();
    EXPECT_EQ(got, data);
    close(p[1]);
    char c;
    EXPECT_EQ(syReadFile(p[0], &c, 1), 0);
    close(p[0]);
}

TEST_F(FilesTest, TextConversions)
{
    char utf8[16];
    EXPECT_EQ(syUnicodeToUTF8N(utf8, U("d\xc3\xa9j\xc3\xa0").data(), sizeof utf8), 0);
    EXPECT_STREQ(utf8, "d\xc3\xa9j\xc3\xa0");
    CMWchar wide[8];
    EXPECT_EQ(syUTF8ToUnicodeN(wide, "d\xc3\xa9j\xc3\xa0", sizeof wide), 0);
    EXPECT_EQ(std::vector<CMWchar>(wide, wide + 5), U("d\xc3\xa9j\xc3\xa0"));
    EXPECT_EQ(syUTF8ToUnicodeN(wide, "far too long for this", sizeof wide), -1);
    EXPECT_EQ(wide[0], 0);
}

}  // namespace

// Where a name leads: the file system's own answer (realpath) where all of
// it is there, the written tail where it is not.
TEST_F(FilesTest, ResolvedNamesFollowEveryLink)
{
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.c_str(), real), nullptr);
    const std::string r = real;
    ASSERT_EQ(mkdir(path("d").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(path("d/e").c_str(), 0700), 0);
    syCloseFile(makeFile("d/f"));
    for (auto [link, target] : std::initializer_list<std::pair<const char *, std::string>>{
             {"rel", "d/e"},
             {"abs", r + "/d"},
             {"chain", "rel"},
             {"up", "d/.."},
             {"dangling", "d/none"},
             {"root", "/"},
             {"self", "."},
             {"loop1", "loop2"},
             {"loop2", "loop1"},
             {"d/back", "../abs/e"},
         })
        ASSERT_EQ(symlink(target.c_str(), path(link).c_str()), 0) << link;

    struct Case {
        std::string name;
        int result;
        std::string leadsTo;
    } cases[] = {
        {"d/f", 1, r + "/d/f"},
        {"d/./e/../f", 1, r + "/d/f"},
        {"rel", 1, r + "/d/e"},
        {"rel/..", 1, r + "/d"},  // the link's folder's parent, not the name's
        {"abs/e", 1, r + "/d/e"},
        {"chain/new", 0, r + "/d/e/new"},
        {"up", 1, r},
        {"dangling", 0, r + "/d/none"},
        {"dangling/x/../y", 0, r + "/d/none/y"},
        {"root/..", 1, "/"},
        {"self/self/d/back", 1, r + "/d/e"},
        {"missing/x", 0, r + "/missing/x"},
        // Once the missing part is taken away again, links are followed.
        {"missing/../rel", 0, r + "/d/e"},
        {"missing/x/../../rel/y", 0, r + "/d/e/y"},
    };
    std::array<char, PATH_MAX> out;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(syResolveName(name(c.name).data(), out.data(), uint32_t(out.size())), c.result);
        EXPECT_EQ(std::string(out.data()), c.leadsTo);
        if (c.result == 1) {
            char kernel[PATH_MAX];
            ASSERT_NE(realpath(path(c.name).c_str(), kernel), nullptr);
            EXPECT_EQ(std::string(out.data()), kernel);
        }
    }

    errno = 0;
    EXPECT_EQ(syResolveName(name("loop1/x").data(), out.data(), uint32_t(out.size())), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(std::string(out.data()), "");
    // No room for the answer.
    EXPECT_EQ(syResolveName(name("d/f").data(), out.data(), 8), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(syResolveName(name("d").data(), out.data(), 1), -1);
    EXPECT_EQ(syResolveName(nullptr, out.data(), uint32_t(out.size())), -1);

    // A relative name starts from the current folder.
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(path("d").c_str()), 0);
    int result = syResolveName(U("../rel/x").data(), out.data(), uint32_t(out.size()));
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::string(out.data()), r + "/d/e/x");
}
