// The create-context rows and their bounded walk, the answered contexts,
// and the control-code rows.
#include "cs2tables.h"

#include "fw_test/bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One context: Next, NameOffset 16, NameLength 4, DataOffset 24, the tag,
// padding and the data.
std::vector<uint8_t> context(const char *tag, const std::vector<uint8_t> &data, uint32_t next = 0)
{
    std::vector<uint8_t> c(24, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            c[at + i] = uint8_t(v >> (8 * i));
    };
    put32(0, next);
    c[4] = 16;
    c[6] = 4;
    c[10] = data.empty() ? 0 : 24;
    put32(12, uint32_t(data.size()));
    for (int i = 0; i < 4; ++i)
        c[16 + i] = uint8_t(tag[i]);
    c.insert(c.end(), data.begin(), data.end());
    return c;
}

std::vector<uint8_t> chain(std::vector<std::vector<uint8_t>> contexts)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < contexts.size(); ++i) {
        std::vector<uint8_t> &c = contexts[i];
        if (i + 1 < contexts.size()) {
            while (c.size() % 8)
                c.push_back(0);
            uint32_t next = uint32_t(c.size());
            for (int b = 0; b < 4; ++b)
                c[b] = uint8_t(next >> (8 * b));
        }
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

TEST(CreateContextsTest, RowsAreFoundByTheirTags)
{
    struct Row {
        const char *tag;
        uint32_t bit;
        bool answers;
    } rows[] = {{"MxAc", 0x10, true},
                {"SecD", 0x01, false},
                {"DHnQ", 0x02, false},
                {"DHnC", 0x04, false},
                {"ALSi", 0x08, false}};
    for (const Row &r : rows) {
        const CS2ContextRow *row = cs2FindCreateContext(reinterpret_cast<const uint8_t *>(r.tag), 4);
        ASSERT_NE(row, nullptr) << r.tag;
        EXPECT_EQ(row->bit, r.bit) << r.tag;
        EXPECT_EQ(row->respond != nullptr, r.answers) << r.tag;
    }
    EXPECT_EQ(cs2FindCreateContext(reinterpret_cast<const uint8_t *>("RqLs"), 4), nullptr);
    EXPECT_EQ(cs2FindCreateContext(reinterpret_cast<const uint8_t *>("MxAcX"), 5), nullptr);
    EXPECT_EQ(cs2CreateContextRow(CS2_CONTEXT_ROWS), nullptr);
}

TEST(CreateContextsTest, AWalkRecordsWhatEachContextAsks)
{
    std::vector<uint8_t> sd = {1, 0, 4, 0x80, 0, 0, 0, 0};
    std::vector<uint8_t> size = {0, 0x10, 0, 0, 1, 0, 0, 0};
    std::vector<uint8_t> message(64, 0xEE);
    std::vector<uint8_t> c =
        chain({context("MxAc", {}), context("SecD", sd), context("ALSi", size), context("RqLs", {1, 2, 3}),
               context("DHnQ", std::vector<uint8_t>(16, 0))});
    message.insert(message.end(), c.begin(), c.end());
    CS2CreateContextState state;
    int accepted = 0;
    ASSERT_EQ(cs2ParseCreateContexts(message.data(), uint32_t(message.size()), 64, uint32_t(c.size()), &state,
                                     &accepted),
              0u);
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(state.bits, 0x10u | 0x01u | 0x08u | 0x02u);
    ASSERT_NE(state.securityDescriptor, nullptr);
    EXPECT_EQ(state.securityDescriptorLength, 8u);
    EXPECT_EQ(std::vector<uint8_t>(state.securityDescriptor, state.securityDescriptor + 8), sd);
    EXPECT_EQ(state.allocationSize.low, 0x1000u);
    EXPECT_EQ(state.allocationSize.high, 1u);

    // A reconnect is refused and its data remembered.
    std::vector<uint8_t> r = context("DHnC", std::vector<uint8_t>(16, 7));
    ASSERT_EQ(cs2ParseCreateContexts(r.data(), uint32_t(r.size()), 0, uint32_t(r.size()), &state, &accepted),
              0u);
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(state.reconnect, r.data() + 24);
}

TEST(CreateContextsTest, FieldsOutsideTheMessageOrTheContextAreRefused)
{
    std::vector<uint8_t> good = chain({context("MxAc", {}), context("ALSi", std::vector<uint8_t>(8, 0))});
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        int width;
    } cases[] = {
        {"next past the chain", 0, 0x1000, 4},
        {"next inside the header", 0, 8, 4},
        {"next not aligned", 0, 25, 4},
        {"name past the context", 4, 30, 2},
        {"name inside the header", 4, 2, 2},
        {"name length past the context", 6, 100, 2},
        {"data offset past the chain", 24 + 10, 0xFFF0, 2},
        {"data length past the chain", 24 + 12, 0x7FFFFFF0, 4},
        {"data inside the header", 24 + 10, 4, 2},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bad = good;
        for (int i = 0; i < c.width; ++i)
            bad[c.at + i] = uint8_t(c.value >> (8 * i));
        CS2CreateContextState state;
        int accepted;
        EXPECT_EQ(cs2ParseCreateContexts(bad.data(), uint32_t(bad.size()), 0, uint32_t(bad.size()), &state,
                                         &accepted),
                  0xC000000Du)
            << c.what;
    }
    CS2CreateContextState state;
    int accepted;
    EXPECT_EQ(cs2ParseCreateContexts(good.data(), uint32_t(good.size()), 0, uint32_t(good.size()), &state,
                                     &accepted),
              0u);
    EXPECT_EQ(cs2ParseCreateContexts(good.data(), uint32_t(good.size()), 8, uint32_t(good.size()), &state,
                                     &accepted),
              0xC000000Du)
        << "chain past the message";
    EXPECT_EQ(cs2ParseCreateContexts(good.data(), 10, 0, 10, &state, &accepted), 0xC000000Du)
        << "short header";
    EXPECT_EQ(cs2ParseCreateContexts(nullptr, 0, 0, 0, &state, &accepted), 0u) << "no contexts";
}

