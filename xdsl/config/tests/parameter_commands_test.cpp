// Parameter commands: ranges, value texts and refusals.
#include <string>

#include <gmock/gmock.h>

#include "command_tree.h"
#include "profile_fixture.h"
#include "vdsl_profiles.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;

class Parameters : public proftest::ProfileTest {
protected:
    void SetUp() override
    {
        ProfileTest::SetUp();
        for (const char *line : {"profiles line-profile new L", "profiles chan-profile new C",
                                 "profiles line-alarm-profile new LA", "profiles chan-alarm-profile new CA",
                                 "profiles pre-define vn-new V", "profiles pre-define psd-new P",
                                 "profiles pre-define rfi-new R", "profiles pre-define dpb-new D"})
            ASSERT_EQ(run(line), 0) << line;
        take();
    }
    std::string value(int type, const char *name, int slot)
    {
        return profile_record_value(profile_find(type, name), slot);
    }
};

struct SetCase {
    const char *line;
    int result;
    int type;
    const char *name;
    int slot;
    const char *value;  // the slot afterwards
};

TEST_F(Parameters, NumericSettersTable)
{
    const SetCase cases[] = {
        {"line-profile set targetSnrmDs L 310", 0, 2, "L", 7, "136"},
        {"line-profile set targetSnrmDs L 311", -111, 2, "L", 7, "136"},
        {"line-profile set targetSnrmDs L -1", -111, 2, "L", 7, "136"},
        {"line-profile set maxNomPsdDs L -300", 0, 2, "L", 48, "fffed4"},
        {"line-profile set maxNomPsdDs L -601", -111, 2, "L", 48, "fffed4"},
        {"line-profile set maxNomPsdDs L -299", -111, 2, "L", 48, "fffed4"},
        {"line-profile set maxNomPsdUs L -600", 0, 2, "L", 49, "fffda8"},
        {"line-profile set upboKLF L 1", 0, 2, "L", 18, "1"},
        {"line-profile set upboKLF L 2", -111, 2, "L", 18, "1"},
        {"line-profile set upboKLF L 3", 0, 2, "L", 18, "3"},
        {"line-profile set handshakeTone L 7", 0, 2, "L", 17, "7"},
        {"line-profile set handshakeTone L 3", -111, 2, "L", 17, "7"},
        {"line-profile set handshakeTone L 6", -111, 2, "L", 17, "7"},
        {"line-profile set automodeLength L 1500", 0, 2, "L", 51, "5dc"},
        {"line-profile set automodeLength L 1499", -111, 2, "L", 51, "5dc"},
        {"line-profile set automodeLength L 3901", -111, 2, "L", 51, "5dc"},
        {"line-profile set automodeLength L 3900", 0, 2, "L", 51, "f3c"},
        {"line-profile set upboPsdA3 L 8095", 0, 2, "L", 25, "1f9f"},
        {"line-profile set dpboFMax L 31", -111, 2, "L", 33, "200"},
        {"line-profile set bandConfig L 2", 0, 2, "L", 52, "2"},
        {"line-profile set IOT L 65535", 0, 2, "L", 53, "65535"},
        {"line-profile set IOT L 65536", -111, 2, "L", 53, "65535"},
        {"line-profile set bitSwapDs L off", 0, 2, "L", 15, "off"},
        {"line-profile set led L maybe", -111, 2, "L", 13, "off"},
        {"line-profile set us0disable L disable", 0, 2, "L", 16, "disable"},
        {"chan-profile set minInpDsCh1 C 0", -111, 3, "C", 6, "4"},
        {"chan-profile set minInpDsCh1 C 18", 0, 3, "C", 6, "12"},
        {"chan-profile set maxDataRateUsCh1 C 200000", 0, 3, "C", 3, "30d40"},
        {"chan-profile set maxDelayDsCh1 C 256", -111, 3, "C", 4, "8"},
        {"line-alarm-profile set shrtInt LA 8388607", 0, 5, "LA", 11, "7fffff"},
        {"line-alarm-profile set shrtInt LA 8388608", -111, 5, "LA", 11, "7fffff"},
        {"chan-alarm-profile set cvThresXtur CA 5", 0, 6, "CA", 2, "5"},
        {"chan-alarm-profile set cvThresXtur CA", -111, 6, "CA", 2, "5"},
    };
    for (const SetCase &c : cases) {
        EXPECT_EQ(run(std::string("profiles ") + c.line), c.result) << c.line;
        EXPECT_EQ(value(c.type, c.name, c.slot), c.value) << c.line;
    }
}

