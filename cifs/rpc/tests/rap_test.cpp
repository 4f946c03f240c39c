// The LAN Manager remote API on a fake database: the four APIs with their
// exact descriptors, short buffers, names too long for the old clients, and
// string pointers that are offsets into the data block.
#include "pipe_fixture.h"

#include "csshares.h"
#include "cstrans.h"

#include "fw_test/matchers.h"

#include <gtest/gtest.h>

using namespace rpc_test;
using fw_test::get_le16;
using fw_test::get_le32;

namespace {

class Rap : public PipeTest {
protected:
    void configure() override
    {
        testenv::writeFile(path("cs_cfg.txt"), "twelve_chars;/mnt/usb/a;first\n"
                                               "thirteen_char;/mnt/usb/b;second\n"
                                               "docs;/mnt/usb/docs;my documents\n");
    }
    void SetUp() override
    {
        PipeTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(vxAddShareW(W("lp").data(), W("/dev/usb/lp0").data(), W("/tmp/lp").data(), 0, W("").data()),
                  0);
    }
    // One transaction: API number, the two descriptors and the arguments.
    uint32_t rap(uint16_t api, const std::string &params, const std::string &data, const Bytes &args,
                 uint32_t maxData = 65535)
    {
        Bytes p;
        fw_test::put_le16(p, api);
        p.insert(p.end(), params.begin(), params.end());
        p.push_back(0);
        p.insert(p.end(), data.begin(), data.end());
        p.push_back(0);
        p.insert(p.end(), args.begin(), args.end());
        parameters = p;
        header.assign(32, 0);
        header[28] = uint8_t(client.user->uid), header[29] = uint8_t(client.user->uid >> 8);
        response.assign(CS_TRANS_RESPONSE_SIZE + 16, 0xEE);
        t = CSTransaction{};
        t.header = header.data();
        t.response = response.data();
        t.parameters = parameters.data();
        t.parameterCount = uint32_t(parameters.size());
        t.maxDataCount = maxData;
        t.byteCount = response.data() + 32 + CS_TRANS_RESPONSE_WORDS;
        return csRapApiEntry(&t);
    }
    static Bytes levelAndBuffer(uint16_t level, uint16_t length)
    {
        Bytes b;
        fw_test::put_le16(b, level);
        fw_test::put_le16(b, length);
        return b;
    }
    static Bytes named(const std::string &name, uint16_t level, uint16_t length)
    {
        Bytes b(name.begin(), name.end());
        b.push_back(0);
        Bytes rest = levelAndBuffer(level, length);
        b.insert(b.end(), rest.begin(), rest.end());
        return b;
    }
    uint16_t status() const { return get_le16(t.parametersOut); }
    uint16_t param(int i) const { return get_le16(t.parametersOut + 4 + 2 * i); }
    Bytes data() const { return Bytes(t.dataOut, t.dataOut + t.dataCountOut); }
    // A string a data pointer names: converter 0, offset into the block.
    std::string at(uint32_t pointer) const
    {
        EXPECT_EQ(get_le16(t.parametersOut + 2), 0u);
        EXPECT_LT(pointer, t.dataCountOut);
        return std::string(reinterpret_cast<const char *>(t.dataOut + pointer));
    }

    Bytes parameters, header, response;
    CSTransaction t{};
};

TEST_F(Rap, ShareEnumListsNamesOfAtMostTwelveCharacters)
{
    ASSERT_EQ(rap(0, "WrLeh", "B13BWz", levelAndBuffer(1, 4000)), 0u);
    EXPECT_EQ(status(), 0u);
    EXPECT_EQ(t.parameterCountOut, 8u);
    const uint16_t returned = param(0);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(param(1), 6u);  // available: the whole table, the long name and the printer too
    Bytes d = data();
    std::vector<std::string> names, remarks;
    for (uint16_t i = 0; i < returned; ++i) {
        const uint8_t *e = &d[20 * i];
        names.push_back(reinterpret_cast<const char *>(e));
        remarks.push_back(at(get_le32(e + 16)));
        if (names.back() == "IPC$")
            EXPECT_EQ(get_le16(e + 14), 3u);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"IPC$", "twelve_chars", "docs", "C$"}));
    EXPECT_EQ(remarks, (std::vector<std::string>{"", "first", "my documents", "Default share"}));
    EXPECT_EQ(get_le16(t.byteCount), t.dataOut + t.dataCountOut - (t.byteCount + 2));
    // A printer owner sees the printer too.
    client.user->printerOwner = 1;
    ASSERT_EQ(rap(0, "WrLeh", "B13BWz", levelAndBuffer(1, 4000)), 0u);
    EXPECT_EQ(param(0), 5u);
}

TEST_F(Rap, ShareEnumIntoAShortBufferSaysThereIsMore)
{
    ASSERT_EQ(rap(0, "WrLeh", "B13BWz", levelAndBuffer(1, 50)), 0u);
    EXPECT_EQ(status(), 234u);
    EXPECT_EQ(param(0), 2u);  // IPC$ (21 bytes) and twelve_chars (26)
    EXPECT_EQ(param(1), 6u);
    EXPECT_LE(t.dataCountOut, 50u);
    ASSERT_EQ(rap(0, "WrLeh", "B13BWz", levelAndBuffer(1, 4000), 30), 0u);
    EXPECT_EQ(status(), 234u);
    EXPECT_LE(t.dataCountOut, 30u);
}

