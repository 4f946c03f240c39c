// The store in the configuration manager: keys, loading, saving, renumbering.
#include <algorithm>
#include <cstdio>
#include <string>

#include <gmock/gmock.h>

#include "profile_fixture.h"
#include "vdsl_profiles.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;
using ::testing::Not;

std::string record(const std::string &name, int values, const std::string &value = "1")
{
    std::string text = name;
    for (int i = 0; i < values; i++)
        text += "@" + value;
    return text;
}

class Persistence : public proftest::ProfileTest {};

TEST_F(Persistence, SavedRecordsUseTheTableKeysAndTheIndexKey)
{
    ASSERT_EQ(run("profiles line-profile new lp1"), 0);
    ASSERT_EQ(run("profiles line-profile set targetSnrmDs lp1 310"), 0);
    ASSERT_EQ(run("profiles line-profile set maxNomPsdDs lp1 -300"), 0);
    ASSERT_EQ(run("profiles pre-define vn-new n1"), 0);
    ASSERT_EQ(run("profiles pre-define dpb-new d1"), 0);
    ASSERT_EQ(profiles_save_all(), 0);
    std::string lp = stored("VdslLineProfiles1");
    EXPECT_EQ(lp.substr(0, 36), "lp1@a@b40@v@p@r@d@ff@136@3c@136@136@");
    EXPECT_THAT(lp, HasSubstr("@fffed4@fffea7@"));
    EXPECT_EQ(std::count(lp.begin(), lp.end(), '@'), 54);
    EXPECT_EQ(stored("LINE_PROFILE_INDEX"), "1");
    EXPECT_EQ(stored("VdslVitualNoise1"), "n1@" + std::string(192, '0') + "@" + std::string(96, '0'));
    EXPECT_EQ(stored("VN_PROFILE_INDEX"), "1");
    EXPECT_EQ(stored("DPB_PROFIE_INDEX"), "1");
    EXPECT_EQ(profile_record_state(profile_find(PROFILE_LINE, "lp1")), 'X');
    EXPECT_EQ(profile_type_descriptor(PROFILE_LINE)->dirty, 0u);
}

TEST_F(Persistence, LoadingKeepsNumbersAndTheNextNumberIsTheLargest)
{
    store("CHAN_PROFILE_INDEX", "3@5@7");
    store("VdslChanProfiles3", record("a", 10));
    store("VdslChanProfiles5", record("b", 10, "2"));
    store("VdslChanProfiles7", record("c", 10, "3"));
    ASSERT_EQ(profiles_load(PROFILE_CHANNEL), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(3, "a")), 3u);
    EXPECT_EQ(profile_record_sequence(profile_find(3, "b")), 5u);
    EXPECT_STREQ(profile_record_value(profile_find(3, "c"), 9), "3");
    EXPECT_EQ(profile_type_descriptor(3)->next_sequence, 7u);
    EXPECT_EQ(profile_type_descriptor(3)->count, 3u);
    EXPECT_EQ(profile_type_descriptor(3)->dirty, 0u);
    ASSERT_EQ(run("profiles chan-profile new d"), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(3, "d")), 8u);
    ASSERT_EQ(profiles_save_all(), 0);
    EXPECT_EQ(stored("CHAN_PROFILE_INDEX"), "3@5@7@8");
}