TEST_F(Parameters, EverySetterOfTheTreeRefusesAMissingValue)
{
    int seen = 0;
    for (unsigned d = 0; d < cli_directory_count; d++) {
        const cli_directory_info &dir = cli_directories[d];
        std::string path = dir.path;
        if (path.rfind("profiles ", 0) != 0 || path.size() < 4 || path.substr(path.size() - 4) != " set" ||
            path == "profiles port set")
            continue;
        for (const cli_dir_row *row = dir.table; row->name; row++) {
            if (row->subdirectory)
                continue;
            std::string word = row->name;
            if (word == "help" || word == "exit" || word == "home" || word == "quit" || word == "?")
                continue;
            EXPECT_EQ(run(path + " " + word + " L"), -111) << path << " " << word;
            seen++;
        }
    }
    EXPECT_EQ(seen, 54 + 10 + 12 + 4 + 4);
    take();
}

TEST_F(Parameters, SettersAnswerTheStoresRefusal)
{
    for (const char *line :
         {"profiles line-profile set targetSnrmDs nope 10",
          "profiles line-profile set targetSnrmDs DEFVAL 10",
          "profiles chan-profile set maxDelayDsCh1 nope 1", "profiles line-profile set led nope on"})
        EXPECT_EQ(run(line), -111) << line;
    EXPECT_THAT(take(), HasSubstr("Can't modify Default Profile"));
}

TEST_F(Parameters, UsageTexts)
{
    run("profiles line-profile set targetSnrmDs L 311");
    EXPECT_EQ(take(), "Usage: cmd <profile_name> <value-dec>\nvalue:0-310\n");
    run("profiles line-profile set raModeUs L 4");
    EXPECT_EQ(take(), "Usage:\tcmd <profile_name> <value-dec>\nvalue:1-3\n1:manual\n2:raInit\n3:dynamicRa\n");
    run("profiles line-profile set led L");
    EXPECT_EQ(take(), "Usage: cmd <profile_name> <option>\noption:\ton\n\toff\n");
}

TEST_F(Parameters, SubProfileNames)
{
    EXPECT_EQ(run("profiles line-profile set PSD L P"), 0);
    EXPECT_EQ(value(2, "L", 3), "P");
    EXPECT_EQ(run("profiles line-profile set PSD L p"), 0);
    take();
    EXPECT_EQ(run("profiles line-profile set PSD L zz"), -111);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("Not support zz PSD\nSupported PSD profile:\np\n"));
    EXPECT_THAT(out, HasSubstr("User defined PSD Masks profile:\nP"));
    EXPECT_EQ(run("profiles line-profile set SYS L V"), -111);  // user types only where allowed
    EXPECT_EQ(run("profiles line-profile set SYS DEFVAL b"), -111);
    EXPECT_THAT(take(), HasSubstr("Can't modify Default Profile"));
}

TEST_F(Parameters, BandProfileCopiesItsLimitsAndTheMask)
{
    ASSERT_EQ(run("profiles line-profile set BND L b10"), 0);
    EXPECT_EQ(value(2, "L", 1), "b10");
    EXPECT_EQ(value(2, "L", 46), "1");
    EXPECT_EQ(value(2, "L", 49), "4");
    EXPECT_EQ(value(2, "L", 6), "f");
    ASSERT_EQ(run("profiles line-profile set BND L b40"), 0);
    EXPECT_EQ(value(2, "L", 6), "7f");
    EXPECT_EQ(value(2, "L", 48), "fffe70");
}

