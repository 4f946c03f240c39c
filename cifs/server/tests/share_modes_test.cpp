// Open modes from NT access and sharing, the modes the table has no row
// for, and every cell of the sharing table, checked through csOpenFile
// against the table's text.
#include "files_fixture.h"

#include <array>
#include <fstream>
#include <map>

using namespace files_test;

namespace {

TEST(OpenModeTest, NtAccessAndSharingBecomeOneMode)
{
    struct Case {
        uint32_t access, share;
        uint16_t mode;
    } cases[] = {
        {0x00000080, 0, 0x0844},  // read attributes only: no data, deny none, others may delete
        {0x00100100, 3, 0x0844},  // write attributes and synchronize
        {0xC0000000, 1, 0x0022},  // generic read and write, share read
        {0x00010000, 0, 0x8844},  // delete only: no data, sharing forced to deny none
        {0x10000000, 7, 0x8842},  // generic all: read/write and delete, share all
        {0x80000000, 2, 0x0030},  // generic read, share write: deny read
        {0x20000000, 3, 0x0844},  // generic execute: execute adds no data access
        {0x00000001, 3, 0x0040},  // read data
        {0x00000002, 0, 0x00F1},  // write data, no sharing: FCB
        {0x00000004, 4, 0x08F1},  // append: write; no sharing but delete
        {0x00000005, 3, 0x0042},  // read and append: read/write
        {0x00000006, 1, 0x0021},  // write and append: write
        {0x00020080, 1, 0x0020},  // read control and attributes: attributes read as data
        {0x00010080, 1, 0x8020},  // delete and read attributes: a read open
    };
    for (const Case &c : cases)
        EXPECT_EQ(csAccessToOpenMode(c.access, c.share), c.mode) << std::hex << c.access << " " << c.share;
}

TEST(OpenModeTest, SharingAndAccessTheTableLacksAreRefused)
{
    for (unsigned sharing = 0; sharing < 16; ++sharing)
        for (unsigned access = 0; access < 16; ++access) {
            bool sharingKnown = sharing <= 4 || (sharing >= 8 && sharing <= 0xC) || sharing == 0xF;
            bool accessKnown = access <= 4 || access == 0xF;
            EXPECT_EQ(csOpenModeIsValid(uint16_t(sharing << 4 | access)), sharingKnown && accessKnown ? 1 : 0)
                << sharing << " " << access;
        }
    EXPECT_EQ(csOpenModeIsValid(0x8842), 1);
}

// The table as its text gives it: per existing (sharing, access) and new
// sharing, 16 characters (new access major, then the four user cases).
class ShareTableText {
public:
    ShareTableText()
    {
        std::ifstream in(CS_SHARE_MODES_TXT);
        std::string line;
        bool header = false;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] != '|')
                continue;
            std::vector<std::string> cells = split(line);
            if (!header) {
                header = true;
                continue;
            }
            std::string label = cells[0];
            std::string sharing = label.substr(0, label.find(", "));
            std::string access = label.substr(label.find(", ") + 2);
            std::vector<std::string> accesses = {access};
            if (access == "any access")
                accesses = {"read/write", "read", "write", "execute"};
            else if (access == "read/write, read or write")
                accesses = {"read/write", "read", "write"};
            for (const std::string &a : accesses)
                rows[{sharing, a}] = std::vector<std::string>(cells.begin() + 1, cells.end());
        }
    }
    // '0', '1', '2' or 'x'.
    char cell(const std::string &sharing, const std::string &access, unsigned newSharing, unsigned newAccess,
              unsigned userCase) const
    {
        const std::string &text = rows.at({sharing, access}).at(newSharing);
        std::string compact;
        for (char c : text)
            if (c != ' ')
                compact.push_back(c);
        return compact.at(newAccess * 4 + userCase);
    }
    size_t size() const { return rows.size(); }

private:
    static std::vector<std::string> split(const std::string &line)
    {
        std::vector<std::string> out;
        size_t start = 1;
        for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1) {
            std::string cell = line.substr(start, bar - start);
            size_t b = cell.find_first_not_of(' '), e = cell.find_last_not_of(' ');
            out.push_back(b == std::string::npos ? "" : cell.substr(b, e - b + 1));
        }
        return out;
    }
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> rows;
};

class ShareTableTest : public FilesTest {};

