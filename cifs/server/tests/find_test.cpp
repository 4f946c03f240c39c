// Directory listings: entry layouts per level, the walk over a search with
// its pending entry, SMB2 QUERY_DIRECTORY behind its header, FIND_FIRST2 and
// FIND_NEXT2 behind their transaction, FIND_CLOSE2 and SEARCH.
#include "files_fixture.h"
#include "csfind.h"

#include <filesystem>
#include <map>
#include <set>

using namespace files_test;

namespace {

class FindTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        std::filesystem::create_directory(root.file("d"));
    }
    // A directory handle of alice's on d.
    CSFile *directory()
    {
        keep.push_back(W(root.file("d")));
        CSFile *file = nullptr;
        EXPECT_EQ(csOpenFile(keep.back().data(), alice.tree->tid, 0x40, nullptr, &file), 0u);
        if (file)
            file->isDirectory = 1;
        return file;
    }
    uint32_t query(CSFile *file, const std::string &pattern, uint8_t flags = 0, uint32_t room = sizeof out,
                   uint8_t informationClass = 37)
    {
        std::vector<CMWchar> p = W(pattern);
        length = 0;
        return csQueryDirectoryEntries(file, alice.tree->tid, alice.user->uid, informationClass, flags,
                                       p.data(), uint32_t(pattern.size()), out, room, &length);
    }
    // The names of FileIdBothDirectoryInformation entries in out.
    std::vector<std::string> names() const
    {
        std::vector<std::string> all;
        for (uint32_t at = 0; at < length;) {
            uint32_t next = le32(out + at), nameLength = le32(out + at + 60);
            std::string name;
            for (uint32_t i = 0; i < nameLength; i += 2)
                name.push_back(char(out[at + 104 + i]));
            all.push_back(name);
            if (!next)
                break;
            at += next;
        }
        return all;
    }

    uint8_t out[4096];
    uint32_t length = 0;
};

TEST_F(FindTest, EntriesHaveTheirLevelsSizes)
{
    write("d/abc", "12345");
    std::vector<CMWchar> path = W(root.file("d/abc"));
    SYFileInformation info;
    ASSERT_EQ(syGetFileInformationByName(path.data(), &info), 0);
    struct Case {
        uint32_t level, fixed;
    } cases[] = {{1, 23},     {2, 27},      {3, 27},     {0x101, 64}, {1001, 64},
                 {0x102, 68}, {1002, 68},   {0x103, 12}, {1012, 12},  {0x104, 94},
                 {1003, 94},  {0x105, 80},  {1038, 80},  {0x106, 104}, {1037, 104}};
    for (const Case &c : cases)
        for (uint32_t unicode : {0u, 1u}) {
            uint8_t buffer[256];
            uint8_t *position = buffer, *last = nullptr;
            uint32_t room = sizeof buffer;
            ASSERT_EQ(
                csFillFindEntry(path.data(), &info, &position, c.level, 1, unicode, buffer, &room, 0, &last),
                0u)
                << c.level;
            // Only the standard level pads a UTF-16 name to 2; the EA-size
            // levels put it right after its length byte.
            bool padded = c.level == 1 && unicode;
            bool standard = c.level <= 3;
            uint32_t fixed = c.fixed + (padded ? 1 : 0);
            // A UTF-16 name of the standard levels ends with a terminator
            // that its length byte leaves out: two bytes in level 1, one in
            // the EA-size levels, as clients walk them.
            uint32_t terminator = standard && unicode ? (c.level == 1 ? 2 : 1) : 0;
            uint32_t size = fixed + (unicode ? 6 : 4) + terminator;
            EXPECT_EQ(uint32_t(position - buffer), size) << c.level << " " << unicode;
            EXPECT_EQ(room, sizeof buffer - size);
            EXPECT_EQ(last, buffer);
            EXPECT_EQ(buffer[fixed], 'a') << c.level << " " << unicode << ": the name starts there";
            if (standard) {
                EXPECT_EQ(buffer[fixed - 1 - (padded ? 1 : 0)], unicode ? 6 : 4) << c.level << " length byte";
                EXPECT_EQ(buffer[size - 1], 0) << c.level << " terminator";
            } else {
                EXPECT_EQ(le32(buffer), (size + 7) & ~7u) << c.level;
            }
        }
    // Resume keys come first in the standard levels.
    uint8_t buffer[64];
    uint8_t *position = buffer, *last = nullptr;
    uint32_t room = sizeof buffer;
    ASSERT_EQ(csFillFindEntry(path.data(), &info, &position, 1, 7, 0, buffer, &room, 1, &last), 0u);
    EXPECT_EQ(le32(buffer), 7u);
    EXPECT_EQ(uint32_t(position - buffer), 23u + 4u + 4u);
    EXPECT_EQ(le32(buffer + 4 + 12), 5u) << "data size";
}

