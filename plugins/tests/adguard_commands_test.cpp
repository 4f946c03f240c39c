// The "adguard-dns" commands: answers, refusals and configuration output.
#include "plugin_fixture.h"

namespace {

class AdguardCommandsTest : public PluginCoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        ASSERT_FALSE(Failed(Load(ADGUARD_PLUGIN))) << load_output_;
        Run("event knownhost add mac=00:11:22:33:44:55");
    }
};

TEST_F(AdguardCommandsTest, AnswersOfAssign)
{
    struct Case {
        const char *line;
        const char *answer;
    } cases[] = {
        {"adguard-dns assign host 00:11:22:33:44:55 type family",
         "[0x002000c8] \"00:11:22:33:44:55\" has been associated with \"family\" profile"},
        {"adguard-dns assign host 00:11:22:33:44:55 type standard",
         "[0x0020012c] \"00:11:22:33:44:55\" has been reassociated with \"standard\" profile"},
        {"adguard-dns assign host 00:11:22:33:44:77 type family",
         "[0x802000c8] host \"00:11:22:33:44:77\" is not in the known host list"},
        {"no adguard-dns assign host 00:11:22:33:44:55",
         "[0x00200190] host \"00:11:22:33:44:55\" has been removed"},
        {"no adguard-dns assign host 00:11:22:33:44:55", "[0x80200064] no such host \"00:11:22:33:44:55\""},
        {"adguard-dns assign type family", "[0x0020012c] default type set"},
    };
    for (const Case &c : cases)
        EXPECT_THAT(Run(c.line), HasSubstr(c.answer)) << c.line;
    EXPECT_THAT(Run("show running-config"), Not(HasSubstr("assign host")));
}

TEST_F(AdguardCommandsTest, BadArgumentsAreRefused)
{
    for (const char *line : {"adguard-dns assign host 00:11:22:33:44 type family",
                             "adguard-dns assign host 00:11:22:33:44:55 type strict"}) {
        std::ostringstream o;
        EXPECT_FALSE(host_->RunLine(line, o)) << line << ": " << o.str();
    }
    EXPECT_THAT(Run("show running-config"), Not(HasSubstr("assign")));
}

TEST_F(AdguardCommandsTest, ConfigurationOutput)
{
    EXPECT_EQ(Run("show running-config"), "");
    Run("adguard-dns assign host 00:11:22:33:44:55 type default\nadguard-dns assign type family\nadguard-dns enable");
    std::string config = Run("show running-config");
    EXPECT_THAT(config, HasSubstr("adguard-dns\n    enable\n"
                                  "    assign host 00:11:22:33:44:55 type default\n"
                                  "    assign type family\n"))
        << config;
    // Back to "standard": no default-type line; disabled: no enable line.
    Run("no adguard-dns assign\nno adguard-dns enable");
    config = Run("show running-config");
    EXPECT_THAT(config, Not(HasSubstr("assign type")));
    EXPECT_THAT(config, Not(HasSubstr("enable")));
    EXPECT_THAT(config, HasSubstr("assign host 00:11:22:33:44:55 type default"));
}

TEST_F(AdguardCommandsTest, ShowCommandsAndCheck)
{
    std::string out = Run("show adguard-dns profiles");
    EXPECT_THAT(out, HasSubstr("<profiles>\n    <profile>default</profile>\n    <profile>standard</profile>\n"
                               "    <profile>family</profile>\n  </profiles>"))
        << out;
    // Nothing answers the check here.
    out = Run("show adguard-dns availability");
    EXPECT_THAT(out, HasSubstr("<available>0</available>\n  <port>5353</port>")) << out;
    EXPECT_THAT(Run("adguard-dns check-availability"),
                HasSubstr("[0x802001f4] AdGuard DNS is not available"));
    // Within the cache span the stored answer is reused unasked.
    const size_t asked = host_->JournalMatching("dns resolve").size();
    Run("show adguard-dns availability");
    EXPECT_EQ(host_->JournalMatching("dns resolve").size(), asked);
}

}  // namespace
