// Decoders of chip answers: PSD breakpoints and their expansion, the
// inventory version forms and the tone blackout list.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "chip_answers.h"

namespace {

using namespace chip_answers;

// Writes what the expansion prints, as the display would.
class Recorder : public PsdEmitter {
public:
    void record(uint32_t tone, float level) override { records += format("%d=%.1f|", tone, level); }
    void value(uint32_t tone, float level) override { out += format("%4d|%-6.1f ", tone, level); }
    void gap(uint32_t tone) override { out += format("%4d|-100.0 ", tone, 0); }
    void line_break() override { out += "\n"; }
    std::string records, out;

private:
    static std::string format(const char *f, uint32_t tone, float level)
    {
        char text[64];
        if (std::strstr(f, "%.1f") || std::strstr(f, "%-6.1f"))
            std::snprintf(text, sizeof text, f, static_cast<int>(tone), static_cast<double>(level));
        else
            std::snprintf(text, sizeof text, f, static_cast<int>(tone));
        return text;
    }
};

std::string bp(unsigned tone, unsigned word)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06x%06x", tone, word);
    return text;
}

const int32_t kNoEdges[kBandEdges] = {-1, -1, -1, -1, -1};

TEST(PsdBreakpoints, LevelWordsBecomeDbmPerHz)
{
    auto p = decode_psd_breakpoints((bp(1, 0x578) + bp(2, 0x1F4) + bp(3, 0)).c_str(), kPsdBreakpointsUs);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_FLOAT_EQ(p[0].level, 0.0f);
    EXPECT_FLOAT_EQ(p[1].level, -90.0f);
    EXPECT_FLOAT_EQ(p[2].level, kNoLevel);
}

TEST(PsdBreakpoints, DecodingStopsAtTheLimitAShortTailOrABadDigit)
{
    std::string many;
    for (unsigned i = 0; i < 60; i++)
        many += bp(i, 500);
    EXPECT_EQ(decode_psd_breakpoints(many.c_str(), kPsdBreakpointsUs).size(), 32u);
    EXPECT_EQ(decode_psd_breakpoints(many.c_str(), kPsdBreakpointsDs).size(), 48u);
    EXPECT_EQ(decode_psd_breakpoints((bp(1, 2) + "00000").c_str(), 32).size(), 1u);
    EXPECT_EQ(decode_psd_breakpoints((bp(1, 2) + "00000g000000" + bp(3, 4)).c_str(), 32).size(), 1u);
    EXPECT_TRUE(psd_absent("c69a53000000"));
    EXPECT_FALSE(psd_absent("c69a5"));
}

TEST(PsdBreakpoints, BandEndToneIsTheTopTwelveBits)
{
    EXPECT_EQ(band_end_tone("0c8123"), 0x0c8);
    EXPECT_EQ(band_end_tone("ff"), -1);
    EXPECT_EQ(band_end_tone("x00000"), -1);
}

TEST(PsdExpansion, SegmentBetweenTwoBreakpoints)
{
    Recorder r;
    expand_psd(decode_psd_breakpoints((bp(100, 500) + bp(104, 540)).c_str(), 32), kNoEdges, false, r);
    EXPECT_EQ(r.out, " 100|-90.0   101|-89.0   102|-88.0   103|-87.0  \n");
    EXPECT_EQ(r.records, "100=-90.0|104=-86.0|");

    // 104 closes a band: it is printed too.
    const int32_t edges[kBandEdges] = {104, -1, -1, -1, -1};
    Recorder e;
    expand_psd(decode_psd_breakpoints((bp(100, 500) + bp(104, 540)).c_str(), 32), edges, false, e);
    EXPECT_EQ(e.out, " 100|-90.0   101|-89.0   102|-88.0   103|-87.0   104|-86.0  \n");
}

