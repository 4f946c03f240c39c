// A fixture that puts the fake printer and clock in place around a fresh
// printer table.
#pragma once

#include "fake_printer.h"

#include "fw_test/log_capture.h"

#include <gtest/gtest.h>

namespace spooler_test {

class SpoolerTest : public ::testing::Test {
protected:
    FakePrinter fake;
    fw_test::LogCapture log;

    void SetUp() override
    {
        sy::print::setPrinterDevice(&fake);
        sy::print::setClock(fakeClock);
        sy::print::setLateAnswer(recordAnswer);
        gNow = 10000;
        gAnswers.clear();
        syInitPrinters();
    }
    void TearDown() override
    {
        syInitPrinters();
        sy::print::setPrinterDevice(nullptr);
        sy::print::setClock(nullptr);
        sy::print::setLateAnswer(nullptr);
    }
    // A share's printer with full logging; its device must be added first.
    uint32_t printer(const std::string &path, const std::string &share = "Laser", int16_t verbosity = 3)
    {
        return syGetPrinterHandle(W(path).data(), W(share).data(), verbosity);
    }
    uint32_t start(uint32_t printer, const std::string &document = "doc")
    {
        return syStartPrintJob(printer, W(document).data(), nullptr, 0, nullptr, 0, nullptr);
    }
    int32_t write(uint32_t printer, uint32_t job, const std::string &data, CSLateResponseContext **late)
    {
        return syWritePrintData(printer, job, reinterpret_cast<const uint8_t *>(data.data()),
                                uint32_t(data.size()), late);
    }
    SYPrintJobInfo job(uint32_t id)
    {
        SYPrintJobInfo info{};
        EXPECT_EQ(syGetPrintJobById(0, id, &info), 0) << "job " << id;
        return info;
    }
    sy::print::Printer &record(uint32_t printer) { return sy::print::printers()[printer]; }
};

}  // namespace spooler_test
