// The SMB1 opens through the dispatcher on a disk share in a temporary
// folder: the NT_CREATE_ANDX answer forms and its oplock rule, names that
// end with their block, the DOS open modes, the core creates and the
// transaction forms.
#include "smb1_wire.h"

#include "cscommands.h"
#include "cscreate.h"

#include "fw_test/log_capture.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace smb1test;

namespace {
int gBreakCheck = -1;
}  // namespace

// The oplock part as far as these tests need it: whether a break is needed.
extern "C" int csBreakCheck(CSCreateParameters *) { return gBreakCheck; }

namespace {

class Smb1OpenTest : public Smb1ShareTest {
protected:
    void SetUp() override
    {
        Smb1ShareTest::SetUp();
        gBreakCheck = -1;
    }

    // NT_CREATE_ANDX: flags, access, disposition, options; the name in UTF-16
    // after a pad byte, terminated unless told otherwise.
    Message ntCreate(const std::string &name, uint32_t flags = 0, uint32_t disposition = 3,
                     uint32_t access = 0x12019F, uint32_t options = 0, bool terminated = true)
    {
        Message m = base(0xA2);
        m.words = {0xFF, 0, 0, 0, 0};
        put_le16(m.words, uint16_t(name.size() * 2));
        put_le32(m.words, flags);
        put_le32(m.words, 0);  // RootDirectoryFid
        put_le32(m.words, access);
        put_le32(m.words, 0);
        put_le32(m.words, 0);  // AllocationSize
        put_le32(m.words, 0x80);
        put_le32(m.words, 7);  // ShareAccess
        put_le32(m.words, disposition);
        put_le32(m.words, options);
        put_le32(m.words, 2);
        m.words.push_back(0);
        m.data.push_back(0);
        Bytes n = utf16(name, terminated);
        m.data.insert(m.data.end(), n.begin(), n.end());
        return m;
    }

    Message coreCommand(uint8_t command, Bytes words, const std::string &name)
    {
        Message m = base(command);
        m.words = std::move(words);
        m.data = {0x04};
        Bytes n = utf16(name);
        if ((32 + 1 + m.words.size() + 2 + 1) & 1)
            m.data.push_back(0);
        m.data.insert(m.data.end(), n.begin(), n.end());
        return m;
    }

    Message openAndX(const std::string &name, uint16_t accessMode, uint16_t openMode, uint16_t flags = 1)
    {
        Message m = base(0x2D);
        m.words = {0xFF, 0, 0, 0};
        put_le16(m.words, flags);
        put_le16(m.words, accessMode);
        put_le16(m.words, 0x16);  // search: hidden, system, directory
        put_le16(m.words, 0);
        put_le32(m.words, 0);
        put_le16(m.words, openMode);
        put_le32(m.words, 0);
        put_le32(m.words, 0);
        put_le32(m.words, 0);
        m.data.push_back(0);
        Bytes n = utf16(name);
        m.data.insert(m.data.end(), n.begin(), n.end());
        return m;
    }

