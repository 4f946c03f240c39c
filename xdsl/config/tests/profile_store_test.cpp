// The in-memory store: defaults, value changes, breakpoint words, port use.
#include <cstdio>
#include <string>

#include <gmock/gmock.h>

#include "profile_fixture.h"
#include "vdsl_profiles.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;

class Store : public proftest::ProfileTest {
protected:
    std::string value(int type, const char *name, int slot)
    {
        const profile_record *r = profile_find(type, name);
        return r && profile_record_value(r, slot) ? profile_record_value(r, slot) : "<none>";
    }
};

TEST_F(Store, NewLineProfileTakesTheTableDefaultsAndThePackagesFirstSubProfiles)
{
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_LINE, "lp1"), 0);
    const profile_record *r = profile_find(PROFILE_LINE, "lp1");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(profile_record_slots(r), 54);
    EXPECT_EQ(profile_record_state(r), PROFILE_CHANGED);
    EXPECT_EQ(profile_record_sequence(r), 1u);
    const char *want[] = {"a", "b40", "v", "p", "r", "d", "ff", "3c"};
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(value(PROFILE_LINE, "lp1", i), want[i]) << "slot " << i;
    EXPECT_EQ(value(PROFILE_LINE, "lp1", 48), "fffe93");
    EXPECT_EQ(value(PROFILE_LINE, "lp1", 53), "0");
    EXPECT_EQ(profile_type_descriptor(PROFILE_LINE)->count, 1u);
    EXPECT_EQ(profile_type_descriptor(PROFILE_LINE)->dirty, 1u);
}

TEST_F(Store, BodiesOfEveryTypeHaveTheirSlotsAndLengths)
{
    struct Case {
        int type;
        int slots;
        size_t first_length;
    } cases[] = {{1, 2, 6},   {3, 10, 3},  {4, 2, 6},   {5, 12, 1},  {6, 4, 1},
                 {7, 2, 192}, {8, 1, 192}, {9, 1, 192}, {10, 2, 240}};
    for (const Case &c : cases) {
        ASSERT_EQ(new_vdsl_profiles_fun(c.type, "x"), 0) << c.type;
        const profile_record *r = profile_find(c.type, "x");
        EXPECT_EQ(profile_record_slots(r), c.slots) << c.type;
        EXPECT_EQ(std::string(profile_record_value(r, 0)).size(), c.first_length) << c.type;
    }
    EXPECT_EQ(value(7, "x", 1), std::string(96, '0'));
    EXPECT_EQ(value(1, "x", 1), "DEFVAL");
}

TEST_F(Store, WithoutAPackageSubProfilesHoldAPlaceholderNotAnEmptyValue)
{
    std::remove(package_path_.c_str());
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_LINE, "lp1"), 0);
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(value(PROFILE_LINE, "lp1", i), "none");
}

TEST_F(Store, NamesAreUniquePerTypeOnly)
{
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_CHANNEL, "same"), 0);
    EXPECT_EQ(new_vdsl_profiles_fun(PROFILE_LINE, "same"), 0);
    take();
    EXPECT_EQ(new_vdsl_profiles_fun(PROFILE_LINE, "same"), -111);
    EXPECT_THAT(take(), HasSubstr("same Profile Exist"));
}

TEST_F(Store, BreakpointProfilesNamedLikeASystemProfileAreRefused)
{
    EXPECT_EQ(new_vdsl_profiles_fun(PROFILE_VIRTUAL_NOISE, "v"), -111);
    EXPECT_THAT(take(), HasSubstr("v Profile Exist in System package"));
    EXPECT_EQ(new_vdsl_profiles_fun(PROFILE_PSD_MASKS, "v"), 0);
}

TEST_F(Store, ValueChangesByParameterNameOrOid)
{
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_LINE, "lp"), 0);
    EXPECT_EQ(update_profile_value_fun("lp", PROFILE_LINE, nullptr, "bitSwapDs", 0, "off"), 0);
    EXPECT_EQ(value(PROFILE_LINE, "lp", 13), "off");  // led untouched default
    EXPECT_EQ(value(PROFILE_LINE, "lp", 14), "on");
    EXPECT_EQ(value(PROFILE_LINE, "lp", 15), "off");
    EXPECT_EQ(update_profile_value_fun("lp", PROFILE_LINE, "2.1.9", nullptr, 0, "on"), 0);
    EXPECT_EQ(value(PROFILE_LINE, "lp", 13), "on");  // by OID: led, the first row
    EXPECT_EQ(update_profile_value_fun("lp", PROFILE_LINE, "0.9.16", nullptr, 310, nullptr), 0);
    EXPECT_EQ(value(PROFILE_LINE, "lp", 7), "136");
    take();
    EXPECT_EQ(update_profile_value_fun("DEFVAL", PROFILE_LINE, "0.9.16", nullptr, 1, nullptr), -111);
    EXPECT_THAT(take(), HasSubstr("Can't modify Default Profile"));
    EXPECT_EQ(update_profile_value_fun("nope", PROFILE_LINE, "0.9.16", nullptr, 1, nullptr), -111);
    EXPECT_THAT(take(), HasSubstr("nope Profile No Exist"));
}

