// "util firmver": driver and firmware identifiers, and the silent record.
#include <cstring>
#include <string>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "shell_fixture.h"
#include "vdsl.h"

namespace {

using shelltest::take;
using ::testing::HasSubstr;

std::string hex_of(const std::string &text)
{
    std::string out;
    char two[3];
    for (unsigned char c : text) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

class FirmVer : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        fakedev::device().handler = [](unsigned long number, unsigned char *b, std::size_t size) {
            if (number == VDSL_DRIVER_VERSION) {
                std::memset(b, 0, size);
                std::strcpy(reinterpret_cast<char *>(b), "1.7.9-37;201904102211");
                return 0;
            }
            return fakedev::builtin_answer(number, b, size);
        };
        auto &v = fakedev::device().values;
        v["2.1.1"] = "012345";
        v["2.1.2"] = "190410";
        v["2.1.3"] = "221100";
        take();
    }
};

TEST_F(FirmVer, PrintsDriverInventoryAndFirmware)
{
    fakedev::device().values["0.7.4"] = hex_of("abAB09zzversion1");
    EXPECT_EQ(run("util firmver 1"), 0);
    std::string out = take();
    EXPECT_THAT(out,
                HasSubstr("xDSLDriverVersion=1.7.9-37 - 201904102211\n"
                          "InventoryFWVersion=abAB09zzversion1\n"
                          "InventoryFWVersionNum=0_88_1726_3807\n"
                          "xDSLFirmwareVersion=012345\nxDSLFirmwareDate=190410\nxDSLFirmwareTime=221100\n"));
    EXPECT_THAT(out, HasSubstr("\n1.7.9-37\n"));
    EXPECT_EQ(cli_print_mask, uint32_t(CLI_MASK_CLEAN));
}

TEST_F(FirmVer, ShortVersionTextStillDecoded)
{
    fakedev::device().values["0.7.4"] = hex_of("ab!");
    EXPECT_EQ(run("util firmver 1"), 0);
    // "!" and the missing characters are no base-62 digits: each counts as
    // the digit before it.
    EXPECT_THAT(take(), HasSubstr("InventoryFWVersion=Error (Length 6)\nInventoryFWVersion=ab!\n"
                                  "InventoryFWVersionNum=0_63_63_63\n"));
}

TEST_F(FirmVer, SilentModeKeepsOnlyTheRecord)
{
    cli_print_mask = CLI_MASK_SILENT;
    cli_silent_buffer_clear();
    EXPECT_EQ(run("util firmver 1"), 0);
    EXPECT_EQ(std::string(cli_silent_buffer(), cli_silent_buffer_length()), "xDSLDriverVersion 1.7.9-37|");
    EXPECT_EQ(cli_print_mask, uint32_t(CLI_MASK_SILENT));
}

TEST_F(FirmVer, RefusalsAndFailures)
{
    EXPECT_EQ(run("util firmver"), CLI_USAGE);
    EXPECT_EQ(take(), "Usage:cmd <portid>\n");
    EXPECT_EQ(run("util firmver 2"), CLI_FAILED);
    take();
    fakedev::device().state = VDSL_STATE_DISABLE;
    EXPECT_EQ(run("util firmver 1"), CLI_FAILED);
    EXPECT_EQ(take(), "");
    fakedev::device().state = 2;
    fakedev::device().failures["0.7.4"] = 118;
    EXPECT_EQ(run("util firmver 1"), 0);
    EXPECT_THAT(take(), HasSubstr("InventoryFWVersion=Error (Getting Mib)\n"));
}

}  // namespace