    std::string file(const std::string &name) { return dir.path() + "/" + name; }
    void write(const std::string &name, const std::string &text) { std::ofstream(file(name)) << text; }
    std::string read(const std::string &name)
    {
        std::ifstream in(file(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

};

TEST_F(Smb1OpenTest, NtCreateAnswerForms)
{
    write("a.txt", "hello");
    Answer a = ask(ntCreate("a.txt"));
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 34);
    EXPECT_EQ(a.words()[4], 0) << "no oplock asked";
    CSFile *f = csGetFileByJustFid(a.word(5));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->pid, 0x0101u);
    EXPECT_EQ(a.dword(7), 1u) << "opened";
    EXPECT_EQ(get_le32(a.words() + 55), 5u) << "end of file";
    EXPECT_EQ(a.word(63), 0) << "a file";
    EXPECT_EQ(a.word(65), 7);
    EXPECT_EQ(a.byteCount(), 0);

    a = ask(ntCreate("new.txt", 0x10, 2));
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(a.wordCount(), 42);
    EXPECT_EQ(a.dword(7), 2u) << "created";
    // 100 bytes of words whatever the count says, then ByteCount.
    EXPECT_EQ(get_le32(a.words() + 92), 0x001F01FFu);
    EXPECT_EQ(get_le32(a.words() + 96), 0x001F01FFu);
    EXPECT_EQ(get_le16(a.words() + 100), 0);
    EXPECT_TRUE(std::filesystem::exists(file("new.txt")));
}

TEST_F(Smb1OpenTest, Dispositions)
{
    write("s.txt", "old");
    struct Case {
        const char *what;
        uint32_t disposition;
        uint32_t status;
    } cases[] = {
        {"supersede", 0, 0},        {"open", 1, 0},
        {"create", 2, 0xC0000035u}, {"open if", 3, 0},
        {"overwrite", 4, 0},        {"overwrite if", 5, 0},
        {"6", 6, 0xC000000Du},      {"all ones", 0xFFFFFFFFu, 0xC000000Du},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Answer a = ask(ntCreate("s.txt", 0, c.disposition));
        EXPECT_EQ(a.status(), c.status);
        if (a.status() == 0)
            csReleaseFile(a.word(5));
    }
}

TEST_F(Smb1OpenTest, DeleteAccessNeedsWriteRights)
{
    write("d.txt", "x");
    ASSERT_EQ(cmSdGetReadonlyShareSecurityDescriptor(&share->sd), 1);
    EXPECT_EQ(ask(ntCreate("d.txt", 0, 1, 0x00010000)).status(), 0xC0000005u) << "delete only";
    EXPECT_EQ(ask(ntCreate("d.txt", 0, 1, 0x00010001)).status(), 0xC0000005u) << "delete and read";
    Answer a = ask(ntCreate("d.txt", 0, 1, 0x00000001));
    EXPECT_EQ(a.status(), 0u) << "read alone";
    EXPECT_TRUE(std::filesystem::exists(file("d.txt")));
}

TEST_F(Smb1OpenTest, BatchOplockOnlyForABatchRequest)
{
    write("o.txt", "x");
    struct Case {
        const char *what;
        int breakCheck;
        uint32_t flags;
        uint8_t level;
    } cases[] = {
        {"batch asked", 0, 0x04, 2},
        {"exclusive asked", 0, 0x02, 0},
        {"none asked", 0, 0x00, 0},
        {"no breaks in this build", -1, 0x04, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        gBreakCheck = c.breakCheck;
        Answer a = ask(ntCreate("o.txt", c.flags));
        ASSERT_EQ(a.status(), 0u);
        EXPECT_EQ(a.words()[4], c.level);
        csReleaseFile(a.word(5));
    }
    // An open that asks for nothing still waits for a holder's break.
    for (uint32_t flags : {0x04u, 0x00u}) {
        gBreakCheck = 1;
        EXPECT_TRUE(ask(ntCreate("o.txt", flags)).none()) << "the answer waits for the break, flags " << flags;
    }
}

// A sharing violation keeps no record: the table is as before and the
// handle that holds the name stays. With the table full the client still
// learns of the violation, and the log says what ran out.
TEST_F(Smb1OpenTest, SharingViolationKeepsNoRecord)
{
    write("held.txt", "x");
    Message exclusive = ntCreate("held.txt", 0, 1);
    std::fill(exclusive.words.begin() + 31, exclusive.words.begin() + 35, 0);  // ShareAccess none
    Answer first = ask(exclusive);
    ASSERT_EQ(first.status(), 0u);
    const uint16_t holder = get_le16(first.words() + 5);
    const uint32_t before = csGetFilesCount();

    Answer refused = ask(ntCreate("held.txt", 0, 1));
    EXPECT_EQ(refused.status(), 0xC0000043u);
    EXPECT_EQ(refused.m.size(), 35u);
    EXPECT_EQ(csGetFilesCount(), before);
    EXPECT_NE(csGetFileByFid(holder, tree->tid, user->uid), nullptr);

    std::vector<CMWchar> otherPath = testenv::W(file("other.txt"));
    CSName *other = csGetNewName(otherPath.data(), tree->uid);
    ASSERT_NE(other, nullptr);
    std::vector<uint16_t> taken;
    while (CSFile *f = csGetNewFile(tree, other, 0))
        taken.push_back(f->fid);
    fw_test::LogCapture log;
    Answer full = ask(ntCreate("held.txt", 0, 1));
    EXPECT_EQ(full.status(), 0xC0000043u);
    EXPECT_EQ(full.m.size(), 35u) << "an error answer, not a warning without a body";
    EXPECT_TRUE(log.contains("SMB1:No more file slots err 0xc0000043"));
    for (uint16_t fid : taken)
        csReleaseFile(fid);
    EXPECT_NE(csGetFileByFid(holder, tree->tid, user->uid), nullptr);
}

TEST_F(Smb1OpenTest, NamesEndWithTheirBlock)
{
    // A name without its terminator is read up to the block's end.
    Answer a = ask(ntCreate("plain.txt", 0, 2, 0x12019F, 0, false));
    ASSERT_EQ(a.status(), 0u);
    EXPECT_TRUE(std::filesystem::exists(file("plain.txt")));
    EXPECT_EQ(ask(ntCreate("..\\..\\x.txt", 0, 2)).status(), 0xC000003Au) << "climbing out of the share";
    EXPECT_EQ(ask(ntCreate("missing\\x.txt", 0, 2)).status(), 0xC000003Au);
    EXPECT_EQ(ask(ntCreate("bad\x01name", 0, 2)).status(), 0xC0000033u) << "a control character";
    EXPECT_EQ(ask(openAndX("bad\x1fname", 0x42, 0x10)).status(), 0xC0000033u);
}

TEST_F(Smb1OpenTest, OpenAndXModes)
{
    write("t.txt", "content");
    user->compatibility[1] = 1;
    Answer a = ask(openAndX("t.txt", 0x42, 0x12));
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 15);
    EXPECT_EQ(a.word(22), 0x8003) << "truncated, with the open-result flag";
    EXPECT_EQ(read("t.txt"), "");
    csReleaseFile(a.word(4));

    user->compatibility[1] = 0;
    a = ask(openAndX("n.txt", 0x42, 0x10));
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(a.word(22), 2) << "created";
    EXPECT_EQ(a.word(16), 2) << "read-write granted";
    csReleaseFile(a.word(4));

    struct Case {
        const char *what;
        std::string name;
        uint16_t accessMode, openMode;
        uint32_t status;
    } cases[] = {
        {"fail if it exists", "t.txt", 0x42, 0x00, 0xC0000035u},
        {"fail if it does not", "none.txt", 0x42, 0x01, 0xC0000034u},
        {"sharing nibble 5", "t.txt", 0x52, 0x01, 0xC000000Du},
        {"sharing nibble 7", "t.txt", 0x72, 0x01, 0xC000000Du},
        {"sharing nibble 0xD", "t.txt", 0xD2, 0x01, 0xC000000Du},
        {"sharing nibble 0xE", "t.txt", 0xE2, 0x01, 0xC000000Du},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ask(openAndX(c.name, c.accessMode, c.openMode)).status(), c.status);
    }
    std::filesystem::create_directory(file("dir"));
    EXPECT_EQ(ask(openAndX("dir", 0x40, 0x01)).status(), 0xC00000BAu);
    // Truncating through a read-only open empties the file all the same.
    write("r.txt", "data");
    a = ask(openAndX("r.txt", 0x40, 0x02));
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(a.word(22), 3);
    EXPECT_EQ(read("r.txt"), "");
    csReleaseFile(a.word(4));
    // Truncating a read-only file is refused, and it keeps its data.
    write("ro.txt", "data");
    chmod(file("ro.txt").c_str(), 0444);
    EXPECT_EQ(ask(openAndX("ro.txt", 0x40, 0x02)).status(), 0xC0000022u);
    EXPECT_EQ(read("ro.txt"), "data");
}

TEST_F(Smb1OpenTest, CoreOpensAndCreates)
{
    write("keep.txt", "kept");
    Bytes createWords;
    put_le16(createWords, 0);
    put_le32(createWords, 0);
    Answer a = ask(coreCommand(0x03, createWords, "keep.txt"));
    ASSERT_EQ(a.status(), 0u);
    EXPECT_EQ(a.wordCount(), 1);
    csReleaseFile(a.word(0));
    EXPECT_EQ(read("keep.txt"), "kept") << "CREATE keeps an existing file's data";
    EXPECT_EQ(ask(coreCommand(0x0F, createWords, "keep.txt")).status(), 0xC0000035u);
    a = ask(coreCommand(0x0F, createWords, "fresh.txt"));
    ASSERT_EQ(a.status(), 0u);
    csReleaseFile(a.word(0));

    Bytes openWords;
    put_le16(openWords, 0x40);
    put_le16(openWords, 0x16);
    a = ask(coreCommand(0x02, openWords, "keep.txt"));
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 7);
    EXPECT_EQ(a.dword(8), 4u) << "size";
    csReleaseFile(a.word(0));
    std::filesystem::create_directory(file("sub"));
    EXPECT_EQ(ask(coreCommand(0x02, openWords, "sub")).status(), 0xC00000BAu);