TEST_F(Persistence, ARecordOfTheWrongLengthIsRefusedAloneAndTheRestStays)
{
    store("LINE_PROFILE_INDEX", "1@2@3");
    store("VdslLineProfiles1", record("good1", 54));
    store("VdslLineProfiles2", record("short", 53));
    store("VdslLineProfiles3", record("good3", 54));
    store("CHAN_PROFILE_INDEX", "1");
    store("VdslChanProfiles1", record("long", 11));
    ASSERT_EQ(run("profiles line-alarm-profile new unsaved"), 0);
    const profile_record *held = profile_find(PROFILE_LINE_ALARM, "unsaved");
    take();
    ASSERT_EQ(profiles_load(PROFILE_ALL), 0);
    std::string out = take();
    EXPECT_THAT(out, HasSubstr("VdslLineProfiles config file isn't match!!!! argument too less!!\n"
                               "VdslLineProfiles need 54 token but config file have 53 token"));
    EXPECT_THAT(out, HasSubstr("VdslChanProfiles config file isn't match!! argument too more!!\n"
                               "VdslChanProfiles need 10 token but config file have 11 token"));
    EXPECT_EQ(profile_find(PROFILE_LINE, "short"), nullptr);
    EXPECT_EQ(profile_record_sequence(profile_find(PROFILE_LINE, "good1")), 1u);
    EXPECT_EQ(profile_record_sequence(profile_find(PROFILE_LINE, "good3")), 3u);
    EXPECT_EQ(profile_find(PROFILE_CHANNEL, "long"), nullptr);
    // The unsaved record, and the pointer to it, survive the load.
    EXPECT_EQ(profile_find(PROFILE_LINE_ALARM, "unsaved"), held);
    EXPECT_EQ(profile_record_state(held), '*');
    // A new line profile does not take the refused record's key.
    ASSERT_EQ(run("profiles line-profile new n"), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(PROFILE_LINE, "n")), 4u);
    ASSERT_EQ(profiles_save_all(), 0);
    EXPECT_EQ(stored("VdslLineProfiles2"), record("short", 53));
    // The index still names it, so the next load reports it again.
    EXPECT_EQ(stored("LINE_PROFILE_INDEX"), "1@3@4@2");
}

TEST_F(Persistence, RenumberingLeavesARefusedRecordsKeyAlone)
{
    store("CHAN_PROFILE_INDEX", "1@9");
    store("VdslChanProfiles1", record("short", 9));
    store("VdslChanProfiles9", record("good", 10));
    ASSERT_EQ(profiles_renumber_all(), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(PROFILE_CHANNEL, "good")), 2u);
    EXPECT_EQ(stored("VdslChanProfiles1"), record("short", 9));
    EXPECT_EQ(stored("VdslChanProfiles2"), record("good", 10));
    EXPECT_EQ(stored("CHAN_PROFILE_INDEX"), "2@1");
    ASSERT_EQ(run("profiles chan-profile new next"), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(PROFILE_CHANNEL, "next")), 3u);
}

TEST_F(Persistence, EachAnswerLineBelongsToTheKeyAskedAtItsPosition)
{
    // Key 5 is missing: its empty answer line must not shift 7's text onto 5.
    store("LINE_TEMPLATE_INDEX", "3@5@7");
    store("VdslLineTemplates3", "t3@l3@c3");
    store("VdslLineTemplates7", "t7@l7@c7");
    ASSERT_EQ(profiles_load(PROFILE_LINE_TEMPLATE), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(1, "t3")), 3u);
    EXPECT_EQ(profile_record_sequence(profile_find(1, "t7")), 7u);
    EXPECT_STREQ(profile_record_value(profile_find(1, "t7"), 1), "c7");
    EXPECT_EQ(profile_type_descriptor(1)->count, 2u);
}

TEST_F(Persistence, ManyRecordsComeInBatchesOfFiftyOneKeys)
{
    std::string index;
    for (int i = 1; i <= 31; i++) {
        index += (i > 1 ? "@" : "") + std::to_string(i * 2);
        store("VdslRfiBands" + std::to_string(i * 2), "r" + std::to_string(i) + "@" + std::string(192, 'a'));
    }
    store("RFI_PROFILE_INDEX", index);
    ASSERT_EQ(profiles_load(PROFILE_RFI_BANDS), 0);
    EXPECT_EQ(profile_type_descriptor(PROFILE_RFI_BANDS)->count, 31u);
    EXPECT_EQ(profile_record_sequence(profile_find(9, "r31")), 62u);
    EXPECT_THAT(argv_log(), HasSubstr("VdslRfiBands2,VdslRfiBands4,"));
}

TEST_F(Persistence, DuplicateStoredNamesDoNotFoldIntoOneRecord)
{
    store("ALARM_TEMPLATE_INDEX", "1@2");
    store("VdslAlarmTemplates1", "a@x@y");
    store("VdslAlarmTemplates2", "a@p@q");
    ASSERT_EQ(profiles_load(PROFILE_ALARM_TEMPLATE), 0);
    const profile_record *r = profile_find(4, "a");
    EXPECT_EQ(profile_record_sequence(r), 1u);
    EXPECT_STREQ(profile_record_value(r, 0), "x");
}

