// Query levels on a real folder: layouts and sizes per level, names
// relative to the share, directories, pipes, the byte limit, and the
// file-system levels.
#include "files_fixture.h"
#include "csinfo.h"

#include "fw_test/bytes.h"

#include <cstring>
#include <filesystem>

using namespace files_test;

namespace {

const uint8_t kSmb1Header[4] = {0xFF, 'S', 'M', 'B'};
const uint8_t kSmb2Header[4] = {0xFE, 'S', 'M', 'B'};

uint32_t le32(const uint8_t *p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

class InfoQueryTest : public FilesTest {
protected:
    uint32_t query(const std::string &name, uint32_t level, const uint8_t *header = kSmb1Header,
                   uint32_t limit = sizeof out, CSFile *file = nullptr)
    {
        std::memset(out, 0xAA, sizeof out);
        q = CSQueryContext{};
        q.header = header;
        q.parameters = out;
        q.room = limit;
        path = W(name.empty() ? root.path() : root.file(name));
        return csQueryFileInformationByName(file, path.data(), cmWStrlen(share.path), level, 1, limit, &q);
    }
    std::string name(uint32_t at) const
    {
        std::string s;
        for (uint32_t i = 0; i < le32(q.data + at); i += 2)
            s.push_back(char(q.data[at + 4 + i]));
        return s;
    }

    uint8_t out[512];
    CSQueryContext q{};
    std::vector<CMWchar> path;
};

TEST_F(InfoQueryTest, EachLevelHasItsSize)
{
    write("docs/a.txt", "");
    std::filesystem::create_directory(root.file("docs"));
    write("docs/a.txt", "12345");
    struct Case {
        uint32_t level;
        uint32_t parameters, data;
    } cases[] = {
        {1, 0, 22},
        {2, 0, 26},
        {3, 0, 4},
        {4, 0, 4},
        {6, 0, 0},
        {0x101, 2, 40},
        {1004, 2, 40},
        {0x102, 2, 24},
        {1005, 2, 24},
        {0x103, 2, 4},
        {1007, 2, 4},
        {0x104, 2, 4 + 22},
        {1009, 2, 4 + 22},
        {0x105, 2, 8},
        {0x106, 2, 8},
        {1006, 2, 8},
        {0x107, 2, 72 + 20},
        {1018, 2, 72 + 20},
        {0x108, 2, 4 + 20 + 2},
        {1021, 2, 4 + 20 + 2},
        {1034, 2, 56},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(query("docs/a.txt", c.level), 0u) << c.level;
        EXPECT_EQ(q.parameterCount, c.parameters) << c.level;
        EXPECT_EQ(q.dataCount, c.data) << c.level;
    }
    ASSERT_EQ(query("docs/a.txt", 1018, kSmb2Header), 0u);
    EXPECT_EQ(q.dataCount, 100u + 20u);
    EXPECT_EQ(name(96), "docs\\a.txt");
    ASSERT_EQ(query("docs/a.txt", 0x104), 0u);
    EXPECT_EQ(name(0), "\\docs\\a.txt");
    // Parameters: the EA error offset and the two filler bytes; none for level 1.
    ASSERT_EQ(query("docs/a.txt", 0x106), 0u);
    EXPECT_EQ(fw_test::to_hex(out, 12), "00000001"
                                        "0500000000000000");
    ASSERT_EQ(query("docs/a.txt", 1), 0u);
    EXPECT_EQ(q.data, out + 2);
    EXPECT_EQ(le32(q.data + 12), 5u);
}

TEST_F(InfoQueryTest, TheShareRootIsABackslash)
{
    for (uint32_t level : {0x104u, 0x107u, 0x108u}) {
        ASSERT_EQ(query("", level), 0u) << level;
        uint32_t at = level == 0x107 ? 68 : 0;
        EXPECT_EQ(le32(q.data + at), 2u) << level;
        EXPECT_EQ(name(at), "\\") << level;
    }
}

TEST_F(InfoQueryTest, DirectoriesHaveNoEndOfFile)
{
    std::filesystem::create_directory(root.file("d"));
    ASSERT_EQ(query("d", 0x102), 0u);
    EXPECT_EQ(le32(q.data + 8), 0u);
    EXPECT_EQ(q.data[21], 1);
    ASSERT_EQ(query("d", 0x107), 0u);
    EXPECT_EQ(le32(q.data + 48), 0u);
    EXPECT_EQ(q.data[61], 1);
    write("f", "abc");
    ASSERT_EQ(query("f", 0x102), 0u);
    EXPECT_EQ(le32(q.data + 8), 3u);
    EXPECT_EQ(q.data[21], 0);
}

TEST_F(InfoQueryTest, LimitsLevelsAndMissingFilesAreRefused)
{
    write("f", "abc");
    EXPECT_EQ(query("f", 0x101, kSmb1Header, 2 + 2 + 39), 0xC0000001u);
    EXPECT_EQ(out[0], 0xAA) << "nothing written";
    EXPECT_EQ(query("f", 0x101, kSmb1Header, 2 + 2 + 40), 0u);
    EXPECT_EQ(out[44], 0xAA) << "nothing past the limit";
    for (uint32_t level : {0u, 5u, 0x109u, 1008u, 1040u})
        EXPECT_EQ(query("f", level), 0xC00000BBu) << level;
    EXPECT_EQ(query("missing", 0x101), 0xC0000034u);
}

TEST_F(InfoQueryTest, PipesReportTheirOwnInformation)
{
    CSFile pipe{};
    pipe.pipe = 1;
    pipe.fd = -1;
    ASSERT_EQ(query("srvsvc", 0x102, kSmb1Header, sizeof out, &pipe), 0u);
    EXPECT_EQ(le32(q.data), 0x10050u);
    EXPECT_EQ(q.data[20], 1) << "delete pending";
}

TEST_F(InfoQueryTest, FileSystemLevels)
{
    cmWStrcpy(share.name, W("DATA").data());
    struct Case {
        uint32_t level, unicode, size;
    } cases[] = {{1, 1, 18},    {2, 1, 5 + 8},  {2, 0, 5 + 4},  {0x102, 1, 18 + 8}, {0x103, 1, 24},
                 {0x104, 1, 8}, {0x105, 1, 20}, {0x105, 0, 18}, {0x107, 1, 32}};
    for (const Case &c : cases) {
        q = CSQueryContext{};
        q.parameters = out;
        q.room = sizeof out;
        ASSERT_EQ(csQueryFsInformation(&share, c.level, c.unicode, &q), 0u) << c.level;
        EXPECT_EQ(q.dataCount, c.size) << c.level;
        EXPECT_EQ(q.parameterCount, 0u);
    }
    q.room = sizeof out;
    ASSERT_EQ(csQueryFsInformation(&share, 0x104, 1, &q), 0u);
    EXPECT_EQ(fw_test::to_hex(out, 8), "0700000020000000");
    ASSERT_EQ(csQueryFsInformation(&share, 0x105, 1, &q), 0u);
    EXPECT_EQ(fw_test::to_hex(out, 20), "03000000"
                                        "00020000"
                                        "08000000"
                                        "4e00540046005300");
    q.room = 7;
    EXPECT_EQ(csQueryFsInformation(&share, 0x104, 1, &q), 0xC0000023u);
    q.room = sizeof out;
    EXPECT_EQ(csQueryFsInformation(&share, 0x106, 1, &q), 0xC00000BBu);
}

}  // namespace
