// SMB1 file commands through the dispatcher on a disk share in a temporary
// folder, answered as a client parses them: the core SEARCH and the error
// forms of the name-based commands.
#include "smb1_wire.h"

#include "cscommands.h"


#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

using namespace smb1test;

namespace {

class Smb1FilesWireTest : public Smb1ShareTest {
protected:
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

    // NT_CREATE_ANDX with the sharing, access and disposition given; the FID
    // of the answer.
    uint16_t open(const std::string &name, uint32_t share, uint32_t access = 0x12019F,
                  uint32_t disposition = 1)
    {
        Message m = base(0xA2);
        m.words = {0xFF, 0, 0, 0, 0};
        put_le16(m.words, uint16_t(name.size() * 2));
        put_le32(m.words, 0);
        put_le32(m.words, 0);
        put_le32(m.words, access);
        put_le32(m.words, 0);
        put_le32(m.words, 0);
        put_le32(m.words, 0x80);
        put_le32(m.words, share);
        put_le32(m.words, disposition);
        put_le32(m.words, 0);
        put_le32(m.words, 2);
        m.words.push_back(0);
        m.data.push_back(0);
        Bytes n = utf16(name);
        m.data.insert(m.data.end(), n.begin(), n.end());
        Answer a = ask(m);
        EXPECT_EQ(a.status(), 0u) << name;
        return a.none() ? 0 : get_le16(a.words() + 5);
    }

    // TRANSACTION2 of one setup word on the tree tid (the fixture's by
    // default).
    Message trans2(uint16_t subcommand, const Bytes &parameters, const Bytes &data = {}, uint16_t tid = 0)
    {
        Message m = transaction(0x32, {subcommand}, "", parameters, data, 4000);
        if (tid)
            m.tid = tid;
        return m;
    }