TEST(CreateContextsTest, OnlyMaximalAccessIsAnswered)
{
    uint8_t out[64];
    CMBufferWriter writer;
    cmBufferWriterInit(&writer, out, sizeof out);
    CS2CreateContextState state{};
    state.bits = CS2_CONTEXT_MXAC | CS2_CONTEXT_DHNQ | CS2_CONTEXT_SECD;
    ASSERT_EQ(cs2PackCreateContexts(&writer, &state), 32u);
    EXPECT_EQ(fw_test::to_hex(out, 32), "00000000"
                                        "1000"
                                        "0400"
                                        "0000"
                                        "1800"
                                        "08000000"
                                        "4d784163"
                                        "00000000"
                                        "00000000"
                                        "ff011f00");
    state.bits = CS2_CONTEXT_DHNQ;
    cmBufferWriterInit(&writer, out, sizeof out);
    EXPECT_EQ(cs2PackCreateContexts(&writer, &state), 0u);
    // Too little room answers nothing.
    state.bits = CS2_CONTEXT_MXAC;
    cmBufferWriterInit(&writer, out, 20);
    EXPECT_EQ(cs2PackCreateContexts(&writer, &state), 0u);
}

TEST(IoctlRowsTest, EightCodesWithTheirFlags)
{
    struct Row {
        uint32_t code, flags;
        bool handled;
    } rows[] = {{0x00060194, 0, false}, {0x0011400C, 1, false}, {0x0011C017, 1, true}, {0x001440F2, 0, false},
                {0x00144064, 0, false}, {0x00140078, 0, false}, {0x000900C0, 1, true}, {0x00140204, 2, true}};
    for (const Row &r : rows) {
        const CS2IoctlRow *row = cs2FindIoctlMethod(r.code);
        ASSERT_NE(row, nullptr) << std::hex << r.code;
        EXPECT_EQ(row->flags, r.flags) << std::hex << r.code;
        EXPECT_EQ(row->handler != nullptr, r.handled) << std::hex << r.code;
    }
    EXPECT_EQ(cs2FindIoctlMethod(0x00098098), nullptr);
    CS2IoctlContext context{};
    EXPECT_EQ(cs2FindIoctlMethod(0x000900C0)->handler(&context), 0xC0000010u);
}

}  // namespace
