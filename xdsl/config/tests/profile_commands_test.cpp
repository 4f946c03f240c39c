// Create, delete, show and template commands through the command tree.
#include <string>

#include <gmock/gmock.h>

#include "cli_print.h"
#include "profile_fixture.h"
#include "vdsl_profiles.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;

class Commands : public proftest::ProfileTest {};

TEST_F(Commands, CreateChecksLengthAtSignExistenceAndCountInThatOrder)
{
    EXPECT_EQ(run("profiles line-profile new " + std::string(20, 'n')), 0);
    take();
    EXPECT_EQ(run("profiles line-profile new " + std::string(21, 'n')), -111);
    EXPECT_THAT(take(), HasSubstr("profile_name len=21 too long limit 20 char"));
    EXPECT_EQ(run("profiles line-profile new a@b"), -111);
    EXPECT_THAT(take(), HasSubstr("@ is reserve word in profile manage"));
    EXPECT_EQ(run("profiles line-profile new " + std::string(20, 'n')), -111);
    EXPECT_THAT(take(), HasSubstr("Usage: cmd <profile_name>\nprofile_name exist"));
    EXPECT_EQ(run("profiles line-profile new"), -111);
    EXPECT_THAT(take(), HasSubstr("Usage: cmd <profile_name>"));
    // A word past its 256-byte field is refused, not cut.
    EXPECT_EQ(run("profiles chan-profile new " + std::string(300, 'w')), -111);
    EXPECT_THAT(take(), HasSubstr("Word too long"));
}

TEST_F(Commands, ThirtyOneProfilesOfOneTypeAreRefused)
{
    for (int i = 0; i < 30; i++)
        ASSERT_EQ(run("profiles pre-define rfi-new r" + std::to_string(i)), 0);
    take();
    EXPECT_EQ(run("profiles pre-define rfi-new r30"), -111);
    EXPECT_THAT(take(), HasSubstr("Profile Number Full. Limit:30"));
    EXPECT_EQ(run("profiles pre-define psd-new p30"), 0);
}

TEST_F(Commands, PreDefineCreatesReturnTheCreationsResult)
{
    EXPECT_EQ(run("profiles pre-define vn-new v"), -111);  // VNS_v in the package
    EXPECT_EQ(run("profiles pre-define dpb-new d2"), 0);
    EXPECT_EQ(run("profiles pre-define dpb-new d2"), -111);
}

struct InUseCase {
    const char *setup;  // lines run first
    const char *del;
    const char *message;
};

TEST_F(Commands, ProfilesInUseAreNotDeleted)
{
    const InUseCase cases[] = {
        {"profiles line-template new T", "profiles line-template del T",
         "xDSL Port1 used ,Can't Delete LineTemplate(T) used"},
        {"profiles alarm-template new A", "profiles alarm-template del A",
         "xDSL Port1 used ,Can't Delete AlarmTemplate(A) used"},
        {"profiles line-profile new L;profiles line-template new T2;profiles line-template set line-profile T2 L",
         "profiles line-profile del L", "Vdsl Line Template(T2) used ,Can't Delete LineProfile(L)"},
        {"profiles chan-profile new C;profiles line-template set chan-profile T2 C",
         "profiles chan-profile del C", "Vdsl Line Template(T2) used ,Can't Delete ChannelProfile(C)"},
        {"profiles line-alarm-profile new LA;profiles alarm-template set line-alarm-profile A LA",
         "profiles line-alarm-profile del LA",
         "Vdsl Alarm Template(A) used ,Can't Delete LineAlarmProfile(LA)"},
        {"profiles chan-alarm-profile new CA;profiles alarm-template set chan-alarm-profile A CA",
         "profiles chan-alarm-profile del CA",
         "Vdsl Alarm Template(A) used ,Can't Delete ChannelAlarmProfile(CA)"},
        {"profiles pre-define vn-new V;profiles line-profile set VNS L V", "profiles pre-define vn-del V",
         "Vdsl Line Profile(L) used ,Can't Delete VirtualNoiseProfile(V)"},
        {"profiles pre-define dpb-new D;profiles line-profile set DPB L D", "profiles pre-define dpb-del D",
         "Vdsl Line Profile(L) used ,Can't Delete DpboEPsd Profile(D)"},
        {"profiles pre-define rfi-new R;profiles line-profile set RFI L R", "profiles pre-define rfi-del R",
         "Vdsl Line Profile(L) used ,Can't Delete RFI Profile(R)"},
        {"profiles pre-define psd-new P;profiles line-profile set PSD L P", "profiles pre-define psd-del P",
         "Vdsl Line Profile(L) used ,Can't Delete PSD Profile(P)"},
    };
    port_map_set("T", "A");
    for (const InUseCase &c : cases) {
        std::string setup = c.setup;
        size_t at = 0;
        while (at <= setup.size()) {
            size_t end = setup.find(';', at);
            if (end == std::string::npos)
                end = setup.size();
            ASSERT_EQ(run(setup.substr(at, end - at)), 0) << setup.substr(at, end - at) << take();
            at = end + 1;
        }
        take();
        EXPECT_EQ(run(c.del), -111) << c.del;
        EXPECT_THAT(take(), HasSubstr(c.message));
    }
    // Once unused they go.
    port_map_set("x", "x");
    EXPECT_EQ(run("profiles line-template del T"), 0);
    EXPECT_EQ(run("profiles line-template del T2"), 0);
    EXPECT_EQ(run("profiles line-profile del L"), 0);
    take();
    EXPECT_EQ(run("profiles line-profile del L"), -111);
    EXPECT_THAT(take(), HasSubstr("L User defined Profile No Exist"));
}

