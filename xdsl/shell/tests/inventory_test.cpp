// "show invent" with a fake device: entries read word by word through the
// driver's entry lookup.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "display_fixture.h"
#include "vdsl_request.h"

namespace {

using shelltest::take;

class Inventory : public shelltest::DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        dev.state = VDSL_STATE_SHOWTIME;
    }
    // Places an entry's bytes into chip words at an address of its own.
    void entry(const std::string &name, const std::string &bytes, unsigned words)
    {
        unsigned address = next_;
        next_ += 0x100;
        dev.lengths[name] = words;
        dev.addresses[name] = address;
        std::string padded = bytes;
        padded.resize(3 * words, '\0');
        for (unsigned w = 0; w < words; w++) {
            auto b = [&](unsigned i) { return static_cast<unsigned char>(padded[3 * w + i]); };
            dev.words[address + w] = static_cast<unsigned>(b(0)) << 16 | b(1) << 8 | b(2);
        }
    }
    void end(int e, const std::string &system_vendor, const std::string &version, const std::string &serial)
    {
        const std::string i = "." + std::to_string(e);
        dev.values["0.7.1" + i] = e == 1 ? "000001" : "000002";
        entry("0.7.2" + i, std::string("\xb5\x00", 2) + "BDCM", 3);
        entry("0.7.3" + i, system_vendor, 3);
        entry("0.7.4" + i, version, 6);
        entry("0.7.5" + i, serial, 11);
        dev.values["0.7.6" + i] = "000000";
        dev.values["0.7.7" + i] = "000102030405060708";
    }
    unsigned next_ = 0x2000;
};

TEST_F(Inventory, BothEndsInTheirVersionForms)
{
    const std::string sorv = std::string("\x00\x01", 2) + "SORV";
    end(1, std::string("\x00\x01", 2) + "ABCD", "V1.2", std::string(32, 'S'));
    end(2, sorv, std::string("\x01\x02\x03\x12\xaa\xbb\xcc\xdd\xee\xff\x00\x11\x22\x33\x44\x55", 16),
        "RT-42");
    EXPECT_EQ(run("show invent 1"), CLI_DONE);
    std::string out = take();
    const std::string want =
        "Line Inventory of Line 1:\n"
        "Unit\t                  |Central Office                          \n"
        "G994vendorid              |Country code:b500,Vendor=BDCM                                    \n"
        "Systemvendorid            |Country code:0001,Vendor=ABCD                                    \n"
        "version no.               |V1.2                \n"
        "version no.(octet string) |56312E32000000000000000000000000\n"
        "serial no.                |" +
        std::string(32, 'S') +
        "        \n"
        "self-test result          |passed                                  \n"
        "tx capabilities           |000102030405060708                      \n\n"
        "Line Inventory of Line 1:\n"
        "Unit\t                  |Remote Site                             \n";
    EXPECT_EQ(out.substr(0, want.size()), want);
    EXPECT_NE(out.find("version no.               |010203_12AABB_CCDDEE_FF001122334455\n"), std::string::npos)
        << out;

    std::string record = silent("interface xdsl show invent 1");
    EXPECT_EQ(
        record.rfind("Unit=Central Office|G994vendorid=Country code:b500,Vendor=BDCM|"
                     "Systemvendorid=Country code:0001,Vendor=ABCD|version no.=V1.2|"
                     "version no.(octet string)=56312E32000000000000000000000000|serial no.=" +
                         std::string(32, 'S') +
                         "|self-test result=passed|tx capabilities=000102030405060708|Unit=Remote Site|",
                     0),
        0u)
        << record;
}

TEST_F(Inventory, Base62VersionShowsTheRawTextToo)
{
    end(1, std::string("\x00\x01", 2) + "SORV", "bBaz9!c", "x");
    end(2, std::string("\x00\x01", 2) + "SORV", "bBaz9!c", "x");
    run("show invent 1");
    std::string out = take();
    EXPECT_NE(out.find("version no.               |1_1674_1611_3784\n"), std::string::npos) << out;
    EXPECT_NE(out.find("raw version no.           |bBaz9!c             \n"), std::string::npos) << out;
    EXPECT_NE(silent("show invent 1")
                  .find("|version no.=1_1674_1611_3784|version no.(octet string)="
                        "6242617A392163000000000000000000|raw version no.=bBaz9!c|"),
              std::string::npos);
}

TEST_F(Inventory, AnEndWithoutCapabilitiesPrintsNothing)
{
    end(1, "", "", "");
    end(2, "", "", "");
    dev.failures["0.7.7.1"] = 100;
    run("show invent 1");
    std::string out = take();
    EXPECT_EQ(out.rfind("Line Inventory of Line 1:\nLine Inventory of Line 1:\nUnit", 0), 0u) << out;
}

}  // namespace
