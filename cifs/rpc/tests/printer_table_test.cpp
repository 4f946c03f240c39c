// The printer records: claiming one per device path, identifying the device,
// its information, forms and security descriptor.
#include "spooler_fixture.h"

#include "fw_test/matchers.h"
#include "zmo.h"

#include <cstring>

using namespace spooler_test;
using fw_test::HasSubstr;

namespace {

TEST(DeviceIdField, TakesTheValueUpToItsSemicolon)
{
    struct Case {
        const char *id, *key;
        bool found;
        std::string value;
    } cases[] = {
        {"MFG:Acme;MDL:Laser 9;", "MFG", true, "Acme"},
        {"MFG:Acme;MDL:Laser 9;", "MDL", true, "Laser 9"},
        {"MFGR:x;MFG:Acme;", "MFG", true, "Acme"},  // a longer key is no match
        {"MFG:;", "MFG", true, ""},
        {"MFG:Acme", "MFG", false, ""},  // no ';' after the value
        {"MDL:Laser;", "MFG", false, ""},
        {"MFG", "MFG", false, ""},
        {"", "MFG", false, ""},
    };
    for (const Case &c : cases) {
        char out[64] = "stale";
        EXPECT_EQ(sy::print::getDeviceIdField(c.id, c.key, out), c.found) << c.id;
        EXPECT_EQ(std::string(out), c.value) << c.id;
    }
    char out[64];
    std::string longId = "MFG:" + std::string(100, 'a') + ";";
    ASSERT_TRUE(sy::print::getDeviceIdField(longId, "MFG", out));
    EXPECT_EQ(std::string(out), std::string(63, 'a'));
}

TEST(DeviceIdText, StaysInsideItsLengthAndItsBuffer)
{
    uint8_t buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    buffer[0] = 0;
    buffer[1] = 6;  // four characters
    EXPECT_EQ(sy::print::deviceIdText(buffer, sizeof buffer), "xxxx");
    buffer[0] = 0xFF;  // beyond the buffer: bounded by it, no terminator needed
    EXPECT_EQ(sy::print::deviceIdText(buffer, sizeof buffer), std::string(14, 'x'));
    buffer[0] = 0;
    buffer[1] = 0;
    EXPECT_EQ(sy::print::deviceIdText(buffer, sizeof buffer), std::string(14, 'x'));
    buffer[5] = 0;
    EXPECT_EQ(sy::print::deviceIdText(buffer, sizeof buffer), "xxx");
    EXPECT_EQ(sy::print::deviceIdText(buffer, 1), "");
}

using PrinterTable = SpoolerTest;

TEST_F(PrinterTable, OneRecordPerDevicePathAndFourAtMost)
{
    for (int i = 0; i < 5; ++i)
        fake.add("/dev/usb/lp" + std::to_string(i));
    EXPECT_EQ(printer("/dev/usb/lp0"), 0u);
    EXPECT_EQ(printer("/dev/usb/lp1"), 1u);
    EXPECT_EQ(printer("/dev/usb/lp0", "Other"), 0u) << "the record that serves the path";
    EXPECT_EQ(printer("/dev/usb/lp2"), 2u);
    EXPECT_EQ(printer("/dev/usb/lp3"), 3u);
    EXPECT_EQ(printer("/dev/usb/lp4"), SY_NO_PRINTER);
    syInitPrinters();
    EXPECT_EQ(printer("/dev/usb/lp4"), 0u) << "set-up frees every record";
}

TEST_F(PrinterTable, ADevicePathLongerThanTheRecordIsRefused)
{
    std::string fits = "/" + std::string(62, 'p'), tooLong = "/" + std::string(63, 'p');
    fake.add(fits);
    EXPECT_EQ(printer(tooLong), SY_NO_PRINTER);
    EXPECT_EQ(printer(std::string(1001, 'p')), SY_NO_PRINTER);
    EXPECT_EQ(printer(""), SY_NO_PRINTER);
    EXPECT_EQ(syGetPrinterHandle(nullptr, nullptr, 0), SY_NO_PRINTER);
    EXPECT_EQ(printer(fits), 0u);
    EXPECT_EQ(std::string(record(0).devicePath), fits);
}

TEST_F(PrinterTable, IdentificationReadsMakerModelAndIds)
{
    FakeDevice &d = fake.add("/dev/usb/lp0");
    d.deviceId = "MFG:" + std::string(40, 'M') + ";CMD:PCL;MDL:Laser 9;";
    d.ids[0] = 0x04E8;
    d.ids[1] = 0x3242;
    ASSERT_EQ(printer("/dev/usb/lp0", "Laser", 2), 0u);
    sy::print::Printer &p = record(0);
    EXPECT_EQ(A(p.manufacturer), std::string(31, 'M'));
    EXPECT_EQ(A(p.model), "Laser 9");
    EXPECT_EQ(p.vendorId, 0x04E8);
    EXPECT_EQ(p.productId, 0x3242);
    EXPECT_EQ(std::string(p.logName), "Laser");
    EXPECT_EQ(p.info.logVerbosity, 2);
    EXPECT_EQ(p.deviceStatus, 0u);
    EXPECT_EQ(p.fd, -1) << "the device is closed again";
    EXPECT_EQ(fake.opens, fake.closes);
}

TEST_F(PrinterTable, AFailedIdentificationKeepsTheRecordAndTriesAgain)
{
    struct Case {
        const char *what;
        void (*breakIt)(FakeDevice &);
        const char *logged;
    } cases[] = {
        {"open", [](FakeDevice &d) { d.openFails = true; }, nullptr},
        {"device ID", [](FakeDevice &d) { d.idFails = true; }, nullptr},
        {"VID/PID", [](FakeDevice &d) { d.vidPidFails = true; }, "failed to get printer VID/PID"},
        {"VID range", [](FakeDevice &d) { d.ids[0] = 0x10000; },
         "printer VID/PID (00010000:00005678) are invalid."},
        {"status", [](FakeDevice &d) { d.statusFails = true; }, nullptr},
    };
    for (const Case &c : cases) {
        syInitPrinters();
        fake.devices.clear();
        fake.paths.clear();
        log.clear();
        FakeDevice &d = fake.add("/dev/usb/lp0");
        c.breakIt(d);
        EXPECT_EQ(printer("/dev/usb/lp0"), 0u) << c.what;
        EXPECT_TRUE(record(0).deviceStatus & SY_DEVICE_NOT_AVAILABLE) << c.what;
        EXPECT_EQ(record(0).fd, -1) << c.what;
        if (c.logged)
            EXPECT_TRUE(log.contains(c.logged)) << c.what;
        fake.devices["/dev/usb/lp0"] = FakeDevice{};
        EXPECT_EQ(printer("/dev/usb/lp0"), 0u) << c.what;
        EXPECT_EQ(record(0).deviceStatus, 0u) << c.what << ": identified at the next claim";
    }
}

TEST_F(PrinterTable, InformationStartsAsSetUpAndCarriesTheDeviceStatus)
{
    FakeDevice &d = fake.add("/dev/usb/lp0");
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    SYPrinterInfo info;
    ASSERT_EQ(syGetPrinterInfo(0, &info), 0);
    EXPECT_EQ(A(info.portName), "VX Printer Port");
    EXPECT_EQ(A(info.printProcessor), "winprint");
    EXPECT_EQ(A(info.dataType), "RAW");
    EXPECT_EQ(A(info.deviceMode.formName), "A4");
    EXPECT_EQ(A(info.comment), "");
    EXPECT_EQ(info.deviceMode.size, 104);
    EXPECT_EQ(info.deviceMode.fields, SY_DEVMODE_FORMNAME);
    EXPECT_EQ(info.attributes, 0x48u);
    EXPECT_EQ(info.priority, 1u);
    EXPECT_EQ(info.defaultPriority, 1u);
    EXPECT_EQ(info.one, 1u);
    EXPECT_EQ(info.status, 0u);
    d.portStatus = 0x38;  // paper out
    gNow += 1000;
    ASSERT_EQ(syGetPrinterInfo(0, &info), 0);
    EXPECT_EQ(info.status, SY_DEVICE_PAPER_OUT);
    EXPECT_EQ(record(0).info.status, 0u) << "the device status is only in the copy";
    d.statusFails = true;
    gNow += 1000;
    EXPECT_EQ(syGetPrinterInfo(0, &info), -1);
    EXPECT_EQ(record(0).deviceStatus, SY_DEVICE_NOT_AVAILABLE);
    EXPECT_EQ(syGetPrinterInfo(4, &info), -1);
}

TEST_F(PrinterTable, SetInformationCopiesTextsCutToTheirFields)
{
    fake.add("/dev/usb/lp0");
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    SYPrinterInfo info;
    ASSERT_EQ(syGetPrinterInfo(0, &info), 0);
    std::vector<CMWchar> comment = W(std::string(150, 'c')), location = W("Hall"), form = W("Letter2"),
                         driver = W(std::string(300, 'd'));
    uint8_t extra[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    info.comment = comment.data();
    info.location = location.data();
    info.driverName = driver.data();
    info.deviceMode.formName = form.data();
    info.deviceMode.driverExtra = extra;
    info.deviceMode.driverExtraLength = sizeof extra;
    info.priority = 7;
    ASSERT_EQ(sySetPrinterInfo(0, &info), 0);
    SYPrinterInfo after;
    ASSERT_EQ(syGetPrinterInfo(0, &after), 0);
    EXPECT_EQ(A(after.comment), std::string(99, 'c'));
    EXPECT_EQ(A(after.location), "Hall");
    EXPECT_EQ(A(after.driverName), std::string(257, 'd'));
    EXPECT_EQ(A(after.deviceMode.formName), "Letter");
    EXPECT_EQ(after.priority, 7u);
    EXPECT_EQ(after.comment, record(0).comment) << "the printer's own field";
    EXPECT_EQ(after.deviceMode.driverExtraLength, 8);
    EXPECT_EQ(std::memcmp(after.deviceMode.driverExtra, extra, 8), 0);
    ASSERT_EQ(sySetPrinterInfo(0, &after), 0) << "the printer's own texts given back";
    ASSERT_EQ(syGetPrinterInfo(0, &after), 0);
    EXPECT_EQ(A(after.location), "Hall");
}

TEST_F(PrinterTable, SetInformationRefusesAnExtraBeyondItsFieldAndKeepsTheQueue)
{
    fake.add("/dev/usb/lp0");
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    ASSERT_NE(start(0), SY_NO_JOB);
    SYPrinterInfo info;
    ASSERT_EQ(syGetPrinterInfo(0, &info), 0);
    std::vector<uint8_t> extra(1001, 0xAB);
    info.deviceMode.driverExtra = extra.data();
    info.deviceMode.driverExtraLength = 1001;
    EXPECT_EQ(sySetPrinterInfo(0, &info), -1);
    EXPECT_EQ(record(0).info.deviceMode.driverExtraLength, 0);
    info.deviceMode.driverExtraLength = 1000;
    // A client's record (a level-2 set) brings its own counters and status.
    info.jobsQueued = 1000;
    info.bytesPrinted = 5;
    info.status = 0x80 | SY_PRINTER_PAUSED;
    info.securityDescriptorLength = 5000;
    ASSERT_EQ(sySetPrinterInfo(0, &info), 0);
    EXPECT_EQ(record(0).info.jobsQueued, 1u);
    EXPECT_EQ(record(0).info.bytesPrinted, 0u);
    EXPECT_EQ(record(0).info.status, SY_PRINTER_PRINTING | SY_PRINTER_PAUSED);
    EXPECT_EQ(record(0).info.securityDescriptorLength, 0u);
    EXPECT_EQ(sySetPrinterInfo(4, &info), -1);
}

TEST_F(PrinterTable, SecurityDescriptorFitsItsFieldOrIsRefused)
{
    std::vector<uint8_t> sd(321, 0x5A);
    EXPECT_EQ(syPrinterSetSecurityDescriptor(0, sd.data(), 321), -1);
    EXPECT_EQ(syPrinterSetSecurityDescriptor(4, sd.data(), 20), -1);
    ASSERT_EQ(syPrinterSetSecurityDescriptor(1, sd.data(), 320), 0);
    std::vector<uint8_t> out(512);
    EXPECT_EQ(syPrinterGetSecurityDescriptor(1, out.data(), 319), 0u) << "too small a buffer";
    EXPECT_EQ(syPrinterGetSecurityDescriptor(1, out.data(), 512), 320u);
    EXPECT_EQ(out[319], 0x5A);
    EXPECT_EQ(syPrinterGetSecurityDescriptor(0, out.data(), 512), 0u) << "none set";
    EXPECT_EQ(syPrinterGetSecurityDescriptor(7, out.data(), 512), 0u);
}

TEST_F(PrinterTable, TwoFormsAndNoDriver)
{
    SYPrintForm form;
    ASSERT_EQ(syGetPrintForm(0, 0, &form), 0);
    EXPECT_EQ(A(form.name), "Letter");
    EXPECT_EQ(form.width, 215900u);
    EXPECT_EQ(form.height, 279400u);
    ASSERT_EQ(syGetPrintForm(0, 1, &form), 0);
    EXPECT_EQ(A(form.name), "A4");
    EXPECT_EQ(form.flags, 1u);
    EXPECT_EQ(form.width, 210000u);
    EXPECT_EQ(form.height, 297000u);
    EXPECT_EQ(form.left, 0u);
    EXPECT_EQ(form.right, 210000u);
    EXPECT_EQ(form.bottom, 297000u);
    EXPECT_EQ(syGetPrintForm(0, 2, &form), -1);
    uint8_t buffer[64];
    EXPECT_EQ(syGetPrinterDriver(0, 3, buffer), -1);
}

TEST_F(PrinterTable, LogLinesCarryTheShareNameAndFollowTheVerbosity)
{
    fake.add("/dev/usb/lp0");
    ASSERT_EQ(printer("/dev/usb/lp0", "Laser", 1), 0u);
    log.clear();
    uint32_t id = start(0);
    EXPECT_TRUE(log.contains("Laser: starting new job " + std::to_string(id) + " now."));
    sy::print::printerLog(2, &record(0), "hidden");
    EXPECT_FALSE(log.contains("hidden"));
    sy::print::printerLog(2, nullptr, "no printer");
    EXPECT_TRUE(log.contains("-: no printer"));
    ASSERT_FALSE(log.entries().empty());
    EXPECT_EQ(log.entries().back().level, ZMO_LOG_SPOOLER);
}

}  // namespace
