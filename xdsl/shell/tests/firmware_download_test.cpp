// "dpf", "ff" and "versioninfo" with a fake device; the boot itself is
// tested against the chip model and end to end.
#include <fstream>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "firmware_package.h"
#include "package_builder.h"
#include "shell_fixture.h"
#include "sleep_recorder.h"
#include "vdsl.h"

namespace {

using pkgtest::Bytes;
using shelltest::take;

std::vector<unsigned long> &sleeps = shelltest::SleepRecorder::waits();

class Download : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        sleeps.clear();
        path_ = dir_ + "/firmware_package.b";
        firmware_package_path = path_.c_str();
        store("EBM_BOOT_IF_P1", "lo");
        take();
    }
    void TearDown() override
    {
        firmware_package_path = FIRMWARE_PACKAGE_PATH;
        ShellTest::TearDown();
    }
    void write_package(const pkgtest::Contents &s)
    {
        Bytes b = pkgtest::build(s);
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    fakedev::Device &dev = fakedev::device();
    std::string path_;
    shelltest::SleepRecorder recorder_;
};

TEST_F(Download, UnknownImageStillAppliesTheDefaultProfile)
{
    pkgtest::Contents s;
    s.images = {Bytes(6, 0), Bytes(6, 0)};
    s.default_profile = 1;
    s.profiles = {{"SYS_a", {{"0.9.1", "00000a"}}}};
    write_package(s);
    EXPECT_EQ(run("util dpf 1 3"), 100);  // the download's failure stays the answer
    std::string out = take();
    EXPECT_NE(out.find("No such firmware ID: 3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Setup ADSL settings\n"), std::string::npos) << out;
    EXPECT_EQ(dev.values["0.9.1"], "00000a");
    EXPECT_EQ(dev.values["2.1.118"], "000800");  // the re-apply sequence ran
}

TEST_F(Download, NothingToDoButChooseTheInterfaces)
{
    EXPECT_EQ(run("util dpf 1 0 0"), 0);
    EXPECT_EQ(dev.numbers(), std::vector<unsigned long>{VDSL_SET_MGT_IFACE});
    struct Case {
        const char *line;
        int rc;
    } cases[] = {
        {"util dpf 1", -111}, {"util dpf", -111}, {"util dpf 2 1", 100}, {"util dpf -2147483648 1", 100}};
    for (const Case &c : cases)
        EXPECT_EQ(run(c.line), c.rc) << c.line;
    take();
    run("util dpf 1");
    EXPECT_EQ(take(), "Usage: cmd <portid> <firmwareid> [<profileid>]\n       [portid: 1 - 1]\n"
                      "       [firmwareid: OT=1, RT=2, 0 to skip]\n       [profileid: 1 - 8, 0 to skip]\n");
}

TEST_F(Download, FlashGoesInChunksOrStopsAtTheDriversAnswer)
{
    std::string file = write_file("flash.bin", std::string(1300, 'f'));
    dev.handler = [](unsigned long, unsigned char *, std::size_t) { return -25; };
    EXPECT_EQ(run("util ff " + file), -25);
    EXPECT_EQ(take(), "Flashing firmware " + file + "...\nErasing Flash Memory...\n");

    dev.handler = nullptr;
    dev.requests.clear();
    EXPECT_EQ(run("util ff " + file), 0);
    std::vector<unsigned> chunks;
    for (const fakedev::Request &r : dev.requests)
        if (r.block[0] == 2)
            chunks.push_back(static_cast<unsigned>(r.block[1] << 8 | r.block[2]));
    EXPECT_EQ(chunks, (std::vector<unsigned>{512, 512, 276}));
    EXPECT_EQ(sleeps, std::vector<unsigned long>{2000000});
    EXPECT_NE(take().find("\nFlashing Firmware Complete.\n"), std::string::npos);

    EXPECT_EQ(run("util ff " + dir_ + "/none"), 100);
    EXPECT_EQ(take(), "Flashing firmware " + dir_ + "/none...\nfirmware file \"" + dir_ +
                          "/none\" was not found!!\n");
}

TEST_F(Download, VersionInfoShowsFirmwareAndPackage)
{
    dev.values["2.1.1"] = "0a0b0c";
    dev.values["2.1.2"] = "000001";
    dev.values["2.1.3"] = "ffffff";
    EXPECT_EQ(run("util versioninfo 1"), 0);
    EXPECT_EQ(take(), "Header rev: 080516_161934_1_50_4_66_2_2, DSPVer: 0a0b0c_000001_ffffff, "
                      "FirmwarePackageVer: 000000_000000_000000\n");
    pkgtest::Contents s;
    s.version = {0x01, 0x02, 0x03, 0xa4, 0xb5, 0xc6, 0x07, 0x08, 0x09};
    write_package(s);
    EXPECT_EQ(run("util versioninfo 1"), 0);
    EXPECT_NE(take().find("FirmwarePackageVer: 010203_a4b5c6_070809\n"), std::string::npos);
    dev.state = 1;
    EXPECT_EQ(run("util versioninfo 1"), 100);
    EXPECT_EQ(take(), "");
}

}  // namespace