    EXPECT_EQ(ask(coreCommand(0x00, {}, "made")).status(), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(file("made")));
    EXPECT_EQ(ask(coreCommand(0x00, {}, "made")).status(), 0xC0000035u);
    // A read-only share makes no folder.
    ASSERT_EQ(cmSdGetReadonlyShareSecurityDescriptor(&share->sd), 1);
    EXPECT_EQ(ask(coreCommand(0x00, {}, "refused")).status(), 0xC0000005u);
    EXPECT_FALSE(std::filesystem::exists(file("refused")));
}

// "IPC$" (pipes) and a printer (print jobs) have no folder to make one in:
// a name there is no host path.
TEST_F(Smb1OpenTest, NoFolderIsMadeOnAShareWithoutOne)
{
    ASSERT_EQ(vxAddShareA("Laser", dir.path().c_str(), "", 1, "printer"), 0);
    std::string host = file("ipcmade");
    for (char &c : host)
        if (c == '/')
            c = '\\';
    const struct {
        const char *share;
        std::string name;
        std::string made;
    } cases[] = {{"IPC$", host, file("ipcmade")}, {"Laser", "laser", file("laser")}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.share);
        tree->share = csGetShareByName(testenv::W(c.share).data());
        ASSERT_NE(tree->share, nullptr);
        EXPECT_NE(ask(coreCommand(0x00, {}, c.name)).status(), 0u);
        EXPECT_FALSE(std::filesystem::exists(c.made));
    }
}