TEST(PsdExpansion, GapBetweenBandsAndLineBreaksEveryEighthValue)
{
    const int32_t edges[kBandEdges] = {200, -1, -1, -1, -1};
    Recorder r;
    expand_psd(decode_psd_breakpoints((bp(198, 500) + bp(200, 500) + bp(205, 500)).c_str(), 32), edges, false,
               r);
    EXPECT_EQ(r.out,
              " 198|-90.0   199|-90.0   200|-90.0   201|-100.0  202|-100.0  203|-100.0  204|-100.0 \n");

    Recorder lines;
    expand_psd(decode_psd_breakpoints((bp(0, 500) + bp(10, 500)).c_str(), 32), kNoEdges, false, lines);
    EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 2);  // after value 8, and at the end
    EXPECT_EQ(lines.out.find('\n'), 8 * 12u);
}

TEST(PsdExpansion, SilentModeKeepsRecordsOnly)
{
    const int32_t edges[kBandEdges] = {200, -1, -1, -1, -1};
    Recorder r;
    expand_psd(
        decode_psd_breakpoints((bp(100, 500) + bp(200, 500) + bp(205, 500) + bp(300, 500)).c_str(), 32),
        edges, true, r);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.records, "100=-90.0|200=-90.0|205=-90.0|300=-90.0|");
}

TEST(PsdExpansion, BreakpointsWithoutLevelAreSkippedAndToneZeroOnlyWithALevel)
{
    Recorder r;
    expand_psd(decode_psd_breakpoints((bp(0, 0) + bp(5, 500) + bp(7, 0) + bp(9, 500)).c_str(), 32), kNoEdges,
               false, r);
    EXPECT_EQ(r.records, "5=-90.0|7=-140.0|9=-90.0|");
    EXPECT_EQ(r.out, "\n");
}

TEST(PsdExpansion, ToneThatDoesNotRiseHasNoSegment)
{
    Recorder r;
    expand_psd(decode_psd_breakpoints((bp(100, 500) + bp(100, 600) + bp(50, 600)).c_str(), 32), kNoEdges,
               false, r);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.records, "100=-90.0|100=-80.0|50=-80.0|");
}

TEST(PsdExpansion, EdgeIndexStopsAfterFiveBands)
{
    // Six breakpoints on the five edges and one more: no sixth edge is looked up.
    const int32_t edges[kBandEdges] = {10, 20, 30, 40, 50};
    std::string text;
    for (unsigned t : {5u, 10u, 12u, 20u, 22u, 30u, 32u, 40u, 42u, 50u, 52u, 60u})
        text += bp(t, 500);
    Recorder r;
    expand_psd(decode_psd_breakpoints(text.c_str(), 48), edges, false, r);
    EXPECT_NE(r.out.find("  59|-90.0"), std::string::npos);
    EXPECT_EQ(r.out.find("  60|"), std::string::npos);
}

TEST(PsdExpansion, TonesBeyondTheChipRangeAreNotExpanded)
{
    Recorder r;
    expand_psd(decode_psd_breakpoints((bp(8190, 500) + bp(0xFFFFFF, 500)).c_str(), 32), kNoEdges, false, r);
    EXPECT_EQ(r.out, "8190|-90.0  8191|-90.0  \n");
}

