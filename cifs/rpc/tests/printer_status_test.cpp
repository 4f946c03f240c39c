// A printer's status: the makers' rules for the port status, the one-second
// cache, the status file and the periodic update.
#include "spooler_fixture.h"

#include "fw_test/temp_dir.h"

#include <fstream>
#include <sstream>

using namespace spooler_test;

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using PrinterStatus = SpoolerTest;

TEST_F(PrinterStatus, PortStatusByMaker)
{
    struct Case {
        int vendor, port;
        uint32_t device, stored;
    } cases[] = {
        {0x04E8, 0x00, 0, 0x18},  // ready although it says nothing
        {0x1234, 0x00, 0x82, 0x00},  {0x0924, 0x00, 0x82, 0x00}, {0x04E8, 0x18, 0, 0x18},
        {0x0924, 0x18, 0, 0x18},     {0x1234, 0x18, 0, 0x18},    {0x1234, 0x98, 0x200, 0x98},  // busy
        {0x04E8, 0x98, 0, 0x18},     {0x0924, 0x98, 0, 0x18},    {0x1234, 0x38, 0x10, 0x38},   // paper out
        {0x04E8, 0x38, 0x10, 0x38},  {0x1234, 0x10, 0x2, 0x10},                                // error
        {0x0924, 0x10, 0x2, 0x10},   {0x1234, 0x08, 0x80, 0x08},  // not selected: offline
        {0x0924, 0x08, 0, 0x08},                                  // not looked at
        {0x1234, 0xA0, 0x292, 0xA0},
    };
    FakeDevice &d = fake.add("/dev/usb/lp0");
    for (const Case &c : cases) {
        syInitPrinters();
        d.ids[0] = c.vendor;
        d.portStatus = c.port;
        ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
        EXPECT_EQ(record(0).deviceStatus, c.device) << std::hex << c.vendor << " " << c.port;
        EXPECT_EQ(record(0).portStatus, c.stored) << std::hex << c.vendor << " " << c.port;
    }
}

TEST_F(PrinterStatus, TheDeviceIsAskedAtMostOnceASecond)
{
    FakeDevice &d = fake.add("/dev/usb/lp0");
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    int reads = d.statusReads;
    SYPrinterInfo info;
    d.portStatus = 0x38;
    gNow += 999;
    ASSERT_EQ(syGetPrinterInfo(0, &info), 0);
    EXPECT_EQ(d.statusReads, reads);
    EXPECT_EQ(info.status, 0u) << "the cached status";
    gNow += 1;
    ASSERT_EQ(syGetPrinterInfo(0, &info), 0);
    EXPECT_EQ(d.statusReads, reads + 1);
    EXPECT_EQ(info.status, SY_DEVICE_PAPER_OUT);
}

TEST_F(PrinterStatus, TheStatusFileHoldsEightHexDigits)
{
    fw_test::TempDir dir;
    std::string file = dir.file("lp0.status");
    FakeDevice &d = fake.add("/dev/usb/lp0");
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    log.clear();
    syUpdatePrinterStatus(W("/dev/usb/lp0").data(), W("Laser").data(), W(file).data(), 2);
    EXPECT_EQ(readFile(file), "00000018");
    EXPECT_TRUE(log.contains("Laser: updating status..."));
    EXPECT_TRUE(log.contains("Laser: status updating done (0x00000018)."));
    d.portStatus = 0xDEADBEEF;
    gNow += 1000;
    syUpdatePrinterStatus(W("/dev/usb/lp0").data(), W("Laser").data(), W(file).data(), 2);
    EXPECT_EQ(readFile(file), "deadbeef") << "truncated and rewritten";
    // A file that cannot be written is skipped without a word.
    syUpdatePrinterStatus(W("/dev/usb/lp0").data(), W("Laser").data(), W(dir.file("no/such")).data(), 2);
    syUpdatePrinterStatus(W("/dev/usb/lp0").data(), W("Laser").data(), nullptr, 2);
}

TEST_F(PrinterStatus, AnUnclaimedPrinterIsProbedAsIdle)
{
    fw_test::TempDir dir;
    std::string file = dir.file("lp1.status");
    FakeDevice &d = fake.add("/dev/usb/lp1");
    d.ids[0] = 0x04E8;
    d.portStatus = 0;
    syUpdatePrinterStatus(W("/dev/usb/lp1").data(), W("Spare").data(), W(file).data(), 2);
    EXPECT_EQ(readFile(file), "00000018");
    EXPECT_TRUE(log.contains("Spare: updating status (idle)..."));
    EXPECT_EQ(record(0).devicePath[0], 0) << "no record is claimed";
    EXPECT_EQ(fake.opens, fake.closes);
    // A device that is not there reports its last (zero) status.
    syUpdatePrinterStatus(W("/dev/usb/lp7").data(), W("Gone").data(), W(file).data(), 2);
    EXPECT_EQ(readFile(file), "00000000");
}

TEST_F(PrinterStatus, AnUnopenableDeviceIsLoggedAndStaysUnavailable)
{
    FakeDevice &d = fake.add("/dev/usb/lp0");
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    d.openFails = true;
    gNow += 1000;
    SYPrinterInfo info;
    EXPECT_EQ(syGetPrinterInfo(0, &info), -1);
    EXPECT_TRUE(log.contains("unable to open a printer device to read a status"));
    EXPECT_EQ(record(0).deviceStatus, SY_DEVICE_NOT_AVAILABLE);
}

}  // namespace
