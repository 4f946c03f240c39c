// Line tuning of "util misc": bit swapping, user PSD masks and tone
// blackouts, with a fake device and the configuration manager stand-in.
#include <cstdio>
#include <string>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "shell_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class LineTuning : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
    }
    std::string key(const char *name)
    {
        char line[512];
        return cfgmgr_read(name, line, sizeof line) == CFGMGR_READ_OK ? cfgmgr_value_trim(line) : "<none>";
    }
    int writes() const
    {
        int n = 0;
        for (const fakedev::Request &r : dev.requests)
            n += r.number == VDSL_SET_DATA_LOGIC;
        return n;
    }
    static std::string sections(std::initializer_list<std::pair<unsigned, unsigned>> list)
    {
        std::string text;
        char s[16];
        for (auto p : list) {
            std::snprintf(s, sizeof s, "%06x%06x", p.first, p.second);
            text += s;
        }
        text.resize(384, '0');
        return text;
    }
    // 16 ascending breakpoints: level 0x20, tones 0x10 apart.
    static std::string us_mask()
    {
        std::string text;
        char w[8];
        for (int i = 0; i < 16; i++) {
            std::snprintf(w, sizeof w, "20%04x", 0x10 * (i + 1));
            text += w;
        }
        return text;
    }
    fakedev::Device &dev = fakedev::device();
};

TEST_F(LineTuning, BitSwapChangesOnlyItsBit)
{
    struct Case {
        const char *start, *line, *written;
    } cases[] = {
        {"600001", "util misc bitSwap 1 ds off", "200001"},
        {"000001", "util misc bitSwap 1 us on", "200001"},
        {"000001", "util misc bitSwap 1 ds on", "400001"},
        {"200000", "util misc bitSwap 1 us off", "0"},
    };
    for (const Case &c : cases) {
        dev.values["2.1.9"] = c.start;
        EXPECT_EQ(run(c.line), 0) << c.line;
        EXPECT_EQ(dev.values["2.1.9"], c.written) << c.line;
    }
    EXPECT_EQ(run("util misc bitSwap 1 up on"), CLI_USAGE);
    EXPECT_EQ(run("util misc bitSwap 1 us maybe"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage: cmd <port id> <us/ds> <on/off>\nUsage: cmd <port id> <us/ds> <on/off>\n");
    EXPECT_EQ(run("util misc bitSwap 2 us on"), CLI_FAILED);

    // A word that cannot be read is not written back.
    dev.requests.clear();
    dev.failures["2.1.9"] = 104;
    take();
    EXPECT_EQ(run("util misc bitSwap 1 us on"), CLI_FAILED);
    EXPECT_EQ(take(), "Setting MIB value failed.\n");
    EXPECT_EQ(writes(), 0);
}

TEST_F(LineTuning, PsdSetWritesTheChipThenTheKey)
{
    const std::string mask = us_mask();
    EXPECT_EQ(run("util misc psd-set 1 us " + mask), 0);
    EXPECT_EQ(dev.values["0.10.8"], mask);
    EXPECT_EQ(key("USR_PSD_MASK_US_P1"), mask);
    EXPECT_EQ(run("util misc psd-show 1 us"), 0);
    EXPECT_EQ(take(), "PSDs: " + mask + "\n");

    struct Case {
        std::string line;
        int rc;
        const char *last;
    } cases[] = {
        {"util misc psd-set 1 up " + mask, CLI_USAGE, "The direction is not acceptable.\n"},
        {"util misc psd-set 1 ds " + mask, CLI_USAGE, "The PSD mask is illegal.\n"},
        {"util misc psd-set 1 us " + mask + "00", CLI_USAGE, "The PSD mask is illegal.\n"},
        {"util misc psd-set 1 us " + mask + mask + mask, CLI_USAGE, "The PSD mask is illegal.\n"},
        {"util misc psd-set 1 us", CLI_USAGE,
         "psd_values is 96 hex encode for upstream and 192 hex encode for downstream\n"},
        {"util misc psd-show 1 up", CLI_USAGE, ""},
        {"util misc psd-show 1", CLI_USAGE, "Usage: cmd <portid> <direction>\n"},
    };
    dev.requests.clear();
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.line), c.rc) << c.line;
        std::string out = take();
        EXPECT_EQ(out.substr(out.size() - std::string(c.last).size()), c.last) << c.line << ":\n" << out;
    }
    EXPECT_EQ(writes(), 0);
    EXPECT_EQ(key("USR_PSD_MASK_US_P1"), mask);
    EXPECT_EQ(key("USR_PSD_MASK_DS_P1"), "<none>");

    // A refused chip write stores nothing either.
    dev.failures["0.10.8"] = 104;
    EXPECT_EQ(run("util misc psd-set 1 us " + std::string(mask).replace(0, 2, "30")), 104);
    EXPECT_EQ(take().substr(0, 24), "Error setting MIB value.");
    EXPECT_EQ(key("USR_PSD_MASK_US_P1"), mask);
    EXPECT_EQ(run("util misc psd-show 1 us"), 104);
    EXPECT_EQ(take(), "Error getting MIB value.\n");
}