TEST_F(ShareTableTest, EveryCellGrantsWhatTheTableSays)
{
    ShareTableText table;
    ASSERT_EQ(table.size(), 24u);
    const std::array<std::pair<const char *, uint16_t>, 6> sharings = {{{"compatibility", 0x00},
                                                                        {"deny all", 0x10},
                                                                        {"deny write", 0x20},
                                                                        {"deny read", 0x30},
                                                                        {"deny none", 0x40},
                                                                        {"FCB", 0xF0}}};
    const std::array<std::pair<const char *, uint16_t>, 4> accesses = {
        {{"read/write", 2}, {"read", 0}, {"write", 1}, {"execute", 3}}};
    std::vector<CMWchar> plain = W(write("plain.txt")), program = W(write("tool.exe"));
    unsigned checked = 0;
    for (const auto &es : sharings)
        for (const auto &ea : accesses)
            for (unsigned ns = 0; ns < 6; ++ns)
                for (unsigned na = 0; na < 4; ++na)
                    for (unsigned userCase = 0; userCase < 4; ++userCase) {
                        bool sameUser = userCase < 2, executable = userCase % 2;
                        CMWchar *path = executable ? program.data() : plain.data();
                        uint16_t existing = es.second | ea.second;
                        uint16_t mode = sharings[ns].second | accesses[na].second;
                        CSFile *first = nullptr, *second = nullptr;
                        ASSERT_EQ(csOpenFile(path, alice.tree->tid, existing, nullptr, &first), 0u);
                        uint16_t granted = 0xFFFF;
                        const CSTree *tree = sameUser ? alice.tree : bob.tree;
                        uint32_t status = csOpenFile(path, tree->tid, mode, &granted, &second);
                        char want = table.cell(es.first, ea.first, ns, na, userCase);
                        std::string where = std::string(es.first) + ", " + ea.first + " / " +
                                            sharings[ns].first + ", " + accesses[na].first + " / case " +
                                            std::to_string(userCase);
                        if (want == 'x') {
                            EXPECT_EQ(status, 0xC0000043u) << where;
                            EXPECT_EQ(second, nullptr) << where;
                        } else {
                            EXPECT_EQ(status, 0u) << where;
                            EXPECT_EQ(granted, uint16_t(want - '0')) << where;
                            if (second)
                                csReleaseFile(second->fid);
                        }
                        csReleaseFile(first->fid);
                        ++checked;
                    }
    EXPECT_EQ(checked, 24u * 24u * 4u);
    EXPECT_EQ(csGetFilesCount(), 0u);
    EXPECT_EQ(csGetUniqueFilesCount(), 0u);
}

TEST_F(ShareTableTest, TheHighSharingBitIsNotLookedAt)
{
    std::vector<CMWchar> path = W(write("f.txt"));
    for (uint16_t sharing = 0; sharing <= 0x40; sharing += 0x10) {
        CSFile *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
        uint16_t low = 0, high = 0;
        uint32_t plainStatus = 0, highStatus = 0;
        ASSERT_EQ(csOpenFile(path.data(), alice.tree->tid, sharing | 0x2, nullptr, &a), 0u);
        plainStatus = csOpenFile(path.data(), bob.tree->tid, 0x40, &low, &b);
        if (b)
            csReleaseFile(b->fid);
        csReleaseFile(a->fid);
        ASSERT_EQ(csOpenFile(path.data(), alice.tree->tid, uint16_t((sharing + 0x80) | 0x2), nullptr, &c),
                  0u);
        highStatus = csOpenFile(path.data(), bob.tree->tid, 0xC0, &high, &d);
        if (d)
            csReleaseFile(d->fid);
        csReleaseFile(c->fid);
        EXPECT_EQ(plainStatus, highStatus) << sharing;
        EXPECT_EQ(low, high) << sharing;
    }
}

TEST_F(ShareTableTest, RawModesTheTableLacksAreRefusedBeforeIt)
{
    std::vector<CMWchar> path = W(write("f.txt"));
    CSFile *held = nullptr;
    ASSERT_EQ(csOpenFile(path.data(), alice.tree->tid, 0x42, nullptr, &held), 0u);
    for (uint16_t mode : {0x50, 0x62, 0x70, 0xD0, 0xE1, 0x45, 0x4E, 0x49}) {
        CSFile *file = nullptr;
        EXPECT_EQ(csOpenFile(path.data(), bob.tree->tid, mode, nullptr, &file), 0xC000000Du) << mode;
        EXPECT_EQ(file, nullptr);
        std::vector<CMWchar> fresh = W(root.file("new" + std::to_string(mode)));
        EXPECT_EQ(csCreateFile(0, fresh.data(), alice.tree->tid, mode, &file), 0xC000000Du) << mode;
        EXPECT_FALSE(exists(A(fresh.data())));
    }
    csDispatchSetNtError(0);
    CSFile *file = nullptr;
    EXPECT_EQ(csOpenFile(path.data(), bob.tree->tid, 0x50, nullptr, &file), 0x000C0001u);
    csReleaseFile(held->fid);
    EXPECT_EQ(csGetFilesCount(), 0u);
}

}  // namespace