TEST_F(Commands, DefvalIsNeverDeleted)
{
    for (const char *line : {"profiles line-template del DEFVAL", "profiles pre-define psd-del DEFVAL"}) {
        EXPECT_EQ(run(line), -111);
        EXPECT_THAT(take(), HasSubstr("Can't delete Default Profile"));
    }
}

TEST_F(Commands, TemplateSetNamesExistingProfiles)
{
    ASSERT_EQ(run("profiles line-template new T"), 0);
    ASSERT_EQ(run("profiles line-profile new L"), 0);
    take();
    EXPECT_EQ(run("profiles line-template set line-profile T"), -111);
    EXPECT_THAT(take(), HasSubstr("Usage: cmd <LineTemplate profile_name> <LineProfile profile_name>"));
    EXPECT_EQ(run("profiles line-template set line-profile T nope"), -111);
    EXPECT_THAT(take(), HasSubstr("nope Line Profile No Exist\nxDSL Line Profile:\nL"));
    EXPECT_EQ(run("profiles line-template set line-profile X L"), -111);
    EXPECT_THAT(take(), HasSubstr("X Line Template No Exist\nxDSL Line Template:\nT"));
    EXPECT_EQ(run("profiles line-template set line-profile T L"), 0);
    EXPECT_STREQ(profile_record_value(profile_find(1, "T"), 0), "L");
    EXPECT_EQ(profile_record_state(profile_find(1, "T")), '*');
}

TEST_F(Commands, ShowNeedsAKindWord)
{
    ASSERT_EQ(run("profiles chan-profile new c1"), 0);
    take();
    EXPECT_EQ(run("profiles chan-profile show c1"), -111);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("Usage: cmd sprofile \t\t\t\t:show system profile names"));
    EXPECT_THAT(out, HasSubstr("Usage: cmd port \t\t\t\t:show profile used in each port"));
    EXPECT_EQ(run("profiles chan-profile show chan-profile"), 0);
    EXPECT_EQ(take(), "xDSL Channel Profile:\nc1\n");
    EXPECT_EQ(run("profiles chan-profile show chan-profile c1"), 0);
    EXPECT_THAT(take(), HasSubstr("maxDataRateDsCh1              |101064               Max Data Rate"));
}

TEST_F(Commands, RootShowWords)
{
    ASSERT_EQ(run("profiles line-template new T"), 0);
    ASSERT_EQ(run("profiles line-profile new L"), 0);
    take();
    EXPECT_EQ(run("show line-template"), 0);
    EXPECT_EQ(take(), "Usage: cmd <profile_name>\nxDSL Line Template:\nT\n");
    EXPECT_EQ(run("show line-profile L 2"), 0);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("BND                           |b40"));
    EXPECT_THAT(out, Not(HasSubstr("maxSnrmDs")));
    EXPECT_EQ(run("show line-profile L 3"), 0);
    EXPECT_THAT(take(), HasSubstr("input param ERROR in display_vdsl_profiles_fun!!"));
    EXPECT_EQ(run("show line-profile L x"), 0);  // no number: the full show
    EXPECT_THAT(take(), HasSubstr("maxSnrmDs"));
}

TEST_F(Commands, SystemProfileListings)
{
    EXPECT_EQ(run("show sprofile IOT"), -111);
    EXPECT_THAT(take(),
                HasSubstr("Usage:\tcmd <options> <profile_name>\noptions:SYS,BND,VNS,PSD,RFI,DPB,ALL"));
    EXPECT_EQ(run("show sprofile ALL"), 0);
    std::string out = take();
    size_t sys = out.find("Supported System profile:"), bnd = out.find("Supported Band profile:"),
           dpb = out.find("Supported DPBO PSD profile:");
    ASSERT_NE(sys, std::string::npos);
    EXPECT_LT(sys, bnd);
    EXPECT_LT(bnd, dpb);
}

TEST_F(Commands, ShowOfASystemPsdProfileGivesItsTablesAndUsers)
{
    ASSERT_EQ(run("profiles line-profile new L"), 0);
    take();
    EXPECT_EQ(run("show psd p"), 0);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("PsdMask Config Tables: p"));
    EXPECT_THAT(out, HasSubstr(" 1        1000                -40.0\n"));
    EXPECT_THAT(out, HasSubstr(" 1        1000                -40.5\n"));
    EXPECT_THAT(out, HasSubstr("LineProfile #L use this profile"));
}

TEST_F(Commands, PortView)
{
    store("V_POWEROFF_P1", "#");
    store("V_DISABLE_P1", "");
    port_map_set("T", "A");
    EXPECT_EQ(run("show port"), 0);
    EXPECT_THAT(take(), HasSubstr("\nPort1 PowerOn Disable LineTemplate(T), AlarmTemplate(A)\n"));
    cli_print_mask = CLI_MASK_SILENT;
    EXPECT_EQ(run("show port"), 0);
    EXPECT_STREQ(cli_silent_buffer(), "1 PowerOn Disable T A|");
}

}  // namespace
