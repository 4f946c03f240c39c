#include "cli_print.h"

#include <gtest/gtest.h>
#include <string>

#include "output_sink.h"

namespace {

std::string out;

void capture(const char *data, std::size_t length) { out.append(data, length); }

class CliPrintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cli::set_output_sink(capture);
        out.clear();
        cli_silent_buffer_clear();
    }
    void TearDown() override
    {
        cli::set_output_sink(nullptr);
        cli_print_mask = 0;
    }
};

enum Seen { Shown, Collected, Hidden };

// Which levels each mode's mask shows, collects or hides.
TEST_F(CliPrintTest, ModeMasksAgainstMessageLevels)
{
    const uint32_t levels[] = {CLI_LEVEL_ORDINARY, CLI_LEVEL_ERROR,     CLI_LEVEL_ERROR_CODE,
                               CLI_LEVEL_RECORD,   CLI_LEVEL_TRACE,     CLI_LEVEL_TERMINAL,
                               CLI_LEVEL_PORT,     CLI_LEVEL_PORT_STATE};
    struct Row {
        uint32_t mask;
        Seen expect[8];
    } rows[] = {
        {CLI_MASK_INTERACTIVE, {Shown, Shown, Hidden, Hidden, Hidden, Shown, Hidden, Hidden}},
        {CLI_MASK_SETUP, {Shown, Shown, Hidden, Hidden, Hidden, Hidden, Hidden, Hidden}},
        {CLI_MASK_CLEAN, {Shown, Shown, Shown, Hidden, Shown, Shown, Shown, Shown}},
        {CLI_MASK_SILENT, {Hidden, Collected, Collected, Collected, Hidden, Hidden, Hidden, Hidden}},
        {CLI_MASK_ONE_SHOT, {Shown, Shown, Hidden, Hidden, Hidden, Hidden, Hidden, Hidden}},
        {0, {Hidden, Hidden, Hidden, Hidden, Hidden, Hidden, Hidden, Hidden}},
        {0x20, {Shown, Shown, Hidden, Hidden, Hidden, Hidden, Hidden, Hidden}},
    };
    for (const Row &row : rows) {
        for (int i = 0; i < 8; i++) {
            out.clear();
            cli_silent_buffer_clear();
            cli_print_mask = row.mask;
            cli_print(levels[i], "m%d", i);
            std::string want = "m" + std::to_string(i);
            SCOPED_TRACE(testing::Message() << std::hex << "mask 0x" << row.mask << " level 0x" << levels[i]);
            switch (row.expect[i]) {
            case Shown:
                EXPECT_EQ(out, want + "\n");
                EXPECT_STREQ(cli_silent_buffer(), "");
                break;
            case Collected:
                EXPECT_EQ(out, "");
                EXPECT_EQ(std::string(cli_silent_buffer()), want);
                break;
            case Hidden:
                EXPECT_EQ(out, "");
                EXPECT_STREQ(cli_silent_buffer(), "");
                break;
            }
        }
    }
}

TEST_F(CliPrintTest, FormattedTextIsWrittenAsPlainText)
{
    cli_print_mask = CLI_MASK_CLEAN;
    cli_print(CLI_LEVEL_ORDINARY, "%s", "load 50%s done");
    EXPECT_EQ(out, "load 50%s done\n");
}

TEST_F(CliPrintTest, LongMessagesAreShownWhole)
{
    cli_print_mask = CLI_MASK_CLEAN;
    std::string text(5000, 'x');
    text += "end";
    cli_print(CLI_LEVEL_ORDINARY, "%s", text.c_str());
    EXPECT_EQ(out, text + "\n");
}

TEST_F(CliPrintTest, SilentModeCollectsWithoutNewlines)
{
    cli_print_mask = CLI_MASK_SILENT;
    cli_print(CLI_LEVEL_RECORD, "a");
    cli_print(CLI_LEVEL_ERROR, "b");
    EXPECT_EQ(out, "");
    EXPECT_STREQ(cli_silent_buffer(), "ab");
    cli_silent_buffer_replace_last(';');
    EXPECT_STREQ(cli_silent_buffer(), "a;");
}

TEST_F(CliPrintTest, FullSilentBufferDropsWholeMessagesAndNeverOverruns)
{
    cli_print_mask = CLI_MASK_SILENT;
    std::string chunk(1000, 'r');
    for (int i = 0; i < 20; i++)
        cli_print(CLI_LEVEL_RECORD, "%s", chunk.c_str());
    EXPECT_EQ(cli_silent_buffer_length(), 16000u);
    cli_print(CLI_LEVEL_RECORD, "%s", std::string(383, 'z').c_str());
    EXPECT_EQ(cli_silent_buffer_length(), 16383u) << "a message that fits exactly is kept";
    cli_print(CLI_LEVEL_RECORD, "y");
    EXPECT_EQ(cli_silent_buffer_length(), 16383u);
    EXPECT_EQ(cli_silent_buffer()[16383], '\0');
    cli_silent_buffer_clear();
    cli_print(CLI_LEVEL_RECORD, "again");
    EXPECT_STREQ(cli_silent_buffer(), "again");
}

}  // namespace