TEST_F(Parameters, ProfileMaskRefusals)
{
    struct Case {
        const char *mask;
        int result;
        const char *message;
    } cases[] = {
        {"00000000", -111, "Least choice one bit"},
        {"1000000x", -111, "input value is not binary value"},
        {"1000000", -111, "Usage: cmd <profile_name> <8 bit bitmasks>"},
        {"10000000", -111, "This BND(b40) only support 17a,12b/a,8d/c/b/a"},
        {"01000001", 0, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(std::string("profiles line-profile set profiles L ") + c.mask), c.result) << c.mask;
        EXPECT_THAT(take(), HasSubstr(c.message)) << c.mask;
    }
    EXPECT_EQ(value(2, "L", 6), "41");
    ASSERT_EQ(run("profiles line-profile set BND L b10"), 0);
    EXPECT_EQ(run("profiles line-profile set profiles L 00010000"), -111);
    EXPECT_THAT(take(), HasSubstr("This BND(b10) only support 8d/c/b/a"));
    EXPECT_EQ(run("profiles line-profile set profiles nope 00000001"), -111);
    EXPECT_THAT(take(), HasSubstr("nope Line Profile No Exist"));
}

TEST_F(Parameters, BreakpointSetters)
{
    EXPECT_EQ(run("profiles pre-define vn-set-us V 17 100 -50"), -111);
    EXPECT_THAT(take(), HasSubstr("Usage:\tcmd <profile_name> <index> <tone> <nlevel>\nindex:1~16\n"));
    EXPECT_EQ(run("profiles pre-define vn-set-us V " + std::string(96, 'a')), 0);
    EXPECT_EQ(value(7, "V", 1), std::string(96, 'a'));
    EXPECT_EQ(run("profiles pre-define vn-set-us V " + std::string(95, 'a') + "g"), -111);
    EXPECT_THAT(take(), HasSubstr("g Not hex in String !!"));
    EXPECT_EQ(run("profiles pre-define vn-set-ds V 1 1000 -39.9"), -111);
    EXPECT_EQ(run("profiles pre-define psd-set-ds P 40 1000 -40.3"), 0);
    EXPECT_EQ(value(10, "P", 0).substr(234), "5103e8");
    EXPECT_EQ(run("profiles pre-define psd-set-us P 40 7000 0"), 0);
    EXPECT_EQ(value(10, "P", 1).substr(234), "001b58");
    EXPECT_EQ(run("profiles pre-define psd-set-us P 1 7001 0"), -111);
    EXPECT_EQ(run("profiles pre-define rfi-set R 16 100 200"), 0);
    EXPECT_EQ(value(9, "R", 0).substr(180), "0000640000c8");
    take();
    EXPECT_EQ(run("profiles pre-define rfi-set R 16 100"), -111);
    EXPECT_THAT(take(), HasSubstr("Usage:\tcmd <profile_name> <index> <start_tone> <end_tone>"));
    EXPECT_EQ(run("profiles pre-define dpb-set D 32 7000 -127.5"), 0);
    EXPECT_EQ(value(8, "D", 0).substr(186), "ff1b58");
}

TEST_F(Parameters, GetBandPsd)
{
    EXPECT_EQ(run("util getbndpsd b40"), 0);
    EXPECT_EQ(take(),
              "maxNomAtpDs:64|\nmaxNomAtpUs:65|\nmaxNomPsdDs:fffe70|\nmaxNomPsdUs:fffe71|\nprofiles:40|\n");
    EXPECT_EQ(run("util getbndpsd nope"), -111);
    EXPECT_THAT(take(), HasSubstr("nope BND profile name isn't exist in system package"));
}

}  // namespace
