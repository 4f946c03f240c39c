// TRANSACTION2 subcommands of files, finds and volumes as the transaction
// layer hands them their blocks: parameters read within their counts,
// answers within their room.
#include "files_fixture.h"
#include "cstrans2.h"

#include <filesystem>
#include <fstream>

using namespace files_test;

namespace {

class Trans2Test : public FilesTest {
protected:
    uint32_t call(uint32_t (*subcommand)(CSTrans2Request *), std::vector<uint8_t> parameters,
                  std::vector<uint8_t> data = {}, bool unicode = false, uint32_t room = 1024)
    {
        header.assign(32, 0);
        header[0] = 0xFF;
        header[1] = 'S';
        header[2] = 'M';
        header[3] = 'B';
        header[11] = unicode ? 0x80 : 0;
        header[24] = uint8_t(alice.tree->tid);
        header[25] = uint8_t(alice.tree->tid >> 8);
        header[28] = uint8_t(alice.user->uid);
        header[29] = uint8_t(alice.user->uid >> 8);
        params = std::move(parameters);
        body = std::move(data);
        out.assign(room + 16, 0xAA);
        r = CSTrans2Request{};
        r.header = header.data();
        r.parameters = params.data();
        r.parameterCount = uint32_t(params.size());
        r.data = body.data();
        r.dataCount = uint32_t(body.size());
        r.maxDataCount = room;
        r.outParameters = out.data();
        r.room = room;
        return subcommand(&r);
    }
    static std::vector<uint8_t> words(std::initializer_list<uint16_t> values, const std::string &name = "",
                                      bool unicode = false)
    {
        std::vector<uint8_t> b;
        for (uint16_t v : values) {
            b.push_back(uint8_t(v));
            b.push_back(uint8_t(v >> 8));
        }
        for (char ch : name) {
            b.push_back(uint8_t(ch));
            if (unicode)
                b.push_back(0);
        }
        b.push_back(0);
        if (unicode)
            b.push_back(0);
        return b;
    }