    // RENAME: two names of format 4, each UTF-16 name aligned to 2.
    Message rename(const std::string &from, const std::string &to)
    {
        Message m = base(0x07);
        put_le16(m.words, 0x16);
        for (const std::string &name : {from, to}) {
            m.data.push_back(4);
            if ((32 + 3 + 2 + m.data.size()) & 1)
                m.data.push_back(0);
            Bytes n = utf16(name);
            m.data.insert(m.data.end(), n.begin(), n.end());
        }
        return m;
    }
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

// A file open without delete sharing is not renamed from under its handle;
// with delete sharing it is.
TEST_F(Smb1FilesWireTest, RenamingAnOpenFileNeedsDeleteSharing)
{
    write("a.txt");
    open("a.txt", 3);
    Answer refused = ask(rename("a.txt", "b.txt"));
    EXPECT_EQ(refused.status(), 0xC0000005u);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/a.txt"));
    write("c.txt");
    open("c.txt", 7);
    EXPECT_EQ(ask(rename("c.txt", "d.txt")).status(), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/d.txt"));
    // Any handle without delete sharing holds the name, whichever came first.
    write("e.txt");
    open("e.txt", 3);
    open("e.txt", 7);
    EXPECT_EQ(ask(rename("e.txt", "e2.txt")).status(), 0xC0000005u);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/e.txt"));
    // A new file made for reading only is held the same way.
    open("new.txt", 3, 0x1, 2);
    EXPECT_EQ(ask(rename("new.txt", "f.txt")).status(), 0xC0000005u);
    // Names as a client gives them: from the share's root, in a folder.
    std::filesystem::create_directory(dir.path() + "/sub");
    open("\\sub\\g.txt", 3, 0x1, 2);
    EXPECT_EQ(ask(rename("\\sub\\g.txt", "\\sub\\h.txt")).status(), 0xC0000005u);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/sub/g.txt"));
}

// An unknown uid is answered in the request's own error mode: the DOS
// pair ERRSRV/ERRbaduid without NT statuses, INVALID_PARAMETER with them.
TEST_F(Smb1FilesWireTest, UnknownUidInEitherErrorMode)
{
    struct Row {
        uint16_t flags2;
        uint32_t status;
    };
    for (Row row : {Row{uint16_t(kNt & ~0x4000), 0x005B0002u}, Row{kNt, 0xC000000Du}}) {
        Message m = search("*", 10, true);
        m.uid = uint16_t(user->uid + 7);
        m.flags2 = row.flags2;
        Answer a = ask(m);
        ASSERT_FALSE(a.none());
        EXPECT_EQ(a.status(), row.status) << std::hex << row.flags2;
        EXPECT_EQ(a.flags2() & 0x4000, row.flags2 & 0x4000);
        EXPECT_EQ(a.m.size(), 35u);
    }
}

// FIND_FIRST2 through TRANS2: the entries of a SearchCount, where 0 asks for
// one entry and not for all.
TEST_F(Smb1FilesWireTest, FindFirstCountsEntries)
{
    std::filesystem::create_directory(dir.path() + "/d");
    for (const char *n : {"d/a.txt", "d/b.txt", "d/c.txt"})
        write(n);
    for (uint16_t count : {0, 1, 2, 10}) {
        Bytes parameters;
        put_le16(parameters, 0x16);
        put_le16(parameters, count);
        put_le16(parameters, 0x01);  // close after the request
        put_le16(parameters, 0x104);
        put_le32(parameters, 0);
        Bytes name = utf16("d\\*.txt");
        parameters.insert(parameters.end(), name.begin(), name.end());
        Answer a = ask(trans2(0x0001, parameters));
        ASSERT_EQ(a.status(), 0u) << count;
        ASSERT_GE(a.wordCount(), 10);
        const uint16_t offset = a.word(8);
        ASSERT_LE(offset + 4u, a.m.size());
        EXPECT_EQ(get_le16(a.m.data() + offset + 2), count == 0 ? 1u : std::min<unsigned>(count, 3u))
            << count;
    }
}

// A long folder read a hundred names at a time, each answer continued from
// its last entry's resume key: every name comes once, and the continuation
// past the end answers success with no entry.
TEST_F(Smb1FilesWireTest, SearchContinuesOverALongFolder)
{
    std::filesystem::create_directory(dir.path() + "/many");
    for (int i = 0; i < 700; ++i)
        write("many/f" + std::to_string(i) + ".txt");
    std::set<std::string> seen;
    Answer a = ask(search("many\\*.*", 100, false));
    for (int round = 0; round < 20 && a.status() == 0 && a.word(0) != 0; ++round) {
        ASSERT_GE(a.wordCount(), 1);
        const uint16_t count = a.word(0);
        for (uint16_t i = 0; i < count; ++i) {
            const uint8_t *entry = a.bytes() + 3 + 43 * i;
            std::string name(reinterpret_cast<const char *>(entry + 30));
            EXPECT_TRUE(seen.insert(name.substr(0, name.find(' '))).second) << name;
        }
        Bytes key(a.bytes() + 3 + 43 * (count - 1), a.bytes() + 3 + 43 * (count - 1) + 21);
        a = ask(search("", 100, false, key));
    }
    // The continuation past the last name: success with no entry, as the
    // client's loop wants; the search is gone afterwards.
    ASSERT_EQ(a.status(), 0u);
    expectSearchLayout(a, 0);
    EXPECT_EQ(seen.size(), 700u);
}

// A resume key of an earlier entry rewinds: the answer goes on after that
// entry, not after the last one given.
TEST_F(Smb1FilesWireTest, SearchResumesAfterTheKeysEntry)
{
    std::filesystem::create_directory(dir.path() + "/r");
    for (const char *n : {"r/a.txt", "r/b.txt", "r/c.txt", "r/d.txt", "r/e.txt"})
        write(n);
    auto nameAt = [](const Answer &a, uint16_t i) {
        return std::string(reinterpret_cast<const char *>(a.bytes() + 3 + 43 * i + 30), 5);
    };
    auto keyAt = [](const Answer &a, uint16_t i) {
        const uint8_t *entry = a.bytes() + 3 + 43 * i;
        return Bytes(entry, entry + 21);
    };
    Answer first = ask(search("r\\*.txt", 3, false));
    ASSERT_EQ(first.status(), 0u);
    expectSearchLayout(first, 3);
    Answer rewound = ask(search("", 1, false, keyAt(first, 0)));
    ASSERT_EQ(rewound.status(), 0u);
    expectSearchLayout(rewound, 1);
    EXPECT_EQ(nameAt(rewound, 0), nameAt(first, 1));
    Answer onwards = ask(search("", 10, false, keyAt(rewound, 0)));
    ASSERT_EQ(onwards.status(), 0u);
    expectSearchLayout(onwards, 3);
    EXPECT_EQ(nameAt(onwards, 0), nameAt(first, 2));
}

// DELETE and RENAME of a plain name find it in any case, as a wildcard does.
TEST_F(Smb1FilesWireTest, PlainNamesMatchWithoutRegardToCase)
{
    write("lower.txt");
    Message del = base(0x06);
    put_le16(del.words, 0x16);
    del.data.push_back(4);
    Bytes name = utf16("LOWER.TXT");
    del.data.insert(del.data.end(), name.begin(), name.end());
    EXPECT_EQ(ask(del).status(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/lower.txt"));
    EXPECT_EQ(ask(del).status(), 0xC000000Fu) << "gone";

    write("mixed.txt");
    EXPECT_EQ(ask(rename("MIXED.txt", "renamed.txt")).status(), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/renamed.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/mixed.txt"));
}

// The IPC share has no folder: a name given on a tree of it reaches no
// file of the host, whatever command carries it.
TEST_F(Smb1FilesWireTest, IpcTreeReachesNoFiles)
{
    CSTree *ipc = csGetNewTree(user);
    ASSERT_NE(ipc, nullptr);
    std::vector<CMWchar> ipcName = testenv::W("IPC$");
    ipc->share = csGetShareByName(ipcName.data());
    ASSERT_NE(ipc->share, nullptr);
    std::filesystem::create_directory(dir.path() + "/keep");
    write("victim.txt");
    // The host's own path of the share's folder, as a client would name it.
    std::string host = dir.path();
    std::replace(host.begin(), host.end(), '/', '\\');
    struct Row {
        const char *what;
        uint8_t command;
        Bytes words;
        std::vector<std::string> names;
    } rows[] = {
        {"SET_INFORMATION", 0x09, {0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {"\\victim.txt"}},
        {"DELETE", 0x06, {0x16, 0}, {"\\victim.txt"}},
        {"RENAME", 0x07, {0x16, 0}, {"\\victim.txt", "\\moved.txt"}},
        {"DELETE_DIRECTORY", 0x01, {}, {"\\keep"}},
        {"CREATE_DIRECTORY", 0x00, {}, {"\\made"}},
        {"CREATE", 0x03, {0x20, 0, 0, 0, 0, 0}, {"\\victim.txt"}},
        {"CREATE_NEW", 0x0F, {0x20, 0, 0, 0, 0, 0}, {"\\new.txt"}},
    };
    for (const Row &row : rows) {
        Message m = base(row.command);
        m.tid = ipc->tid;
        m.words = row.words;
        for (const std::string &name : row.names) {
            m.data.push_back(4);
            if ((32 + 1 + m.words.size() + 2 + m.data.size()) & 1)
                m.data.push_back(0);
            Bytes n = utf16(host + name);
            m.data.insert(m.data.end(), n.begin(), n.end());
        }
        Answer a = ask(m);
        ASSERT_FALSE(a.none()) << row.what;
        EXPECT_NE(a.status(), 0u) << row.what;
        EXPECT_TRUE(std::filesystem::exists(dir.path() + "/victim.txt")) << row.what;
        EXPECT_TRUE(std::filesystem::exists(dir.path() + "/keep")) << row.what;
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "/made")) << row.what;
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "/new.txt")) << row.what;
        EXPECT_NE(std::filesystem::status(dir.path() + "/victim.txt").permissions() &
                      std::filesystem::perms::owner_write,
                  std::filesystem::perms::none)
            << row.what;
    }
    // TRANS2: a path's attributes set (basic level, read-only) and a listing.
    write("victim.txt");
    Bytes setPath = {0x01, 0x01, 0, 0, 0, 0};
    Bytes victim = utf16(host + "\\victim.txt");
    setPath.insert(setPath.end(), victim.begin(), victim.end());
    Bytes basic(36, 0);
    basic[32] = 0x01;
    Message set = trans2(0x0006, setPath, basic, ipc->tid);
    EXPECT_NE(ask(set).status(), 0u) << "SET_PATH_INFO";
    EXPECT_NE(std::filesystem::status(dir.path() + "/victim.txt").permissions() & std::filesystem::perms::owner_write,
              std::filesystem::perms::none)
        << "SET_PATH_INFO";
    Bytes find = {0x16, 0, 10, 0, 0x01, 0, 0x04, 0x01, 0, 0, 0, 0};
    Bytes pattern = utf16(host + "\\*");
    find.insert(find.end(), pattern.begin(), pattern.end());
    Answer listing = ask(trans2(0x0001, find, {}, ipc->tid));
    EXPECT_NE(listing.status(), 0u) << "FIND_FIRST2 lists no host folder";

    // An open asking delete access tries no file: the victim keeps its mode.
    std::filesystem::permissions(dir.path() + "/victim.txt", std::filesystem::perms(0644));
    Message create = base(0xA2);
    create.tid = ipc->tid;
    Bytes name = utf16(host + "\\victim.txt");
    create.words = {0xFF, 0, 0, 0, 0};
    put_le16(create.words, uint16_t(name.size() - 2));
    put_le32(create.words, 0);
    put_le32(create.words, 0);
    put_le32(create.words, 0x00010080);  // DELETE, read attributes
    put_le32(create.words, 0);
    put_le32(create.words, 0);
    put_le32(create.words, 0x80);
    put_le32(create.words, 7);
    put_le32(create.words, 1);
    put_le32(create.words, 0x1000);  // delete on close
    put_le32(create.words, 2);
    create.words.push_back(0);
    create.data.push_back(0);
    create.data.insert(create.data.end(), name.begin(), name.end());
    EXPECT_NE(ask(create).status(), 0u) << "NT_CREATE_ANDX";
    EXPECT_EQ(std::filesystem::status(dir.path() + "/victim.txt").permissions(), std::filesystem::perms(0644));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/victim.txt"));
}

}  // namespace