TEST_F(FindTest, EntriesAreAlignedAndNeverSplit)
{
    write("d/a");
    std::vector<CMWchar> path = W(root.file("d/a"));
    SYFileInformation info;
    ASSERT_EQ(syGetFileInformationByName(path.data(), &info), 0);
    uint8_t buffer[200];
    uint8_t *position = buffer, *last = nullptr;
    uint32_t room = 64 + 2 + 6 + 64 + 2;
    ASSERT_EQ(csFillFindEntry(path.data(), &info, &position, 1001, 1, 1, buffer, &room, 0, &last), 0u);
    ASSERT_EQ(csFillFindEntry(path.data(), &info, &position, 1001, 2, 1, buffer, &room, 0, &last), 0u);
    EXPECT_EQ(last, buffer + 72) << "the second entry starts 8-aligned";
    uint8_t *before = position;
    EXPECT_EQ(csFillFindEntry(path.data(), &info, &position, 1001, 3, 1, buffer, &room, 0, &last),
              CS_ENTRY_NO_ROOM);
    EXPECT_EQ(position, before);
    EXPECT_EQ(csFillFindEntry(path.data(), &info, &position, 0x107, 3, 1, buffer, &room, 0, &last),
              0xC0000001u);
    // A directory has no size.
    std::vector<CMWchar> folder = W(root.file("d"));
    ASSERT_EQ(syGetFileInformationByName(folder.data(), &info), 0);
    position = buffer;
    room = sizeof buffer;
    ASSERT_EQ(csFillFindEntry(folder.data(), &info, &position, 1001, 1, 1, buffer, &room, 0, &last), 0u);
    EXPECT_EQ(le32(buffer + 40), 0u);
    EXPECT_EQ(le32(buffer + 48), 0u);
}

TEST_F(FindTest, SearchEntries)
{
    write("d/readme.txt", "abc");
    uint8_t entry[CS_SEARCH_ENTRY_SIZE];
    csFillSearchEntry(W(root.file("d/readme.txt")).data(), entry);
    EXPECT_EQ(entry[0], 8);
    EXPECT_EQ(le32(entry + 26), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(entry + 30)), "readme.txt  ");
}

TEST_F(FindTest, QueryDirectoryListsEveryNameOnce)
{
    std::set<std::string> want = {".", ".."};
    for (int i = 0; i < 60; ++i) {
        std::string name = "file-" + std::to_string(i);
        write("d/" + name);
        want.insert(name);
    }
    CSFile *file = directory();
    std::multiset<std::string> seen;
    // A small buffer: many answers, some entries waiting for the next one.
    uint32_t status;
    while ((status = query(file, "*", 0, 300)) == 0)
        for (const std::string &n : names())
            seen.insert(n);
    EXPECT_EQ(status, 0x80000006u);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()), want);
    EXPECT_EQ(seen.size(), want.size()) << "none repeated";
    EXPECT_EQ(file->sid, CS_FREE_ID) << "the search went with its end";
    csReleaseFile(file->fid);
}

TEST_F(FindTest, QueryDirectoryAnswers)
{
    write("d/a.txt");
    write("d/b.txt");
    CSFile *file = directory();
    EXPECT_EQ(query(file, "*.doc"), 0xC000000Fu) << "a fresh listing matching nothing";
    ASSERT_EQ(query(file, "*.txt", 0x02), 0u);
    EXPECT_EQ(names().size(), 1u);
    EXPECT_EQ(le32(out), 0u) << "the last entry links nowhere";
    ASSERT_EQ(query(file, "*.txt", 0x02), 0u);
    EXPECT_EQ(names().size(), 1u);
    EXPECT_EQ(query(file, "*.txt"), 0x80000006u);
    // Restart begins again.
    ASSERT_EQ(query(file, "*.txt"), 0u);
    EXPECT_EQ(names().size(), 2u);
    ASSERT_EQ(query(file, "a.txt", 0x01), 0u);
    EXPECT_EQ(names(), std::vector<std::string>{"a.txt"});
    // Too small for one entry: the next request starts afresh.
    EXPECT_EQ(query(file, "*.txt", 0x01, 50), 0xC0000023u);
    EXPECT_EQ(file->sid, CS_FREE_ID);
    ASSERT_EQ(query(file, "*.txt"), 0u);
    EXPECT_EQ(names().size(), 2u);
    csReleaseFile(file->fid);

    EXPECT_EQ(query(nullptr, "*"), 0xC0000128u);
    EXPECT_EQ(query(file, ""), 0xC000000Du);
    keep.push_back(W(root.file("d/a.txt")));
    CSFile *plain = nullptr;
    ASSERT_EQ(csOpenFile(keep.back().data(), alice.tree->tid, 0x40, nullptr, &plain), 0u);
    EXPECT_EQ(query(plain, "*"), 0xC00000BBu);
    csReleaseFile(plain->fid);
    CSFile *again = directory();
    EXPECT_EQ(query(again, "..\\..\\*"), 0xC000003Au);
    gNeighbours.canRead = false;
    EXPECT_EQ(query(again, "*"), 0xC0000005u);
    csReleaseFile(again->fid);
}