TEST_F(Store, ValuesThatWouldBreakTheStoredRecordAreRefused)
{
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_CHANNEL, "c"), 0);
    for (const std::string &bad :
         {std::string("a@b"), std::string(), std::string(241, 'a'), std::string("a b")})
        EXPECT_EQ(update_profile_value_fun("c", PROFILE_CHANNEL, "0.12.2", nullptr, 0, bad.c_str()), -111)
            << bad;
    EXPECT_EQ(value(PROFILE_CHANNEL, "c", 0), "100");
}

TEST_F(Store, BreakpointWordReplacesSixCharactersOfTheChosenSlot)
{
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_PSD_MASKS, "m"), 0);
    EXPECT_EQ(update_psd_type_profile_fun("m", PROFILE_PSD_MASKS, "0.10.15", 1, 1000, -40.3f), 0);
    EXPECT_EQ(value(PROFILE_PSD_MASKS, "m", 1).substr(0, 12), "5103e8000000");
    EXPECT_EQ(value(PROFILE_PSD_MASKS, "m", 1).size(), 240u);
    EXPECT_EQ(value(PROFILE_PSD_MASKS, "m", 0), std::string(240, '0'));
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_VIRTUAL_NOISE, "n"), 0);
    EXPECT_EQ(update_psd_type_profile_fun("n", PROFILE_VIRTUAL_NOISE, "0.9.28", 16, 1000, -40.3f), 0);
    EXPECT_EQ(value(PROFILE_VIRTUAL_NOISE, "n", 1).substr(90), "c803e8");
    take();
    EXPECT_EQ(update_psd_type_profile_fun("n", PROFILE_VIRTUAL_NOISE, "0.9.28", 0, 1, -50), -111);
    EXPECT_THAT(take(), HasSubstr("index value must over one"));
    EXPECT_EQ(update_psd_type_profile_fun("n", PROFILE_VIRTUAL_NOISE, "0.9.28", 17, 1, -50), -111);
    EXPECT_EQ(update_psd_type_profile_fun("q", PROFILE_RFI_BANDS, "0.9.5", 1, 1, 0), -111);
    EXPECT_THAT(take(), HasSubstr("q RFI No Exist"));
}

TEST_F(Store, PortUseFollowsTheTemplatesToTheirProfiles)
{
    for (int t : {1, 2, 3, 4, 5, 6, 10})
        ASSERT_EQ(new_vdsl_profiles_fun(t, "u"), 0);
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_PSD_MASKS, "other"), 0);
    port_map_set("u", "u");
    char mark = 0;
    EXPECT_EQ(vdsl_profiles_map_port_fun(PROFILE_LINE, "u", &mark), 0);
    EXPECT_EQ(mark, 'X');  // the template still names DEFVAL
    ASSERT_EQ(run("profiles line-template set line-profile u u"), 0);
    EXPECT_EQ(vdsl_profiles_map_port_fun(PROFILE_LINE, "u", &mark), 0);
    EXPECT_EQ(mark, '*');
    ASSERT_EQ(run("profiles line-profile set PSD u other"), 0);
    EXPECT_EQ(vdsl_profiles_map_port_fun(PROFILE_PSD_MASKS, "other", &mark), 0);
    EXPECT_EQ(mark, '*');
    EXPECT_EQ(vdsl_profiles_map_port_fun(PROFILE_LINE_TEMPLATE, "u", &mark), 0);
    EXPECT_EQ(mark, '*');
    port_map_set("gone", "u");
    take();
    EXPECT_EQ(vdsl_profiles_map_port_fun(PROFILE_CHANNEL, "u", &mark), -111);
    EXPECT_THAT(take(), HasSubstr("gone Vdsl Line Template No Exist"));
}

TEST_F(Store, FreeingEmptiesTheStoreAndTheNextLookupLoadsAgain)
{
    store("LINE_PROFILE_INDEX", "4");
    std::string text = "stored";
    for (int i = 0; i < 54; i++)
        text += "@1";
    store("VdslLineProfiles4", text);
    ASSERT_EQ(new_vdsl_profiles_fun(PROFILE_LINE, "mine"), 0);
    free_vdsl_profiles_fun();
    EXPECT_EQ(profile_store_state(), PROFILE_STORE_EMPTY);
    EXPECT_EQ(profile_type_descriptor(PROFILE_LINE)->loaded, 0u);
    EXPECT_EQ(profile_find(PROFILE_LINE, "mine"), nullptr);
    const profile_record *r = profile_find(PROFILE_LINE, "stored");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(profile_record_state(r), 'X');
    EXPECT_EQ(profile_record_sequence(r), 4u);
}

}  // namespace
