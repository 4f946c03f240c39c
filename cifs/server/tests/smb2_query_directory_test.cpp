// SMB2 QUERY_DIRECTORY through the dispatcher: a listing across answers,
// none lost or repeated, and the bounds of the pattern and the answer.
#include "smb2_file_fixture.h"

#include <set>

using namespace smb2_test;

namespace {

constexpr uint16_t kQueryDirectory = 14;
constexpr uint8_t kFileNames = 12;  // FileNamesInformation

Bytes listBody(uint16_t fid, const std::string &pattern, uint32_t outputLength, uint8_t flags = 0,
               uint8_t infoClass = kFileNames, uint16_t claimedLength = 0)
{
    Bytes b = {33, 0, infoClass, flags};
    put_le32(b, 0);
    put_fid(b, fid);
    put_le16(b, 96);
    put_le16(b, claimedLength ? claimedLength : uint16_t(pattern.size() * 2));
    put_le32(b, outputLength);
    for (char c : pattern)
        put_le16(b, uint8_t(c));
    if (pattern.empty())
        b.push_back(0);
    return b;
}

// The names of a FileNamesInformation answer, walking NextEntryOffset.
std::vector<std::string> namesOf(const Bytes &a)
{
    std::vector<std::string> names;
    if (a.size() < 72)
        return names;
    const uint32_t length = get_le32(&a[68]);
    EXPECT_EQ(a.size(), 72u + length);
    size_t at = 72;
    for (;;) {
        if (at + 12 > a.size())
            break;
        const uint32_t next = get_le32(&a[at]);
        const uint32_t bytes = get_le32(&a[at + 8]);
        std::string name;
        for (uint32_t i = 0; i + 1 < bytes && at + 12 + i + 1 < a.size() + 1; i += 2)
            name.push_back(char(a[at + 12 + i]));
        names.push_back(name);
        if (next == 0)
            break;
        at += next;
    }
    return names;
}

class QueryDirectoryTest : public Smb2FileTest {
protected:
    Bytes list(const Bytes &body)
    {
        Bytes a = exchange(compound({request(kQueryDirectory, body, mid++)}));
        EXPECT_GE(a.size(), 64u);
        return a;
    }
    uint64_t mid = 0;
};

TEST_F(QueryDirectoryTest, AListingAcrossAnswersLosesAndRepeatsNothing)
{
    std::set<std::string> made;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "file-" + std::to_string(i) + ".txt";
        writeFile(name, {});
        made.insert(name);
    }
    const uint16_t dir = open("", true);
    ASSERT_NE(dir, 0);
    std::multiset<std::string> seen;
    int answers = 0;
    for (;; ++answers) {
        ASSERT_LT(answers, 100);
        Bytes a = list(listBody(dir, "*", 1024));
        const uint32_t status = answerAt(a, 0).status;
        if (status == 0x80000006u)
            break;
        ASSERT_EQ(status, 0u);
        for (const std::string &n : namesOf(a))
            seen.insert(n);
    }
    EXPECT_GT(answers, 2);
    seen.erase(".");
    seen.erase("..");
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()), made);
    EXPECT_EQ(seen.size(), made.size());
}

TEST_F(QueryDirectoryTest, SingleEntriesRestartsAndNoMatches)
{
    writeFile("a.txt", {});
    writeFile("b.txt", {});
    const uint16_t dir = open("", true);
    ASSERT_NE(dir, 0);
    // Return-single-entry: one name per answer.
    Bytes a = list(listBody(dir, "*.txt", 4096, 0x02));
    EXPECT_EQ(namesOf(a).size(), 1u);
    a = list(listBody(dir, "*.txt", 4096, 0x02));
    EXPECT_EQ(namesOf(a).size(), 1u);
    EXPECT_EQ(answerAt(list(listBody(dir, "*.txt", 4096)), 0).status, 0x80000006u);
    // Restart: the names again.
    a = list(listBody(dir, "*.txt", 4096, 0x01));
    EXPECT_EQ(namesOf(a).size(), 2u);
    // A fresh pattern that matches nothing.
    EXPECT_EQ(answerAt(list(listBody(dir, "*.none", 4096, 0x01)), 0).status, 0xC000000Fu);
}

TEST_F(QueryDirectoryTest, PatternAndRoomBounds)
{
    writeFile("a.txt", {});
    const uint16_t dir = open("", true);
    ASSERT_NE(dir, 0);
    writeFile("plain.txt", {});
    const uint16_t file = open("plain.txt");
    ASSERT_NE(file, 0);
    struct Case {
        const char *name;
        Bytes body;
        uint32_t status;
    };
    const Case cases[] = {
        {"FileNameLength 0", listBody(dir, "", 4096), 0xC000000Du},
        {"FileNameLength past the message", listBody(dir, "*", 4096, 0, kFileNames, 40), 0xC000000Du},
        {"FileNameLength far past the message", listBody(dir, "*", 4096, 0, kFileNames, 0xFFFF), 0xC000000Du},
        {"no room for one entry", listBody(dir, "*", 8, 0x01), 0xC0000023u},
        {"unknown handle", listBody(0x4321, "*", 4096), 0xC0000128u},
        {"not a folder", listBody(file, "*", 4096), 0xC00000BBu},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answerAt(list(c.body), 0).status, c.status);
    }
    // After a refusal for room the listing starts afresh.
    EXPECT_FALSE(namesOf(list(listBody(dir, "*", 4096))).empty());
}

}  // namespace