TEST_F(FindTest, FindFirstAndNext)
{
    for (const char *n : {"d/one", "d/two", "d/three"})
        write(n);
    std::filesystem::create_directory(root.file("d/sub"));
    uint8_t data[2048];
    CSFindResult r;
    std::string pattern = "d\\*";
    // Folders only with their bit: . .. and sub are left out.
    ASSERT_EQ(csFindFirst(alice.tree->tid, alice.user->uid, 0x06, 2, 0, 0x104, pattern.c_str(), 0, data,
                          sizeof data, &r),
              0u);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(r.endOfSearch, 0u);
    uint16_t sid = r.sid;
    ASSERT_EQ(csFindNext(alice.tree->tid, alice.user->uid, sid, 10, 0x104, 0x02, nullptr, 0, data, sizeof data, &r),
              0u);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.endOfSearch, 1u);
    EXPECT_EQ(r.lastNameOffset, 0u) << "closed at its end";
    EXPECT_EQ(csFindNext(alice.tree->tid, alice.user->uid, sid, 10, 0x104, 0, nullptr, 0, data, sizeof data, &r),
              0xC0000008u);
    // An empty pattern lists everything, folders too with their bit.
    ASSERT_EQ(
        csFindFirst(alice.tree->tid, alice.user->uid, 0x16, 100, 0x01, 0x104, "", 0, data, sizeof data, &r),
        0u);
    EXPECT_EQ(r.count, 3u) << ". .. d";
    ASSERT_EQ(
        csFindFirst(alice.tree->tid, alice.user->uid, 0x16, 100, 0x01, 1, "d\\*", 0, data, sizeof data, &r),
        0u);
    EXPECT_EQ(r.count, 6u);
    EXPECT_EQ(
        csFindFirst(alice.tree->tid, alice.user->uid, 0x16, 100, 0, 1, "d\\*.none", 0, data, sizeof data, &r),
        0xC000000Fu);
    EXPECT_EQ(
        csFindFirst(alice.tree->tid, alice.user->uid, 0x16, 100, 0, 1, "..\\*", 0, data, sizeof data, &r),
        0xC000003Au);
    EXPECT_EQ(
        csFindFirst(alice.tree->tid, alice.user->uid, 0x16, 100, 0, 0x107, "d\\*", 0, data, sizeof data, &r),
        0xC0000001u);
}

// The names of a FIND answer in the names level (0x103), 8-bit.
std::vector<std::string> namesOf(const uint8_t *data, uint16_t count)
{
    std::vector<std::string> names;
    for (uint16_t i = 0; i < count; ++i) {
        names.emplace_back(reinterpret_cast<const char *>(data + 12), le32(data + 8));
        data += le32(data);
    }
    return names;
}