TEST_F(Persistence, StoredTextsNoCommandMakesAreRefusedAlone)
{
    store("ALARM_TEMPLATE_INDEX", "1@2@3");
    store("VdslAlarmTemplates1", "a b@x@y");
    store("VdslAlarmTemplates2", "@\tc@x@y");
    store("VdslAlarmTemplates3", "ok@x@y");
    take();
    ASSERT_EQ(profiles_load(PROFILE_ALARM_TEMPLATE), 0);
    EXPECT_THAT(take(), HasSubstr("VdslAlarmTemplates1: stored text holds blanks, not loaded"));
    EXPECT_EQ(profile_type_descriptor(4)->count, 1u);
    EXPECT_NE(profile_find(4, "ok"), nullptr);
}

TEST_F(Persistence, AnOverlongStoredLineIsRefusedAndKeepsItsKey)
{
    store("RFI_PROFILE_INDEX", "1@2");
    store("VdslRfiBands1", "long@" + std::string(4100, 'a'));
    store("VdslRfiBands2", "ok@" + std::string(192, '0'));
    take();
    ASSERT_EQ(profiles_load(PROFILE_RFI_BANDS), 0);
    EXPECT_THAT(take(), HasSubstr("VdslRfiBands1: stored text too long, not loaded"));
    ASSERT_EQ(run("profiles pre-define rfi-new new"), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(9, "new")), 3u);
    ASSERT_EQ(profiles_save_all(), 0);
    EXPECT_EQ(stored("RFI_PROFILE_INDEX"), "2@3@1");
    EXPECT_EQ(stored("VdslRfiBands1").size(), 4105u);
}

TEST_F(Persistence, AStoredNameOfASystemProfileStopsThatTypesLoad)
{
    store("PSD_PROFILE_INDEX", "1@2@3");
    store("VdslPsdMasks1", "m1@0@0");
    store("VdslPsdMasks2", "p@0@0");  // PSD_p is in the package
    store("VdslPsdMasks3", "m3@0@0");
    take();
    profiles_load(PROFILE_PSD_MASKS);
    EXPECT_THAT(take(), HasSubstr("p Profile No Exist"));
    EXPECT_NE(profile_find(10, "m1"), nullptr);
    EXPECT_EQ(profile_find(10, "m3"), nullptr);
}

TEST_F(Persistence, MissingIndexKeyLeavesTheTypeEmptyButLoaded)
{
    take();
    ASSERT_EQ(profiles_load(PROFILE_LINE), 0);
    EXPECT_THAT(take(), HasSubstr("Profile LINE_PROFILE_INDEX List Empty"));
    EXPECT_EQ(profile_type_descriptor(PROFILE_LINE)->loaded, 1u);
    EXPECT_EQ(profile_store_state(), PROFILE_STORE_PARTLY);
    ASSERT_EQ(profiles_load(PROFILE_ALL), 0);
    EXPECT_EQ(profile_store_state(), PROFILE_STORE_LOADED);
    EXPECT_EQ(profiles_load(PROFILE_ALL), -111);
    EXPECT_THAT(take(), HasSubstr("VDSL Profile has been initialized finish, not need again"));
}

TEST_F(Persistence, PortMapIsReadAtTheFirstLoad)
{
    store("port1_map_profile", "LT@AT");
    profiles_load(PROFILE_CHANNEL);
    EXPECT_STREQ(port_line_template(), "LT");
    EXPECT_STREQ(port_alarm_template(), "AT");
}

TEST_F(Persistence, DeletingTheLastRecordWritesAnEmptyIndex)
{
    ASSERT_EQ(run("profiles chan-profile new c"), 0);
    ASSERT_EQ(profiles_save_all(), 0);
    EXPECT_EQ(stored("CHAN_PROFILE_INDEX"), "1");
    ASSERT_EQ(run("profiles chan-profile del c"), 0);
    EXPECT_EQ(stored("VdslChanProfiles1"), "<absent>");
    ASSERT_EQ(profiles_save_all(), 0);
    EXPECT_EQ(stored("CHAN_PROFILE_INDEX"), "");
}