TEST(InventoryVersion, ThreeForms)
{
    const unsigned char other[kVendorBytes] = {0xb5, 0x00, 'A', 'B', 'C', 'D', 0, 0, 0};
    const unsigned char sorv[kVendorBytes] = {0xb5, 0x00, 'S', 'O', 'R', 'V', 0, 0, 0};
    const unsigned char text_version[kVersionBytes] = {'V', '1', '.', '2', 0};
    const unsigned char octet_version[kVersionBytes] = {0x01, 0x02, 0x03, 0x12, 0xaa, 0xbb, 0xcc, 0xdd,
                                                        0xee, 0xff, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const unsigned char b62_version[kVersionBytes] = {'b', 'B', 'a', 'z', '9', '!', 'c', 0};

    InventoryVersion raw = decode_inventory_version(other, text_version);
    EXPECT_EQ(raw.form, InventoryVersion::Raw);
    EXPECT_EQ(raw.text, "V1.2");
    EXPECT_EQ(raw.octets, "56312E32000000000000000000000000");

    InventoryVersion octets = decode_inventory_version(sorv, octet_version);
    EXPECT_EQ(octets.form, InventoryVersion::Octets);
    EXPECT_EQ(octets.text, "010203_12AABB_CCDDEE_FF001122334455");

    // 'b'=1; 'B'=27,'a'=0; 'z'=25,'9'=61; '!' repeats 61,'c'=2.
    InventoryVersion b62 = decode_inventory_version(sorv, b62_version);
    EXPECT_EQ(b62.form, InventoryVersion::Base62);
    EXPECT_EQ(b62.text, "1_1674_1611_3784");
    EXPECT_EQ(b62.raw, "bBaz9!c");
}

TEST(InventoryVersion, TextsStopAtTheirSizeWithoutATerminator)
{
    unsigned char full[kSerialBytes];
    std::memset(full, 'S', sizeof full);
    EXPECT_EQ(bounded_text(full, sizeof full), std::string(32, 'S'));
    const unsigned char sorv[kVendorBytes] = {0, 0, 'S', 'O', 'R', 'V', 'x', 'y', 'z'};
    unsigned char version[kVersionBytes];
    std::memset(version, '7', sizeof version);
    EXPECT_EQ(decode_inventory_version(sorv, version).raw, std::string(16, '7'));
}

TEST(BlackoutList, InsertKeepsOrderAndRefusesOverlaps)
{
    std::vector<ToneSection> list;
    EXPECT_EQ(blackout_insert(list, 100, 200), InsertResult::Done);
    EXPECT_EQ(encode_blackout_list(list).substr(0, 24), "0000640000c8000000000000");
    struct Case {
        uint32_t first, last;
        InsertResult want;
    } cases[] = {
        {150, 300, InsertResult::Overlap}, {100, 120, InsertResult::Overlap},
        {50, 100, InsertResult::Overlap},  {50, 250, InsertResult::Overlap},
        {200, 250, InsertResult::Overlap}, {10, 20, InsertResult::Done},
        {300, 400, InsertResult::Done},    {201, 299, InsertResult::Done},
    };
    for (const Case &c : cases)
        EXPECT_EQ(blackout_insert(list, c.first, c.last), c.want) << c.first << "-" << c.last;
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].first, 10u);
    EXPECT_EQ(list[1].first, 100u);
    EXPECT_EQ(list[2].first, 201u);
    EXPECT_EQ(list[3].first, 300u);
}

TEST(BlackoutList, ThirtyThreeSectionsDoNotFit)
{
    std::vector<ToneSection> list;
    for (uint32_t i = 0; i < kBlackoutSections; i++)
        ASSERT_EQ(blackout_insert(list, 10 + 10 * i, 15 + 10 * i), InsertResult::Done);
    const std::string full = encode_blackout_list(list);
    EXPECT_EQ(full.size(), kBlackoutChars);
    EXPECT_EQ(blackout_insert(list, 1000, 1001), InsertResult::Full);
    EXPECT_EQ(blackout_insert(list, 1, 2), InsertResult::Full);
    EXPECT_EQ(encode_blackout_list(list), full);
    EXPECT_EQ(decode_blackout_list(full.c_str()).size(), kBlackoutSections);
}

TEST(BlackoutList, DecodeEndsAtZeroSectionShortTailOrBadDigit)
{
    EXPECT_EQ(decode_blackout_list("00000a000014000000000000000064").size(), 1u);
    EXPECT_EQ(decode_blackout_list("000000000028").size(), 1u);  // [0, 40] is a section
    EXPECT_EQ(decode_blackout_list("00000a00001400006").size(), 1u);
    EXPECT_EQ(decode_blackout_list("00000a00001400z064000100").size(), 1u);
    EXPECT_TRUE(decode_blackout_list("").empty());
}

}  // namespace