    std::vector<uint8_t> header, params, body, out;
    CSTrans2Request r{};
};

TEST_F(Trans2Test, ShortParameterBlocksAreRefused)
{
    write("f");
    uint16_t fid = fidOf("f");
    struct Case {
        const char *what;
        uint32_t (*subcommand)(CSTrans2Request *);
        size_t least;
    } cases[] = {{"query file", csTrans2QueryFileInformation, 4},
                 {"query path", csTrans2QueryPathInformation, 6},
                 {"query fs", csTrans2QueryFsInformation, 2},
                 {"set file", csTrans2SetFileInformation, 4},
                 {"set path", csTrans2SetPathInformation, 6},
                 {"find first", csTrans2FindFirst, 12},
                 {"find next", csTrans2FindNext, 12}};
    for (const Case &c : cases) {
        std::vector<uint8_t> p = {uint8_t(fid), uint8_t(fid >> 8)};
        p.resize(c.least - 1, 0);
        EXPECT_EQ(call(c.subcommand, p), 0xC000000Du) << c.what;
    }
    csReleaseFile(fid);
}

TEST_F(Trans2Test, QueriesByHandleAndPath)
{
    write("dir/x", "");
    std::filesystem::create_directory(root.file("dir"));
    write("dir/f", "abcdef");
    uint16_t fid = fidOf("dir/f");
    ASSERT_EQ(call(csTrans2QueryFileInformation, words({fid, 0x106})), 0u);
    EXPECT_EQ(r.outParameterCount, 2u);
    EXPECT_EQ(r.outDataCount, 8u);
    EXPECT_EQ(le32(r.outData), 6u);
    EXPECT_EQ(call(csTrans2QueryFileInformation, words({0x4130, 0x106})), 0xC0000008u);
    EXPECT_EQ(call(csTrans2QueryFileInformation, words({fid, 0x106}), {}, false, 10), 0xC0000001u) << "room";
    csReleaseFile(fid);
    for (bool unicode : {false, true}) {
        ASSERT_EQ(call(csTrans2QueryPathInformation, words({0x106, 0, 0}, "dir\\f", unicode), {}, unicode),
                  0u);
        EXPECT_EQ(le32(r.outData), 6u);
    }
    EXPECT_EQ(call(csTrans2QueryPathInformation, words({0x106, 0, 0}, "dir\\none")), 0xC0000034u);
    EXPECT_EQ(call(csTrans2QueryPathInformation, words({0x106, 0, 0}, "..\\..\\etc\\passwd")), 0xC0000034u);
    ASSERT_EQ(call(csTrans2QueryFsInformation, words({0x104})), 0u);
    EXPECT_EQ(r.outDataCount, 8u);
}

TEST_F(Trans2Test, SetsByHandleAndPath)
{
    write("f", "0123456789");
    uint16_t fid = fidOf("f");
    std::vector<uint8_t> eof = {3, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(call(csTrans2SetFileInformation, words({fid, 0x104}), eof), 0u);
    EXPECT_EQ(r.outParameterCount, 2u);
    EXPECT_EQ(read(root.file("f")), "012");
    EXPECT_EQ(call(csTrans2SetFileInformation, words({fid, 0x104}), {1, 2, 3}), 0xC000000Du) << "short data";
    csReleaseFile(fid);
    ASSERT_EQ(call(csTrans2SetPathInformation, words({0x104, 0, 0}, "f"), {1, 0, 0, 0, 0, 0, 0, 0}), 0u);
    EXPECT_EQ(read(root.file("f")), "0");
    gNeighbours.canWrite = false;
    EXPECT_EQ(call(csTrans2SetPathInformation, words({0x104, 0, 0}, "f"), {0, 0, 0, 0, 0, 0, 0, 0}),
              0xC0000005u);
    EXPECT_EQ(read(root.file("f")), "0");
}

// A path is set as a client names it, in any case.
TEST_F(Trans2Test, SetPathFindsAnyCase)
{
    std::filesystem::create_directory(root.file("Sub"));
    write("Sub/Mixed.txt", "0123456789");
    std::vector<uint8_t> eof = {2, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(call(csTrans2SetPathInformation, words({0x104, 0, 0}, "SUB\\MIXED.TXT"), eof), 0u);
    EXPECT_EQ(read(root.file("Sub/Mixed.txt")), "01");
    EXPECT_FALSE(std::filesystem::exists(root.file("Sub/MIXED.TXT")));
}

// Setting by path reaches only what the share holds: a name climbing above
// it, or any name on IPC$ (a path from the disk's root), is refused and
// changes nothing.
TEST_F(Trans2Test, SetPathInformationStaysInTheShare)
{
    std::filesystem::create_directories(root.file("share/d"));
    write("victim", "guard");
    ::chmod(root.file("victim").c_str(), 0644);
    setShare(share, root.file("share"));
    // Basic information: four times left alone, then the read-only attribute.
    std::vector<uint8_t> readOnly(40, 0);
    readOnly[32] = 0x01;
    const std::vector<uint8_t> empty(8, 0);
    for (const char *name : {"..\\victim", "d\\..\\..\\victim", "..", "d\\..\\.."}) {
        EXPECT_EQ(call(csTrans2SetPathInformation, words({0x101, 0, 0}, name), readOnly), 0xC0000034u) << name;
        EXPECT_EQ(call(csTrans2SetPathInformation, words({0x104, 0, 0}, name), empty), 0xC0000034u) << name;
    }
    EXPECT_EQ(read(root.file("victim")), "guard") << "not cut to nothing";
    struct stat st;
    ASSERT_EQ(::stat(root.file("victim").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(::stat(root.path().c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0200, 0u);
    write("share/f");
    ASSERT_EQ(call(csTrans2SetPathInformation, words({0x101, 0, 0}, "d\\..\\f"), readOnly), 0u);
    ASSERT_EQ(::stat(root.file("share/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "a name inside the share is still set";

    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to chroot";
    fw_test::TempDir jail{"ipc-root"};
    std::ofstream(jail.file("victim")) << "guard";
    ::chmod(jail.path().c_str(), 0755);
    ::chmod(jail.file("victim").c_str(), 0644);
    onIpc();
    std::vector<uint8_t> archive(40, 0);
    archive[32] = 0x20;
    std::vector<uint32_t> statuses = inJail(jail.path(), [&] {
        return std::vector<uint32_t>{
            call(csTrans2SetPathInformation, words({0x101, 0, 0}, "\\"), archive),
            call(csTrans2SetPathInformation, words({0x101, 0, 0}, "\\victim"), readOnly),
            call(csTrans2QueryPathInformation, words({0x101, 0, 0}, "\\victim")),
            call(csTrans2FindFirst, words({0x16, 10, 0, 0x104, 0, 0}, "\\*")),
        };
    });
    EXPECT_EQ(statuses, std::vector<uint32_t>(4, 0xC0000022u));
    ASSERT_EQ(::stat(jail.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat(jail.file("victim").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(Trans2Test, FindFirstAndNextThroughTheTransaction)
{
    std::filesystem::create_directory(root.file("d"));
    for (int i = 0; i < 5; ++i)
        write("d/n" + std::to_string(i));
    // Attributes 0x06, count 2, no flags, level 0x104, storage 0, name.
    ASSERT_EQ(call(csTrans2FindFirst, words({0x06, 2, 0, 0x104, 0, 0}, "d\\*", true), {}, true), 0u);
    EXPECT_EQ(r.outParameterCount, 10u);
    EXPECT_EQ(le16(out.data() + 2), 2u);
    EXPECT_EQ(le16(out.data() + 4), 0u);
    EXPECT_EQ(r.outData, out.data() + 12) << "entries 4-aligned behind the parameters";
    uint16_t sid = le16(out.data());
    // SID, count, level, resume key, flags (close at end), name.
    ASSERT_EQ(call(csTrans2FindNext, words({sid, 10, 0x104, 0, 0, 0x02}, "", true), {}, true), 0u);
    EXPECT_EQ(le16(out.data()), 3u);
    EXPECT_EQ(le16(out.data() + 2), 1u);
    EXPECT_EQ(call(csTrans2FindNext, words({sid, 10, 0x104, 0, 0, 0}), {}), 0xC0000008u);
}

}  // namespace
