// SMB2 QUERY_INFO and SET_INFO through the dispatcher: the class mapping,
// the security descriptor fallbacks, and the bounds of data and answers.
#include "smb2_file_fixture.h"

using namespace smb2_test;

namespace {

constexpr uint16_t kQueryInfo = 16, kSetInfo = 17;

Bytes queryBody(uint8_t type, uint8_t infoClass, uint32_t outputLength, uint16_t fid, uint32_t additional = 0)
{
    Bytes b = {41, 0, type, infoClass};
    put_le32(b, outputLength);
    put_le16(b, 0);
    put_le16(b, 0);
    put_le32(b, 0);
    put_le32(b, additional);
    put_le32(b, 0);
    put_fid(b, fid);
    b.push_back(0);
    return b;
}

Bytes setBody(uint8_t type, uint8_t infoClass, const Bytes &data, uint16_t fid, uint32_t claimed = 0xFFFFFFFF,
              uint32_t additional = 0)
{
    Bytes b = {33, 0, type, infoClass};
    put_le32(b, claimed == 0xFFFFFFFF ? uint32_t(data.size()) : claimed);
    put_le16(b, 96);
    put_le16(b, 0);
    put_le32(b, additional);
    put_fid(b, fid);
    b.insert(b.end(), data.begin(), data.end());
    if (data.empty())
        b.push_back(0);
    return b;
}

class InfoTest : public Smb2FileTest {
protected:
    Bytes ask(const Bytes &body)
    {
        Bytes a = exchange(compound({request(kQueryInfo, body, mid++)}));
        EXPECT_GE(a.size(), 64u);
        return a;
    }
    uint32_t set(const Bytes &body)
    {
        Bytes a = exchange(compound({request(kSetInfo, body, mid++)}));
        return a.size() >= 64 ? answerAt(a, 0).status : 0xFFFFFFFF;
    }
    // The answer's output, checked against its frame.
    static Bytes output(const Bytes &a)
    {
        if (a.size() < 72 || answerAt(a, 0).status != 0)
            return {};
        EXPECT_EQ(get_le16(&a[64]), 9u);
        const uint32_t length = get_le32(&a[68]);
        EXPECT_EQ(a.size(), 72u + length);
        return Bytes(a.begin() + 72, a.end());
    }
    uint64_t mid = 0;
};

TEST_F(InfoTest, FileClassesAreAnsweredFromTheSharedLevels)
{
    writeFile("doc.txt", Bytes(1234, 'x'));
    const uint16_t fid = open("doc.txt");
    ASSERT_NE(fid, 0);
    // FileStandardInformation: AllocationSize, EndOfFile, links, flags.
    Bytes out = output(ask(queryBody(1, 5, 1000, fid)));
    ASSERT_EQ(out.size(), 24u);
    EXPECT_EQ(get_le64(&out[8]), 1234u);
    // FileNameInformation carries the share-relative name.
    out = output(ask(queryBody(1, 9, 1000, fid)));
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(get_le32(&out[0]), out.size() - 4);
    // A class no level answers.
    EXPECT_EQ(answerAt(ask(queryBody(1, 200, 1000, fid)), 0).status, 0xC00000BBu);
}

TEST_F(InfoTest, FileSystemClassesAreMapped)
{
    const uint16_t fid = open("", true);
    ASSERT_NE(fid, 0);
    Bytes volume = output(ask(queryBody(2, 1, 1000, fid)));
    ASSERT_GE(volume.size(), 18u);
    EXPECT_EQ(get_le32(&volume[12]), 8u);  // "Docs" in UTF-16
    Bytes size = output(ask(queryBody(2, 3, 1000, fid)));
    EXPECT_EQ(size.size(), 24u);
    Bytes attributes = output(ask(queryBody(2, 5, 1000, fid)));
    EXPECT_GE(attributes.size(), 12u);
}

TEST_F(InfoTest, LengthsAndTypesThatAreRefused)
{
    writeFile("doc.txt", Bytes(10, 'x'));
    const uint16_t fid = open("doc.txt");
    ASSERT_NE(fid, 0);
    struct Case {
        const char *name;
        Bytes body;
        uint32_t status;
    };
    const Case cases[] = {
        {"file, no output", queryBody(1, 5, 0, fid), 0xC0000004u},
        {"file system, no output", queryBody(2, 1, 0, fid), 0xC0000004u},
        {"security, no output", queryBody(3, 0, 0, fid, 7), 0xC0000004u},
        {"quota", queryBody(4, 0, 100, fid), 0xC00000BBu},
        {"file, unknown handle", queryBody(1, 5, 100, 0x4321), 0xC0000128u},
        {"security, unknown handle", queryBody(3, 0, 100, 0x4321, 7), 0xC0000128u},
        // Produced more than asked: overflow with the error body.
        {"file, output short", queryBody(1, 5, 23, fid), 0x80000005u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes a = ask(c.body);
        EXPECT_EQ(answerAt(a, 0).status, c.status);
        EXPECT_EQ(a.size(), 73u);
    }
}

TEST_F(InfoTest, ASecurityQueryGivesTheNoneDescriptorOrTheLengthItNeeds)
{
    writeFile("doc.txt", Bytes(10, 'x'));
    const uint16_t fid = open("doc.txt");
    ASSERT_NE(fid, 0);
    Bytes sd = output(ask(queryBody(3, 0, 4096, fid, 7)));
    ASSERT_GE(sd.size(), 20u);
    EXPECT_EQ(sd[0], 1);  // revision
    // One byte short: buffer too small, with the length it needs.
    Bytes a = ask(queryBody(3, 0, uint32_t(sd.size() - 1), fid, 7));
    EXPECT_EQ(answerAt(a, 0).status, 0xC0000023u);
    ASSERT_EQ(a.size(), 76u);
    EXPECT_EQ(get_le32(&a[68]), 4u);
    EXPECT_EQ(get_le32(&a[72]), sd.size());
}

TEST_F(InfoTest, SetInfoSizesRenamesAndRefusals)
{
    writeFile("doc.txt", Bytes(10, 'x'));
    const uint16_t fid = open("doc.txt");
    ASSERT_NE(fid, 0);
    // FileEndOfFileInformation.
    Bytes eof;
    put_le64(eof, 4000);
    EXPECT_EQ(set(setBody(1, 20, eof, fid)), 0u);
    EXPECT_EQ(sizeOf("doc.txt"), 4000);

    // FileRenameInformation: ReplaceIfExists, reserved, RootDirectory, the name.
    auto rename = [](const std::string &to, uint32_t claimedLength = 0) {
        Bytes b(16, 0);
        put_le32(b, claimedLength ? claimedLength : uint32_t(to.size() * 2));
        for (char ch : to)
            put_le16(b, uint8_t(ch));
        return b;
    };
    EXPECT_EQ(set(setBody(1, 10, rename("moved.txt"), fid)), 0u);
    EXPECT_EQ(sizeOf("moved.txt"), 4000);
    EXPECT_EQ(sizeOf("doc.txt"), -1);
    // A name longer than the data it came in.
    EXPECT_EQ(set(setBody(1, 10, rename("x.txt", 400), fid)), 0xC000000Du);
    EXPECT_EQ(sizeOf("moved.txt"), 4000);

    Bytes emptySd = {1, 0, 0x04, 0x80};
    emptySd.resize(20, 0);
    struct Case {
        const char *name;
        Bytes body;
        uint32_t status;
    };
    const Case cases[] = {
        {"BufferLength past the message", setBody(1, 20, eof, fid, 9), 0xC000000Du},
        {"BufferLength far past the message", setBody(1, 20, eof, fid, 0xFFFFFFF0u), 0xC000000Du},
        {"file system", setBody(2, 1, eof, fid), 0xC0000003u},
        {"quota", setBody(4, 0, eof, fid), 0xC00000BBu},
        {"unknown handle", setBody(1, 20, eof, 0x4321), 0xC0000128u},
        {"descriptor the host refuses", setBody(3, 0, Bytes(20, 0x55), fid, 0xFFFFFFFF, 4), 0xC00000BBu},
        // Refused by the host but setting nothing: taken.
        {"empty descriptor", setBody(3, 0, emptySd, fid, 0xFFFFFFFF, 4), 0u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(set(c.body), c.status);
    }
    EXPECT_EQ(sizeOf("moved.txt"), 4000);
}

}  // namespace
