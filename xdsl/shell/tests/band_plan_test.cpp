// The band plan reader against a fake device, and the tone tests.
#include <cstdio>

#include "band_plan.h"
#include "fake_device.h"
#include "shell_fixture.h"

namespace {

class BandPlan : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
    }
    void set(int item, unsigned value)
    {
        char oid[16], text[16];
        std::snprintf(oid, sizeof oid, "2.1.%d", item);
        std::snprintf(text, sizeof text, "%06x", value);
        dev.values[oid] = text;
    }
    // Upstream pairs from 2.1.329 on, downstream pairs from 2.1.345 on.
    void bands(std::initializer_list<std::pair<unsigned, unsigned>> up,
               std::initializer_list<std::pair<unsigned, unsigned>> down)
    {
        int item = 329;
        for (auto p : up) {
            set(item++, p.first);
            set(item++, p.second);
        }
        item = 345;
        for (auto p : down) {
            set(item++, p.first);
            set(item++, p.second);
        }
    }
    fakedev::Device &dev = fakedev::device();
};

TEST_F(BandPlan, FirstBandEndingAtTone64OrBelowIsUs0)
{
    bands({{6, 32}, {870, 1205}, {1972, 2782}, {3000, 3100}, {4000, 4100}},
          {{33, 859}, {1216, 1961}, {2793, 2990}, {3200, 3900}});
    band_plan plan;
    EXPECT_EQ(read_band_plan(0, plan), 9u);
    const uint32_t want[BAND_PLAN_WORDS] = {6,    32,   33,   859,  870,  1205, 1216, 1961, 1972,
                                            2782, 2793, 2990, 3000, 3100, 3200, 3900, 4000, 4100};
    for (int i = 0; i < BAND_PLAN_WORDS; i++)
        EXPECT_EQ(plan[i], want[i]) << "word " << i;
}

TEST_F(BandPlan, Us0LimitIsTone64)
{
    struct Case {
        unsigned last;
        bool us0;
    } cases[] = {{64, true}, {65, false}};
    for (const Case &c : cases) {
        dev.values.clear();
        dev.requests.clear();
        bands({{6, c.last}, {870, 1205}, {1972, 2782}, {3000, 3100}, {4000, 4100}}, {});
        band_plan plan;
        read_band_plan(0, plan);
        if (c.us0) {
            EXPECT_EQ(plan[0], 6u);
            EXPECT_EQ(plan[1], c.last);
            EXPECT_EQ(plan[16], 4000u);
        } else {
            // No US0: the first upstream pair lands in US1 and the fifth is not read.
            EXPECT_EQ(plan[0], 0u);
            EXPECT_EQ(plan[1], 0u);
            EXPECT_EQ(plan[4], 6u);
            EXPECT_EQ(plan[5], c.last);
            EXPECT_EQ(plan[16], 3000u);
            EXPECT_EQ(plan[17], 3100u);
            for (const fakedev::Request &r : dev.requests)
                EXPECT_STRNE(reinterpret_cast<const char *>(r.block.data() + 1), "2.1.338")
                    << "fifth pair read";
        }
    }
}

TEST_F(BandPlan, CountsPresentBandsAndSkipsFailedReads)
{
    bands({{6, 32}, {870, 1205}}, {{33, 859}, {1216, 1961}});
    band_plan plan;
    EXPECT_EQ(read_band_plan(0, plan), 4u);

    dev.failures["2.1.346"] = 100;  // DS1 last tone unreadable: the band is absent
    EXPECT_EQ(read_band_plan(0, plan), 3u);
    EXPECT_EQ(plan[2], 33u);
    EXPECT_EQ(plan[3], 0u);
}

TEST_F(BandPlan, FailedProbeReadsTheUs0Layout)
{
    bands({{6, 32}}, {});
    dev.failures["2.1.330"] = 100;
    band_plan plan;
    EXPECT_EQ(read_band_plan(0, plan), 0u);
    EXPECT_EQ(plan[0], 6u);  // US0 slot, though its last tone stayed 0
}

TEST(ToneTests, EdgesAreInsideAndAbsentBandsMatchNothing)
{
    band_plan plan = {0, 40, 100, 200, 0, 0, 300, 400, 500, 600, 0, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        uint32_t tone;
        int us, ds;
    } cases[] = {
        {0, 1, 0},   {40, 1, 0},  {41, 0, 0},  {100, 0, 1}, {200, 0, 1},
        {500, 1, 0}, {600, 1, 0}, {601, 0, 0}, {350, 0, 1}, {0xFFFFFFFF, 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(tone_in_us_band(c.tone, plan), c.us) << c.tone;
        EXPECT_EQ(tone_in_ds_band(c.tone, plan), c.ds) << c.tone;
    }
    band_plan empty = {};
    EXPECT_EQ(tone_in_us_band(0, empty), 0);  // (0, 0) matches not even tone 0
    EXPECT_EQ(tones_in_ds_band(900, 150, plan), 1);
    EXPECT_EQ(tones_in_ds_band(150, 900, plan), 1);
    EXPECT_EQ(tones_in_ds_band(900, 0, plan), 0);
    EXPECT_EQ(tones_in_us_band(900, 0, plan), 1);
}

}  // namespace