TEST_F(Smb1OpenTest, TransactionForms)
{
    // TRANS2_OPEN2 creating, then TRANS2_CREATE_DIRECTORY.
    auto trans2 = [&](uint16_t subcommand, const Bytes &parameters) {
        Message m = base(0x32);
        const uint16_t at = 32 + 1 + 30 + 2 + 1;
        put_le16(m.words, uint16_t(parameters.size()));
        put_le16(m.words, 0);
        put_le16(m.words, 100);
        put_le16(m.words, 100);
        m.words.insert(m.words.end(), {0, 0});
        put_le16(m.words, 0);
        put_le32(m.words, 0);
        put_le16(m.words, 0);
        put_le16(m.words, uint16_t(parameters.size()));
        put_le16(m.words, at);
        put_le16(m.words, 0);
        put_le16(m.words, at);
        m.words.insert(m.words.end(), {1, 0});
        put_le16(m.words, subcommand);
        m.data.push_back(0);
        m.data.insert(m.data.end(), parameters.begin(), parameters.end());
        return ask(m);
    };
    Bytes open2;
    put_le16(open2, 1);
    put_le16(open2, 0x42);
    put_le16(open2, 0);
    put_le16(open2, 0);
    put_le32(open2, 0);
    put_le16(open2, 0x10);
    put_le32(open2, 0);
    open2.resize(28, 0);
    Bytes name = utf16("t2.txt");
    open2.insert(open2.end(), name.begin(), name.end());
    Answer a = trans2(0x00, open2);
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.word(6), 30);
    const uint8_t *out = a.m.data() + a.word(8);
    EXPECT_EQ(get_le16(out + 18), 2) << "created";
    EXPECT_NE(csGetFileByJustFid(get_le16(out)), nullptr);
    EXPECT_TRUE(std::filesystem::exists(file("t2.txt")));

    Bytes mkdir(4, 0);
    Bytes dirName = utf16("t2dir");
    mkdir.insert(mkdir.end(), dirName.begin(), dirName.end());
    EXPECT_EQ(trans2(0x0D, mkdir).status(), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(file("t2dir")));
    EXPECT_EQ(trans2(0x0D, mkdir).status(), 0xC0000022u) << "exists";
    EXPECT_EQ(trans2(0x00, Bytes(10, 0)).status(), 0xC000000Du) << "parameters too short";
}

