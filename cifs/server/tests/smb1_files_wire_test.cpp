// SMB1 file commands through the dispatcher on a disk share in a temporary
// folder, answered as a client parses them: the core SEARCH and the error
// forms of the name-based commands.
#include "smb1_wire.h"

#include "cscommands.h"

#include "fw_test/temp_dir.h"

#include <filesystem>
#include <fstream>

using namespace smb1test;

namespace {

class Smb1FilesWireTest : public Smb1Test {
protected:
    void SetUp() override
    {
        Smb1Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_EQ(vxAddShareA("Docs", dir.path().c_str(), "", -1, "papers"), 0);
        user = logOn();
        ASSERT_NE(user, nullptr);
        tree = csGetNewTree(user);
        ASSERT_NE(tree, nullptr);
        std::vector<CMWchar> name = testenv::W("Docs");
        tree->share = csGetShareByName(name.data());
    }

    Message base(uint8_t command, bool unicode = true)
    {
        Message m;
        m.command = command;
        m.uid = user->uid;
        m.tid = tree->tid;
        if (!unicode)
            m.flags2 &= uint16_t(~0x8000);
        return m;
    }

    void write(const std::string &name) { std::ofstream(dir.path() + "/" + name) << "x"; }

    // SEARCH: MaxCount, attributes, the pattern (format 4) in the request's
    // text form, then format 5 and the resume key.
    Message search(const std::string &pattern, uint16_t maxCount, bool unicode, const Bytes &key = {})
    {
        Message m = base(0x81, unicode);
        put_le16(m.words, maxCount);
        put_le16(m.words, 0x16);
        m.data.push_back(4);
        Bytes name = unicode ? utf16(pattern) : ascii(pattern);
        m.data.insert(m.data.end(), name.begin(), name.end());
        m.data.push_back(5);
        put_le16(m.data, uint16_t(key.size()));
        m.data.insert(m.data.end(), key.begin(), key.end());
        return m;
    }

    fw_test::TempDir dir;
    CSUser *user = nullptr;
    CSTree *tree = nullptr;
};

// Each answer is checked the way a client walks it: WordCount 1, Count,
// ByteCount = 3 + 43 * Count, BufferFormat 5, DataLength = 43 * Count.
void expectSearchLayout(const Answer &a, uint16_t count)
{
    ASSERT_EQ(a.wordCount(), 1);
    EXPECT_EQ(a.word(0), count);
    ASSERT_EQ(a.byteCount(), 3u + 43u * count);
    EXPECT_EQ(a.bytes()[0], 5);
    EXPECT_EQ(get_le16(a.bytes() + 1), 43u * count);
    EXPECT_EQ(a.m.size(), a.bytesOffset() + a.byteCount()) << "nothing after the entries";
    EXPECT_EQ(a.flags2() & 0x8000, 0) << "the entries are 8-bit text";
}

TEST_F(Smb1FilesWireTest, SearchAnswersInBothTextForms)
{
    std::filesystem::create_directory(dir.path() + "/d");
    for (const char *n : {"d/a.txt", "d/b.txt", "d/c.txt"})
        write(n);
    for (bool unicode : {false, true}) {
        SCOPED_TRACE(unicode ? "UTF-16 pattern" : "8-bit pattern");
        Answer first = ask(search("d\\*.txt", 2, unicode));
        ASSERT_FALSE(first.none());
        ASSERT_EQ(first.status(), 0u);
        expectSearchLayout(first, 2);
        const uint8_t *entry = first.bytes() + 3;
        EXPECT_EQ(entry[0], 8);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(entry + 30), 12).substr(1, 4), ".txt");

        // The last entry's resume key continues with the one name left.
        Bytes key(entry + 43, entry + 43 + 21);
        Answer next = ask(search("", 10, unicode, key));
        ASSERT_EQ(next.status(), 0u);
        expectSearchLayout(next, 1);

        // A name that matches nothing: the warning still carries an
        // (empty) WordCount and ByteCount.
        Answer none = ask(search("d\\*.none", 10, unicode));
        EXPECT_EQ(none.status(), 0x80000006u);
        ASSERT_EQ(none.m.size(), 35u);
        EXPECT_EQ(none.wordCount(), 0);
        EXPECT_EQ(none.byteCount(), 0u);
    }
}

}  // namespace