TEST_F(Rap, OnlyExactDescriptorsAreServed)
{
    csDispatchSetNtError(0);
    const struct {
        uint16_t api;
        const char *params;
        const char *data;
    } refused[] = {
        {0, "WrLeh", "B13BWzWWWzB9B"}, {0, "wrLeh", "B13BWz"}, {13, "WrLh", "B16BB"},
        {2, "WrLeh", "B13BWz"},        {63, "WrLh", "zzzBBz"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(rap(c.api, c.params, c.data, levelAndBuffer(1, 4000)), (230u << 16) | 1u);
    }
    // Arguments cut short, and descriptors without their end.
    EXPECT_EQ(rap(0, "WrLeh", "B13BWz", Bytes{1}), (230u << 16) | 1u);
    t.parameters = nullptr;
    t.parameterCount = 0;
    EXPECT_EQ(csRapApiEntry(&t), (230u << 16) | 1u);
    parameters = {0, 0, 'W', 'r'};
    t.parameters = parameters.data();
    t.parameterCount = 4;
    EXPECT_EQ(csRapApiEntry(&t), (230u << 16) | 1u);
    client.user->uid = 0x7777;
    EXPECT_EQ(rap(0, "WrLeh", "B13BWz", levelAndBuffer(1, 4000)), (91u << 16) | 2u);
}

TEST_F(Rap, ShareGetInfo)
{
    ASSERT_EQ(rap(1, "zWrLh", "B13BWz", named("IPC$", 1, 1000)), 0u);
    EXPECT_EQ(status(), 0u);
    Bytes d = data();
    ASSERT_EQ(d.size(), 20u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(d.data())), "IPC$");
    EXPECT_EQ(get_le16(&d[14]), 3u);
    EXPECT_EQ(get_le32(&d[16]), 0u);  // no remark
    EXPECT_EQ(param(0), 20u);

    ASSERT_EQ(rap(1, "zWrLh", "B13BWzWWWzB9B", named("docs", 2, 1000)), 0u);
    EXPECT_EQ(status(), 0u);
    d = data();
    const uint16_t needed = param(0);
    EXPECT_EQ(needed, d.size());
    EXPECT_EQ(needed, 40u + 13 + 14);
    EXPECT_EQ(at(get_le32(&d[16])), "my documents");
    EXPECT_EQ(get_le16(&d[20]), 63u);
    EXPECT_EQ(get_le16(&d[22]), 50u);
    EXPECT_EQ(at(get_le32(&d[26])), "/mnt/usb/docs");
    EXPECT_EQ(Bytes(d.begin() + 30, d.begin() + 40), Bytes(10, 0));

    // Room for all but the path: more data, nothing written.
    ASSERT_EQ(rap(1, "zWrLh", "B13BWzWWWzB9B", named("docs", 2, uint16_t(needed - 1))), 0u);
    EXPECT_EQ(status(), 234u);
    EXPECT_EQ(param(0), needed);
    EXPECT_EQ(t.dataCountOut, 0u);
    ASSERT_EQ(rap(1, "zWrLh", "B13", named("nosuch", 0, 1000)), 0u);
    EXPECT_EQ(status(), 2141u);
    EXPECT_EQ(param(0), 0u);
    ASSERT_EQ(rap(1, "zWrLh", "B13", named("DOCS", 0, 13)), 0u);
    EXPECT_EQ(status(), 0u);
    EXPECT_EQ(t.dataCountOut, 13u);
}

TEST_F(Rap, ServerGetInfo)
{
    ASSERT_EQ(rap(13, "WrLh", "B16", levelAndBuffer(0, 100)), 0u);
    EXPECT_EQ(status(), 0u);
    EXPECT_EQ(t.dataCountOut, 16u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(t.dataOut)), "ROUTER");
    ASSERT_EQ(rap(13, "WrLh", "B16", levelAndBuffer(0, 10)), 0u);
    EXPECT_EQ(status(), 234u);
    EXPECT_EQ(param(0), 16u);
    EXPECT_EQ(t.dataCountOut, 0u);

    ASSERT_EQ(rap(13, "WrLh", "B16BBDz", levelAndBuffer(1, 100)), 0u);
    EXPECT_EQ(status(), 0u);
    Bytes d = data();
    EXPECT_EQ(d.size(), param(0));
    EXPECT_EQ(d[16], 2);
    EXPECT_EQ(d[17], 0);
    EXPECT_EQ(get_le32(&d[18]), 0x8202u);
    EXPECT_EQ(at(get_le32(&d[22])), "VXE SMB Server");
}

TEST_F(Rap, WorkstationInfoIsSizedAsWritten)
{
    ASSERT_EQ(rap(63, "WrLh", "zzzBBzz", levelAndBuffer(10, 1000)), 0u);
    EXPECT_EQ(status(), 0u);
    Bytes d = data();
    const uint16_t needed = param(0);
    EXPECT_EQ(needed, d.size());
    EXPECT_EQ(needed, 24u + 7 + 1 + 10 + 10 + 1);
    EXPECT_EQ(at(get_le32(&d[0])), "ROUTER");
    EXPECT_EQ(at(get_le32(&d[4])), "");
    EXPECT_EQ(at(get_le32(&d[8])), "WORKGROUP");
    EXPECT_EQ(d[12], 2);
    EXPECT_EQ(d[13], 0);
    EXPECT_EQ(at(get_le32(&d[14])), "WORKGROUP");
    EXPECT_EQ(at(get_le32(&d[18])), "");
    ASSERT_EQ(rap(63, "WrLh", "zzzBBzz", levelAndBuffer(10, uint16_t(needed - 1))), 0u);
    EXPECT_EQ(status(), 234u);
    EXPECT_EQ(param(0), needed);
}

}  // namespace
