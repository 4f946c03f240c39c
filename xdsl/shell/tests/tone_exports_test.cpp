// Per-tone exports: values and labels on the screen, the export files byte
// for byte, the copy stream, and where no export file may be written.
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include <gmock/gmock.h>

#include "cfgmgr_access.h"
#include "cli_print.h"
#include "tone_exports.h"
#include "tone_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class ToneExports : public shelltest::ToneTest {
protected:
    void SetUp() override
    {
        ToneTest::SetUp();
        // DS1 at tones 1-4 and US0 at 5-64: the group 1-8 straddles them.
        bands({{5, 64}}, {{1, 4}, {65, 2000}});
        store("SCSTATUS_DIR", dir_);
    }
    std::string file(const char *name) const { return read(dir_ + "/" + name); }
};

TEST_F(ToneExports, HlogValuesLabelsAndFile)
{
    word("0.6.4", 0, 0x000000);    // tones 1-8: 6.0
    word("0.6.4", 8, 0x0003FE);    // tones 65-72: m = 1022
    word("0.6.4", 299, 0x000014);  // tones 2393-2400, outside every band
    word("0.6.4", 300, 0x0003FF);  // not available: skipped
    ASSERT_EQ(export_hlog(0, nullptr, 0), 0);
    EXPECT_EQ(take(), "SCStatusSegmentLog of Line 1:\n"
                      "      Tone No.         dB\n"
                      "US:     1-   8|       6.0\n"
                      "DS:    65-  72|     -96.2\n"
                      "--:  2393-2400|       4.0\n");
    EXPECT_EQ(file("scseg_log.txt"), "US:1-8=6.0|DS:65-72=-96.2|--:2393-2400=4.0|");
}

TEST_F(ToneExports, ProfileZeroIsOneToneAnEntry)
{
    value("0.1.26", 0);
    word("0.6.4", 0, 0x00000A);
    byte("0.6.6", 0, 0x00);
    ASSERT_EQ(export_hlog(0, nullptr, 1), 0);
    EXPECT_EQ(take(), "SCStatusSegmentLog of Line 1:\n"
                      "      Tone No.         dB\n"
                      "DS:     1.0|       5.0\n");
    EXPECT_EQ(file("scseg_log.txt"), "DS:1.0=5.0|");
    ASSERT_EQ(export_snr(0, nullptr, 1), 0);
    // SNR alone writes a blank after "=" for single tones.
    EXPECT_EQ(file("scseg_snr.txt"), "DS:1.0= -32.0|");
}

TEST_F(ToneExports, QlnAndSnrByteValues)
{
    struct Case {
        int (*run)(int, FILE *, int);
        const char *oid, *file, *want;
    } cases[] = {
        {export_qln, "0.6.5", "scseg_qln.txt", "US:1-8=-23.0|DS:65-72=-150.0|"},
        {export_snr, "0.6.6", "scseg_snr.txt", "US:1-8=-32.0|DS:65-72=95.0|"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.oid);
        byte(c.oid, 0, 0);
        byte(c.oid, 8, 254);
        byte(c.oid, 511, 255);  // the last of 512 bytes: not available
        ASSERT_EQ(c.run(0, nullptr, 1), 0);
        EXPECT_EQ(file(c.file), c.want);
        take();
    }
}

TEST_F(ToneExports, HlinValuesAndNotAvailableParts)
{
    word("0.6.2", 0, 0x007FFF);
    word("0.6.3", 0, 0x008001);
    word("0.6.2", 8, 0x008000);  // real part missing, imaginary 0
    word("0.6.3", 8, 0x000000);
    ASSERT_EQ(export_hlin(0, nullptr), 0);
    EXPECT_EQ(take(), "H(f) linear representation of Line 1 :\n"
                      " Tone No.                 Real              Imaginary\n"
                      "   1-   8|       31.9990234375         -31.9990234375\n"
                      "  65-  72|                  NA           0.0000000000\n");
    EXPECT_EQ(file("scseg_lin.txt"), "1-8=31.9990234375,-31.9990234375|65-72=,0.0000000000|");
}

TEST_F(ToneExports, CopyStreamGetsTheScreenTextWithoutLineEnds)
{
    word("0.6.4", 0, 0x000000);
    std::string path = dir_ + "/copy";
    FILE *copy = std::fopen(path.c_str(), "w");
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(export_hlog(0, copy, 1), 0);
    std::fclose(copy);
    EXPECT_EQ(read(path), "SCStatusSegmentLog of Line 1:      Tone No.         dBUS:     1-   8|       6.0");
}

TEST_F(ToneExports, FreshSegmentsOnlyWhenAsked)
{
    ASSERT_EQ(export_snr(0, nullptr, 0), 0);
    EXPECT_TRUE(dev.values.count("2.1.124")) << "the chip was asked for fresh segments";
    dev.values.erase("2.1.124");
    ASSERT_EQ(export_snr(0, nullptr, 1), 0);
    EXPECT_FALSE(dev.values.count("2.1.124"));
}

TEST_F(ToneExports, FailedReadsAreReturned)
{
    dev.failures["mem"] = 104;
    EXPECT_EQ(export_hlog(0, nullptr, 1), 104);
    EXPECT_EQ(take(), "SCStatusSegmentLog of Line 1:\n") << "the heading, then nothing";
    EXPECT_FALSE(exists(dir_ + "/scseg_log.txt"));
    EXPECT_EQ(export_hlin(0, nullptr), 104);
    EXPECT_EQ(take(), "") << "HLIN prints nothing when a read fails";
    dev.failures.clear();
    dev.failures["0.4.2"] = 110;
    EXPECT_EQ(export_hlin(0, nullptr), 110) << "no scale, no values";
}