TEST_F(Persistence, SavingUnchangedRecordsRewritesOnlyTheIndex)
{
    store("CHAN_ALARM_PROFILE_INDEX", "2");
    store("VdslChanAlarmProfiles2", record("ca", 4));
    ASSERT_EQ(profiles_load(PROFILE_ALL), 0);
    size_t before = argv_log().size();
    save_vdsl_profiles_fun(6, "CHAN_ALARM_PROFILE_INDEX", "VdslChanAlarmProfiles");
    std::string log = argv_log().substr(before);
    EXPECT_THAT(log, HasSubstr("\"-w\" \"CHAN_ALARM_PROFILE_INDEX=2\""));
    EXPECT_THAT(log, Not(HasSubstr("-w\" \"VdslChanAlarmProfiles2")));
    EXPECT_EQ(profiles_save_all(), 0);
}

TEST_F(Persistence, NothingIsSavedWhenNothingWasLoaded)
{
    EXPECT_EQ(profiles_save_all(), -111);
    EXPECT_EQ(argv_log(), "");
}

TEST_F(Persistence, AnOverlongRecordIsNotWrittenShortAndStaysChanged)
{
    ASSERT_EQ(run("profiles line-profile new big"), 0);
    ASSERT_EQ(run("profiles line-profile new fine"), 0);
    std::string v(240, 'a');
    for (const char *oid :
         {"0.9.16", "0.9.17", "0.9.18", "0.9.19", "0.9.20", "0.9.21", "0.9.37", "0.9.38", "0.9.39", "0.9.40",
          "0.9.41", "0.9.42", "0.9.43", "0.9.6", "0.9.7", "0.9.8", "0.9.9", "0.9.10"})
        ASSERT_EQ(update_profile_value_fun("big", PROFILE_LINE, oid, nullptr, 0, v.c_str()), 0);
    take();
    ASSERT_EQ(profiles_save_all(), 0);
    EXPECT_THAT(take(), HasSubstr("length over buffer size (4096) ,save not complete"));
    EXPECT_EQ(stored("VdslLineProfiles1"), "<absent>");
    EXPECT_EQ(profile_record_state(profile_find(PROFILE_LINE, "big")), '*');
    std::string fine = stored("VdslLineProfiles2");
    EXPECT_EQ(std::count(fine.begin(), fine.end(), '@'), 54);
    EXPECT_EQ(stored("LINE_PROFILE_INDEX"), "1@2");
}

TEST_F(Persistence, RenumberingCompactsToOneToCountInListOrder)
{
    store("RFI_PROFILE_INDEX", "2@9@40");
    store("VdslRfiBands2", "a@" + std::string(192, '0'));
    store("VdslRfiBands9", "b@" + std::string(192, '0'));
    store("VdslRfiBands40", "c@" + std::string(192, '0'));
    ASSERT_EQ(profiles_renumber_all(), 0);
    EXPECT_EQ(profile_record_sequence(profile_find(9, "a")), 2u);
    EXPECT_EQ(profile_record_sequence(profile_find(9, "b")), 1u);
    EXPECT_EQ(profile_record_sequence(profile_find(9, "c")), 3u);
    EXPECT_EQ(stored("VdslRfiBands9"), "<absent>");
    EXPECT_EQ(stored("VdslRfiBands40"), "<absent>");
    EXPECT_EQ(stored("VdslRfiBands1").substr(0, 2), "b@");
    EXPECT_EQ(stored("VdslRfiBands3").substr(0, 2), "c@");
    EXPECT_EQ(stored("RFI_PROFILE_INDEX"), "2@1@3");
    EXPECT_EQ(profile_type_descriptor(9)->next_sequence, 3u);
}

TEST_F(Persistence, HighSequenceNumbersRenumberAtLoad)
{
    store("CHAN_PROFILE_INDEX", "60000");
    store("VdslChanProfiles60000", record("hi", 10));
    take();
    profiles_load(PROFILE_CHANNEL);
    EXPECT_THAT(take(), HasSubstr("Sorting Profile , please wait few minutes"));
    EXPECT_EQ(profile_record_sequence(profile_find(3, "hi")), 1u);
    EXPECT_EQ(stored("CHAN_PROFILE_INDEX"), "1");
}

}  // namespace