TEST_F(LineTuning, BlackToneKeepsASortedListWithoutOverlaps)
{
    EXPECT_EQ(run("util misc black_tone 1 100 200"), 0);
    EXPECT_EQ(take(), "[100, 200] has been blacked out.\n");
    EXPECT_EQ(dev.values["0.9.4"], sections({{100, 200}}));
    EXPECT_EQ(run("util misc black_tone 1 150 300"), CLI_FAILED);
    EXPECT_EQ(take(), "Overlapped mask not allowed.\n");
    EXPECT_EQ(run("util misc black_tone 1 10 20"), 0);
    EXPECT_EQ(dev.values["0.9.4"], sections({{10, 20}, {100, 200}}));
    take();
    EXPECT_EQ(run("util misc show_black_tone 1"), 0);
    EXPECT_EQ(take(), "Index\tStart Tone\tLast Tone\n"
                      "    1\t        10\t       20\n"
                      "    2\t       100\t      200\n \n");
    EXPECT_EQ(run("util misc disblack_tone 1 1"), 0);
    EXPECT_EQ(take(), "Target tone section has been disblacked.\n");
    EXPECT_EQ(dev.values["0.9.4"], sections({{100, 200}}));
}

TEST_F(LineTuning, BlackToneArgumentsAndRanges)
{
    struct Case {
        const char *line;
        int rc;
        const char *out;
    } cases[] = {
        {"util misc black_tone 1 0 0", CLI_USAGE,
         "Usage: cmd <portid> <start tone> <last tone>\nTone range: 0 ~ 8191\n"
         "Tone range [0, 0] is not allowed to black\n"},
        {"util misc black_tone 1 0 8192", CLI_USAGE, "Tone range is illegal.\n"},
        {"util misc black_tone 1 20 10", CLI_USAGE, "Tone range is illegal.\n"},
        {"util misc disblack_tone 1 1", CLI_USAGE, "Tone index is illegal.\n"},
        {"util misc disblack_tone 1 -1", CLI_USAGE, "Tone index is illegal.\n"},
        {"util misc disblack_tone 1", CLI_USAGE,
         "Usage: cmd <portid> <section idx>\nrun showBlackedTone cmd to have the section idx\n"},
        {"util misc show_black_tone", CLI_USAGE, "Usage: cmd <portid>\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.line), c.rc) << c.line;
        EXPECT_EQ(take(), c.out) << c.line;
    }
    EXPECT_EQ(writes(), 0);
    EXPECT_EQ(run("util misc black_tone 1 0 40"), 0);  // [0, 40] is allowed
}

TEST_F(LineTuning, ThirtyThirdSectionIsRefused)
{
    std::string full;
    char s[16];
    for (unsigned i = 0; i < 32; i++) {
        std::snprintf(s, sizeof s, "%06x%06x", 10 + 10 * i, 15 + 10 * i);
        full += s;
    }
    dev.values["0.9.4"] = full;
    for (const char *line : {"util misc black_tone 1 1000 1001", "util misc black_tone 1 1 2"}) {
        EXPECT_EQ(run(line), CLI_FAILED) << line;
        std::string out = take();
        EXPECT_NE(out.find("black failed."), std::string::npos) << out;
        EXPECT_EQ(out.find("has been blacked out"), std::string::npos) << out;
    }
    EXPECT_EQ(writes(), 0);
    EXPECT_EQ(dev.values["0.9.4"], full);
    EXPECT_EQ(run("util misc disblack_tone 1 32"), 0);
    EXPECT_EQ(dev.values["0.9.4"], full.substr(0, 31 * 12) + "000000000000");
}

TEST_F(LineTuning, FailedListReadWritesNothing)
{
    dev.failures["0.9.4"] = 104;
    EXPECT_EQ(run("util misc black_tone 1 10 20"), 104);
    EXPECT_EQ(take(), "Getting MIB failed.\n[10, 20] black failed.\n");
    EXPECT_EQ(run("util misc disblack_tone 1 1"), 104);
    EXPECT_EQ(take(), "Getting MIB failed.\nSetting MIB failed.\n");
    EXPECT_EQ(run("util misc show_black_tone 1"), 104);
    EXPECT_EQ(take(), "Getting MIB failed.\n");
    EXPECT_EQ(writes(), 0);
}

}  // namespace