TEST_F(ToneExports, NoDirectoryValueWritesNoFileButShowsAll)
{
    store("SCSTATUS_DIR", dir_);
    word("0.6.4", 0, 0x000000);
    ASSERT_EQ(export_hlog(0, nullptr, 1), 0);
    std::string with_file = take();
    std::remove((dir_ + "/scseg_log.txt").c_str());
    ASSERT_EQ(cfgmgr_remove("SCSTATUS_DIR"), 0);
    ASSERT_EQ(export_hlog(0, nullptr, 1), 0);
    EXPECT_EQ(take(), with_file);
    EXPECT_FALSE(exists(dir_ + "/scseg_log.txt"));
}

TEST_F(ToneExports, DirectoryWithoutRoomForTheNameWritesNoFile)
{
    // The path holds 99 characters: "DIR/scseg_log.txt" fits exactly with a
    // directory of 85; one more and not even a cut name may appear.
    const std::string name = "scseg_log.txt";
    for (size_t extra : {0u, 1u}) {
        SCOPED_TRACE(extra);
        std::string dir = dir_ + "/";
        dir += std::string(TONE_EXPORT_PATH_SIZE - 1 - name.size() - 1 - dir.size() + extra, 'd');
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        store("SCSTATUS_DIR", dir);
        ASSERT_EQ(export_hlog(0, nullptr, 1), 0);
        EXPECT_EQ(exists(dir + "/" + name), extra == 0);
        std::string cut = (dir + "/" + name).substr(0, TONE_EXPORT_PATH_SIZE - 1);
        if (extra)
            EXPECT_FALSE(exists(cut)) << cut;
    }
}

class Allocation : public ToneExports {
protected:
    void SetUp() override
    {
        ToneExports::SetUp();
        bands({{5, 64}}, {{65, 100}, {900, 1020}});
        std::vector<unsigned> up(512, 0x000200), down(512, 0x000200);
        up[4] = 0xA55134;  // tone 5: 5 bits, g = 0x134
        for (unsigned s = 1; s <= 8; s++) {
            allocation[{s, false}] = up;
            allocation[{s, true}] = down;
        }
    }
};

TEST_F(Allocation, BitsPerToneFromItsDirection)
{
    ASSERT_EQ(export_bits_alloc(0, nullptr), 0);
    std::string want;
    for (int t = 1; t <= 4096; t++)
        want += std::to_string(t) + "=" + (t == 5 ? "5" : "0") + "|";
    EXPECT_EQ(file("scseg_bits_alloc.txt"), want);
    std::string out = take();
    EXPECT_THAT(out, StartsWith("SCStatusSegmentBitsAlloc of Line 1 : Tone No.|Bits\n"
                                "   1|  0    2|  0    3|  0    4|  0 \n"
                                "\nUS0: start from 5 to 64\n   5|  5    6|  0 "));
    EXPECT_THAT(out, HasSubstr("  64|  0 \nUS0 end\n\n\nDS1: start from 65 to 100\n  65|  0 "));
    EXPECT_EQ(selections, 16) << "eight segments, each upstream and downstream";
}

TEST_F(Allocation, GainGroupsOfEightBetweenBandEdges)
{
    ASSERT_EQ(export_gain_alloc(0, nullptr), 0);
    std::string f = file("scseg_gain_alloc.txt");
    EXPECT_THAT(f, StartsWith("1-4=0 0 0 0|5-12=0.60156 1.00000 1.00000 1.00000 1.00000 1.00000 1.00000 "
                              "1.00000|13-20=1.00000 "));
    EXPECT_THAT(f, HasSubstr("|61-64=1.00000 1.00000 1.00000 1.00000|65-72=1.00000 "));
    EXPECT_THAT(f, HasSubstr("|1012-1019=1.00000 1.00000 1.00000 1.00000 1.00000 1.00000 1.00000 1.00000|"
                             "1020-1020=1.00000|1021-1028=0 0 0 0 0 0 0 0|"))
        << "a band edge closes a group under the label of its tones";
    EXPECT_THAT(f, ::testing::EndsWith("|4093-4096=0 0 0 0|")) << "the last group is written too";
    std::string out = take();
    EXPECT_THAT(out, StartsWith("SCStatusSegmentGainAlloc of Line 1 : Tone No.|Gain\n"
                                "   1|     0    2|     0    3|     0    4|     0 \n"
                                "\nUS0: start from 5 to 64\n   5|0.60156    6|1.00000 "));
}

TEST_F(Allocation, FailedThirdSelectionShowsTwoSegments)
{
    fail_selection = 5;  // segment 3, upstream
    EXPECT_EQ(export_bits_alloc(0, nullptr), 1);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("1020|  0 \nDS2 end\n\n1021|  0 1022|  0 1023|  0 1024|  0 \n"))
        << "the pending line after the band end is printed";
    EXPECT_THAT(out, Not(HasSubstr("1025|")));
    EXPECT_EQ(selections, 5);
}

TEST_F(Allocation, SocketReopenFailureEndsBeforeAnySegment)
{
    dev.handler = [](unsigned long number, unsigned char *b, std::size_t size) {
        return number == VDSL_REOPEN_SOCKET ? 112 : fakedev::builtin_answer(number, b, size);
    };
    EXPECT_EQ(export_gain_alloc(0, nullptr), 112);
    EXPECT_EQ(take(), "SCStatusSegmentGainAlloc of Line 1 : Tone No.|Gain\n");
    EXPECT_EQ(export_bits_alloc(0, nullptr), 112);
    EXPECT_EQ(take(), "") << "bits print their heading after the reopen";
    EXPECT_EQ(file("scseg_bits_alloc.txt"), "") << "the file was opened and closed empty";
}

}  // namespace
