// Share-relative SMB names to local paths.
#include "cmpath.h"
#include "cmstring.h"

#include <gtest/gtest.h>

#include "failing_new.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<CMWchar> w(const std::string &s)
{
    std::vector<CMWchar> v(s.size() + 1);
    cmAnsiToUnicode(v.data(), s.c_str());
    return v;
}

std::string narrow(const CMWchar *s)
{
    std::string out(cmWStrlen(s), 0);
    cmUnicodeToAnsi(&out[0], s);
    return out;
}

TEST(Path, SharePathJoins)
{
    struct {
        const char *share, *name;
        int wildcards;
        const char *result;  // null: refused
    } cases[] = {
        {"/mnt/disk", "\\dir\\file.txt", 0, "/mnt/disk/dir/file.txt"},
        {"/mnt/disk", "dir\\", 0, "/mnt/disk/dir"},
        {"/mnt/disk", "dir\\file", 0, "/mnt/disk/dir/file"},
        {"/mnt/disk/", "\\a", 0, "/mnt/disk/a"},
        {"/mnt/disk", "", 0, "/mnt/disk"},
        {"/mnt/disk", "\\", 0, "/mnt/disk"},
        {"/mnt/disk", "dir\\*.txt", 0, nullptr},
        {"/mnt/disk", "dir\\*.txt", 1, "/mnt/disk/dir/*.txt"},
        {"/mnt/disk", "a?b", 0, nullptr},
        {"/mnt/disk", "a\"b", 0, nullptr},
        {"/mnt/disk", "a<b", 0, nullptr},
        {"/mnt/disk", "d*r\\file", 0, "/mnt/disk/d*r/file"},  // only the last component is checked
        {nullptr, "\\dir\\x", 0, "/dir/x"},
        {"", "", 0, ""},  // an IPC share's empty path and an empty name
        {"\\PIPE\\", "srvsvc", 0, nullptr},
    };
    for (auto &c : cases) {
        CMWchar out[CM_PATH_BUFFER];
        auto share = c.share ? w(c.share) : std::vector<CMWchar>();
        auto name = w(c.name);
        CMWchar *r = cmCifsNtohFilename(out, c.share ? share.data() : nullptr, name.data(), 1, c.wildcards);
        if (!c.result) {
            EXPECT_EQ(r, nullptr) << c.name;
            continue;
        }
        ASSERT_EQ(r, out) << c.name;
        EXPECT_EQ(narrow(out), c.result);
        // The 8-bit form of the name gives the same.
        CMWchar out8[CM_PATH_BUFFER];
        ASSERT_EQ(cmCifsNtohFilename(out8, c.share ? share.data() : nullptr, c.name, 0, c.wildcards), out8);
        EXPECT_EQ(narrow(out8), c.result);
    }
}

TEST(Path, LongNamesStayInTheBuffer)
{
    auto share = w("/mnt/disk");  // 9 characters
    CMWchar out[CM_PATH_BUFFER + 8];
    for (auto &u : out)
        u = 0xEEEE;
    std::string fits(512 - 9 - 1, 'a');
    ASSERT_NE(cmCifsNtohFilename(out, share.data(), fits.c_str(), 0, 0), nullptr);
    EXPECT_EQ(cmWStrlen(out), 512u);
    EXPECT_EQ(out[CM_PATH_BUFFER], 0xEEEE) << "nothing past the 513 units";

    std::string edge(512 - 9, 'b');  // one more than fits with the separator: cut
    ASSERT_NE(cmCifsNtohFilename(out, share.data(), edge.c_str(), 0, 0), nullptr);
    EXPECT_LE(cmWStrlen(out), 512u);
    EXPECT_EQ(out[CM_PATH_BUFFER], 0xEEEE);

    std::string tooLong(513 - 9, 'c');
    EXPECT_EQ(cmCifsNtohFilename(out, share.data(), tooLong.c_str(), 0, 0), nullptr);
}

TEST(Path, SlashHelpersAndPipePrefix)
{
    auto p = w("/a/b/c.txt");
    EXPECT_EQ(narrow(cmCifsExtractFilenameFromFullName(p.data())), "c.txt");
    auto bare = w("file");
    EXPECT_EQ(cmCifsExtractFilenameFromFullName(bare.data()), bare.data());
    cmCifsHtonFilename(p.data());
    EXPECT_EQ(narrow(p.data()), "\\a\\b\\c.txt");
    EXPECT_EQ(cmCifsInit(), 0);
    cmCifsExit();
    cmCifsExit();  // twice is harmless
}

TEST(Path, OutOfMemoryIsARefusalNotAnException)
{
    auto share = w("/mnt/disk");
    CMWchar out[CM_PATH_BUFFER];
    CMWchar *result = out;
    errno = 0;
    t_newsBeforeFailure = 0;
    EXPECT_NO_THROW(result = cmCifsNtohFilename(out, share.data(), "dir\\file", 0, 0));
    t_newsBeforeFailure = -1;
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_NE(cmCifsNtohFilename(out, share.data(), "dir\\file", 0, 0), nullptr) << "and works again";
}

}  // namespace