TEST_F(Smb1OpenTest, NtTransactCreate)
{
    auto create = [&](const std::string &name, uint32_t disposition, uint32_t options) {
        Bytes p;
        put_le32(p, 0);           // Flags
        put_le32(p, 0);           // RootDirectoryFid
        put_le32(p, 0x0012019F);  // DesiredAccess
        put_le32(p, 0);
        put_le32(p, 0);  // AllocationSize
        put_le32(p, 0x80);
        put_le32(p, 7);
        put_le32(p, disposition);
        put_le32(p, options);
        put_le32(p, 0);  // SecurityDescriptorLength
        put_le32(p, 0);  // EaLength
        Bytes n = utf16(name, false);
        put_le32(p, uint32_t(n.size()));
        put_le32(p, 2);
        p.insert(p.end(), {0, 0, 0, 0});  // SecurityFlags and padding
        p.insert(p.end(), n.begin(), n.end());
        Message m = base(0xA0);
        const uint32_t at = 32 + 1 + 38 + 2 + 1;
        m.words = {0, 0, 0};
        put_le32(m.words, uint32_t(p.size()));
        put_le32(m.words, 0);
        put_le32(m.words, 100);
        put_le32(m.words, 0);
        put_le32(m.words, uint32_t(p.size()));
        put_le32(m.words, at);
        put_le32(m.words, 0);
        put_le32(m.words, at + uint32_t(p.size()));
        m.words.push_back(0);
        put_le16(m.words, 1);
        m.data.push_back(0);
        m.data.insert(m.data.end(), p.begin(), p.end());
        return ask(m);
    };
    Answer a = create("nt.txt", 2, 0);
    ASSERT_EQ(a.status(), 0u);
    ASSERT_EQ(a.wordCount(), 18);
    ASSERT_EQ(get_le32(a.words() + 11), 69u);
    const uint8_t *out = a.m.data() + get_le32(a.words() + 15);
    EXPECT_NE(csGetFileByJustFid(get_le16(out + 2)), nullptr);
    EXPECT_EQ(get_le32(out + 4), 2u) << "created";
    EXPECT_EQ(out[68], 0) << "a file";
    EXPECT_TRUE(std::filesystem::is_regular_file(file("nt.txt")));

    a = create("ntdir", 2, 1);
    ASSERT_EQ(a.status(), 0u);
    out = a.m.data() + get_le32(a.words() + 15);
    EXPECT_EQ(out[68], 1) << "a directory";
    EXPECT_TRUE(std::filesystem::is_directory(file("ntdir")));
    csReleaseFile(get_le16(out + 2));
    EXPECT_EQ(create("nt.txt", 2, 0).status(), 0xC0000035u);
    EXPECT_EQ(create("none.txt", 1, 0).status(), 0xC0000034u);
    EXPECT_EQ(create("nt.txt", 7, 0).status(), 0xC000000Du);
}

}  // namespace