// FIND_NEXT2 resumes after the name the client gives, wherever the last
// answer stopped; a name gone from the folder starts from the top; with
// the continue flag the name is not looked at.
TEST_F(FindTest, FindNextResumesAfterTheClientsName)
{
    for (int i = 0; i < 10; ++i)
        write("d/f" + std::to_string(i));
    uint8_t data[2048];
    CSFindResult r;
    ASSERT_EQ(csFindFirst(alice.tree->tid, alice.user->uid, 0x06, 4, 0, 0x103, "d\\*", 0, data, sizeof data, &r),
              0u);
    const uint16_t sid = r.sid;
    std::vector<std::string> first = namesOf(data, r.count);
    ASSERT_EQ(first.size(), 4u);
    std::vector<std::string> all = first;

    auto next = [&](const std::string &resume, uint16_t flags, uint16_t count) {
        std::vector<CMWchar> name = W(resume);
        EXPECT_EQ(csFindNext(alice.tree->tid, alice.user->uid, sid, count, 0x103, flags, name.data(), 0, data,
                             sizeof data, &r),
                  0u)
            << resume;
        return namesOf(data, r.count);
    };
    // After the second name: the third and fourth come again.
    std::vector<std::string> again = next(first[1], 0, 2);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0], first[2]);
    EXPECT_EQ(again[1], first[3]);
    // After the last one given, in another case: the walk goes on.
    std::string upper = again[1];
    for (char &ch : upper)
        ch = char(std::toupper(uint8_t(ch)));
    std::vector<std::string> rest = next(upper, 0, 3);
    ASSERT_EQ(rest.size(), 3u);
    all.insert(all.end(), rest.begin(), rest.end());
    // The continue flag leaves the name alone.
    std::vector<std::string> onwards = next(first[0], 0x08, 3);
    ASSERT_EQ(onwards.size(), 3u);
    all.insert(all.end(), onwards.begin(), onwards.end());
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 10u) << "every name once";
    // A name no longer there: from the top.
    std::vector<std::string> top = next("gone", 0, 1);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0], first[0]);
    csReleaseSearch(sid);

    // An answer cut by its room keeps the name that did not fit for the
    // next one, which resumes after the last name given.
    ASSERT_EQ(csFindFirst(alice.tree->tid, alice.user->uid, 0x06, 100, 0, 0x103, "d\\*", 0, data, 40, &r), 0u);
    std::vector<std::string> cut = namesOf(data, r.count);
    ASSERT_EQ(cut.size(), 2u);
    std::vector<CMWchar> last = W(cut.back());
    ASSERT_EQ(csFindNext(alice.tree->tid, alice.user->uid, r.sid, 100, 0x103, 0x02, last.data(), 0, data,
                         sizeof data, &r),
              0u);
    std::vector<std::string> restOfCut = namesOf(data, r.count);
    cut.insert(cut.end(), restOfCut.begin(), restOfCut.end());
    EXPECT_EQ(cut.size(), 10u);
    EXPECT_EQ(std::set<std::string>(cut.begin(), cut.end()).size(), 10u) << "every name once";
}

TEST_F(FindTest, FindCloseAndSearch)
{
    for (const char *n : {"d/a.txt", "d/b.txt", "d/c.txt"})
        write(n);
    uint8_t data[512];
    CSFindResult r;
    ASSERT_EQ(
        csFindFirst(alice.tree->tid, alice.user->uid, 0x16, 1, 0, 1, "d\\*.txt", 0, data, sizeof data, &r),
        0u);
    ASSERT_EQ(serve(csComFindClose2, {{r.sid}, {}}), 0u);
    EXPECT_EQ(serve(csComFindClose2, {{r.sid}, {}}), 0xC0000008u);
    EXPECT_EQ(serve(csComFindClose2, {{r.sid, 0}, {}}), 0xC0000001u);

    // SEARCH: two entries, then the resume key of the last continues.
    // The name goes first, then the resume key behind its format 5.
    auto search = [&](uint16_t count, const std::vector<uint8_t> &key) {
        Request r{{count, 0x06}, {}};
        r.raw.push_back(4);
        for (char c : std::string("d\\*.txt"))
            r.raw.push_back(uint8_t(c));
        r.raw.push_back(0);
        r.raw.push_back(5);
        r.raw.push_back(uint8_t(key.size()));
        r.raw.push_back(uint8_t(key.size() >> 8));
        r.raw.insert(r.raw.end(), key.begin(), key.end());
        return serve(csComSearch, r);
    };
    ASSERT_EQ(search(2, {}), 0u);
    ASSERT_EQ(answer.size(), 8u + 2 * 43u);
    EXPECT_EQ(answer[0], 1);
    EXPECT_EQ(le16(&answer[1]), 2u);
    EXPECT_EQ(answer[5], 5);
    EXPECT_EQ(le16(&answer[6]), 86u);
    std::vector<uint8_t> key(answer.begin() + 8 + 43, answer.begin() + 8 + 43 + 21);
    EXPECT_EQ(key[0], 8);
    ASSERT_EQ(search(10, key), 0u);
    EXPECT_EQ(le16(&answer[1]), 1u);
    EXPECT_EQ(search(10, key), 0xC0000008u) << "the search ended with its names";
    EXPECT_EQ(search(10, std::vector<uint8_t>(5, 0)), 0xC000000Du) << "a key shorter than 21 bytes";
}

}  // namespace
