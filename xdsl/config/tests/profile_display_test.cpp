// Profile displays: value forms of the line profile and the record fields.
#include <string>

#include <gmock/gmock.h>

#include "cli_print.h"
#include "profile_fixture.h"
#include "vdsl_profiles.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;

class Display : public proftest::ProfileTest {};

TEST_F(Display, LineProfileValueForms)
{
    ASSERT_EQ(run("profiles line-profile new L"), 0);
    take();
    ASSERT_EQ(display_vdsl_profiles_fun("L", PROFILE_LINE, 1), 0);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("xDSL Line Profile Config Tables: L \n" + std::string(111, '-') + "\n"));
    EXPECT_THAT(out, HasSubstr("profiles                      |30a,17a,12b,12a,8d,8c,8b,8a xDSL Profile \n"));
    EXPECT_THAT(out, HasSubstr("maxNomPsdDs                   |-365                 Maximum nominal"));
    EXPECT_THAT(out, HasSubstr("led                           |off                  On/Off"));
    EXPECT_THAT(out, HasSubstr("Line # use this profile"));
    EXPECT_THAT(out, HasSubstr("LineTemplate # use this profile"));
    update_profile_value_fun("L", PROFILE_LINE, "0.9.35", nullptr, 0, "0");
    take();
    display_vdsl_profiles_fun("L", PROFILE_LINE, 2);
    EXPECT_THAT(take(), HasSubstr("profiles                      |                     xDSL Profile \n"));
}

TEST_F(Display, RecordFieldsInSilentMode)
{
    ASSERT_EQ(run("profiles line-template new T"), 0);
    port_map_set("T", "");
    cli_print_mask = CLI_MASK_SILENT;
    display_vdsl_profiles_fun("T", PROFILE_LINE_TEMPLATE, 1);
    EXPECT_STREQ(cli_silent_buffer(), "T|DEFVAL|DEFVAL|port_list 1|");
}

TEST_F(Display, BreakpointTables)
{
    ASSERT_EQ(run("profiles pre-define vn-new V"), 0);
    ASSERT_EQ(run("profiles pre-define vn-set-ds V 1 1000 -100"), 0);
    take();
    display_vdsl_profiles_fun("V", PROFILE_VIRTUAL_NOISE, 1);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("Vitual Noise Config Tables: V\n" + std::string(76, '-')));
    EXPECT_THAT(
        out,
        HasSubstr(
            " 1        1000                         -100.0          0                            0.0\n"));
    EXPECT_THAT(out, HasSubstr("32           0                            0.0\n"));
    EXPECT_EQ(psdmask_tables_display_fun("DEFVAL", "", "", 10), -111);
    EXPECT_THAT(take(), HasSubstr("PsdMask Config Tables: DEFVAL can't display"));
}

TEST_F(Display, MissingProfileAndBadMode)
{
    EXPECT_EQ(display_vdsl_profiles_fun("nope", PROFILE_CHANNEL, 1), -111);
    EXPECT_THAT(take(), HasSubstr("nope User defined Profile No Exist"));
    EXPECT_EQ(display_vdsl_profiles_fun("x", PROFILE_CHANNEL, 2), 0);
    EXPECT_THAT(take(), HasSubstr("PROFILE TYPE ERROR in display_vdsl_profiles_fun 2!!"));
}

}  // namespace
