#include "key_store.h"

#include "fw_test/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

class KeyStoreTest : public ::testing::Test {
protected:
    void SetUp() override { path_ = dir_.file("store"); }

    // Runs one command against the file, as one program run would.
    int run(std::vector<std::string> args, std::string *out = nullptr)
    {
        cfgmgr::KeyStore store(path_);
        std::string error;
        EXPECT_TRUE(store.load(error)) << error;
        std::string o, e;
        int status = cfgmgr::run(args, store, o, e);
        if (status == 0 && args[0] != "-r") {
            EXPECT_TRUE(store.save(error)) << error;
        }
        if (out)
            *out = o;
        return status;
    }

    fw_test::TempDir dir_{"cfgmgr_test"};
    std::string path_;
};

TEST_F(KeyStoreTest, WriteReadRemoveRoundTrip)
{
    std::string out;
    EXPECT_EQ(run({"-w", "CLI_HOSTNAME=router"}), 0);
    EXPECT_EQ(run({"-r", "CLI_HOSTNAME"}, &out), 0);
    EXPECT_EQ(out, "router\n");
    EXPECT_EQ(run({"-d", "CLI_HOSTNAME"}), 0);
    EXPECT_EQ(run({"-r", "CLI_HOSTNAME"}, &out), 1);
    EXPECT_EQ(out, "");
}

TEST_F(KeyStoreTest, EmptyValueIsToldApartFromMissingKey)
{
    std::string out;
    EXPECT_EQ(run({"-w", "V_POWEROFF_P1="}), 0);
    EXPECT_EQ(run({"-r", "V_POWEROFF_P1"}, &out), 0);
    EXPECT_EQ(out, "\n");
    EXPECT_EQ(run({"-r", "V_DISABLE_P1"}, &out), 1);
    EXPECT_EQ(out, "");
}

TEST_F(KeyStoreTest, ValueKeepsEverythingAfterTheFirstEquals)
{
    std::string out;
    EXPECT_EQ(run({"-w", "K= lead=ing;touch /tmp/x @a"}), 0);
    EXPECT_EQ(run({"-r", "K"}, &out), 0);
    EXPECT_EQ(out, " lead=ing;touch /tmp/x @a\n");
}

TEST_F(KeyStoreTest, SeveralKeysAnswerOneLineEachInOrder)
{
    std::string out;
    ASSERT_EQ(run({"-w", "A1=one"}), 0);
    ASSERT_EQ(run({"-w", "A3=three"}), 0);
    EXPECT_EQ(run({"-r", "A3,A2,A1"}, &out), 0);
    EXPECT_EQ(out, "three\n\none\n");
}

TEST_F(KeyStoreTest, BadArgumentsAreRefusedAndChangeNothing)
{
    struct Case {
        std::vector<std::string> args;
    } cases[] = {
        {{"-w", "NOEQUALS"}},     {{"-w", "BAD KEY=v"}}, {{"-w", "K;x=v"}},
        {{"-w", "K=two\nlines"}}, {{"-r", "a;b"}},       {{"-r", ""}},
        {{"-d", "x y"}},          {{"-x", "K"}},         {{"-r"}},
        {{"-r", "K", "extra"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(run(c.args), 2) << testing::PrintToString(c.args);
    std::ifstream in(path_);
    EXPECT_FALSE(in.good()) << "nothing may have been written";
}

TEST_F(KeyStoreTest, DamagedLinesInTheFileAreSkipped)
{
    {
        std::ofstream f(path_);
        f << "garbage without equals\nGOOD=yes\nbad key=no\n";
    }
    std::string out;
    EXPECT_EQ(run({"-r", "GOOD"}, &out), 0);
    EXPECT_EQ(out, "yes\n");
}

TEST(QuoteArguments, EscapesQuotesBackslashesAndControls)
{
    EXPECT_EQ(cfgmgr::quote_arguments({"-w", "K=a;touch /tmp/x"}), "\"-w\" \"K=a;touch /tmp/x\"");
    EXPECT_EQ(cfgmgr::quote_arguments({"a\"b\\c\n"}), "\"a\\\"b\\\\c\\x0a\"");
}

}  // namespace
