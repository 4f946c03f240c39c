// A printer's status: the port status request with its one-second cache and
// the makers' rules, the USB vendor and product ID, the status file and the
// server loop's periodic update.
#include "printer_device.h"
#include "spooler.h"

#include "cmstring.h"
#include "syfiles.h"
#include "usblp_ioctl.h"
#include "zmo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sy::print {

namespace {

// Makers whose printers report the port status their own way.
constexpr uint16_t kVendorReadyOnZero = 0x04E8;
constexpr uint16_t kVendorNoBusyBit = 0x0924;

char gStatusPath[kStatusPathBytes + 1];

void applyPortStatus(Printer &p)
{
    uint32_t s = p.portStatus;
    if (s == 0) {
        if (p.vendorId == kVendorReadyOnZero)
            p.portStatus = USBLP_STATUS_SELECTED | USBLP_STATUS_ERROR_CLEAR;
        else
            p.deviceStatus = SY_DEVICE_ERROR | SY_DEVICE_OFFLINE;
        return;
    }
    if (p.vendorId == kVendorReadyOnZero || p.vendorId == kVendorNoBusyBit) {
        p.portStatus = s & ~uint32_t(USBLP_STATUS_NOT_BUSY);
    } else {
        if (s & USBLP_STATUS_NOT_BUSY)
            p.deviceStatus |= SY_DEVICE_BUSY;
        if (!(s & USBLP_STATUS_SELECTED))
            p.deviceStatus |= SY_DEVICE_OFFLINE;
    }
    if (s & USBLP_STATUS_PAPER_OUT)
        p.deviceStatus |= SY_DEVICE_PAPER_OUT;
    if (!(s & USBLP_STATUS_ERROR_CLEAR))
        p.deviceStatus |= SY_DEVICE_ERROR;
}

}  // namespace

bool getDevicePidVid(Printer &p)
{
    if (p.fd < 0) {
        printerLog(1, &p, "%s invalid fd (%d)", "getDevicePidVid", p.fd);
        return false;
    }
    int ids[2] = {0, 0};
    if (printerDevice().vendorProduct(p.fd, ids) != 0) {
        printerLog(2, &p, "failed to get printer VID/PID: %s.", zmo_sys_strerror(errno));
        return false;
    }
    if (uint32_t(ids[0]) >= 0x10000 || uint32_t(ids[1]) >= 0x10000) {
        printerLog(2, &p, "printer VID/PID (%08x:%08x) are invalid.", unsigned(ids[0]), unsigned(ids[1]));
        return false;
    }
    p.vendorId = uint16_t(ids[0]);
    p.productId = uint16_t(ids[1]);
    return true;
}

bool getDeviceStatusByFD(Printer &p)
{
    int64_t t = now();
    if (p.nextStatusRead > t)
        return true;
    if (p.fd < 0) {
        printerLog(1, &p, "%s invalid fd (%d)", "getDeviceStatusByFD", p.fd);
        return false;
    }
    int status = 0;
    if (printerDevice().portStatus(p.fd, &status) != 0)
        return false;
    p.portStatus = uint32_t(status);
    p.nextStatusRead = t + kStatusCacheMs;
    p.deviceStatus = 0;
    applyPortStatus(p);
    return true;
}

bool getDeviceStatusByPath(Printer &p)
{
    p.fd = printerDevice().open(p.devicePath);
    if (p.fd < 0) {
        printerLog(2, &p, "unable to open a printer device to read a status: %s", zmo_sys_strerror(errno));
        return false;
    }
    if (p.vendorId == 0 && !getDevicePidVid(p)) {
        closePrinterDevice(p);
        return false;
    }
    bool ok = getDeviceStatusByFD(p);
    closePrinterDevice(p);
    return ok;
}

bool refreshPrinterStatus(Printer &p) { return p.fd < 0 ? getDeviceStatusByPath(p) : getDeviceStatusByFD(p); }

void setStatusFilePath(const CMWchar *path)
{
    gStatusPath[0] = 0;
    if (path)
        syUnicodeToUTF8N(gStatusPath, path, sizeof gStatusPath);
}

void writePrinterStatusFile(uint32_t value)
{
    if (!gStatusPath[0])
        return;
    int fd = ::open(gStatusPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    char text[16];
    int n = std::snprintf(text, sizeof text, "%08x", value);
    ssize_t written = ::write(fd, text, size_t(n));
    (void)written;
    ::close(fd);
}

bool printerReady(const Printer &p, const Job &j)
{
    return p.deviceStatus == 0 && p.info.status == SY_PRINTER_PRINTING && j.record.status == SY_JOB_PRINTING;
}

}  // namespace sy::print

using namespace sy::print;

extern "C" void syUpdatePrinterStatus(const CMWchar *devicePath, const CMWchar *shareName,
                                      const CMWchar *statusFilePath, int16_t logVerbosity)
{
    setStatusFilePath(statusFilePath);
    char path[SY_DEVICE_PATH_BYTES];
    if (!devicePathText(devicePath, path) || !path[0])
        return;
    Printer *p = findPrinterByDevice(path);
    if (!p) {
        // A printer no share has claimed yet is probed as idle.
        static Printer scratch;
        resetPrinter(scratch);
        scratch.deviceStatus = 0;
        identifyPrinter(path, shareName, logVerbosity, scratch);
        printerLog(2, &scratch, "updating status (idle)...");
        getDeviceStatusByPath(scratch);
        writePrinterStatusFile(scratch.portStatus);
        printerLog(2, &scratch, "status updating done (0x%08x).", scratch.portStatus);
        closePrinterDevice(scratch);
        return;
    }
    p->info.logVerbosity = logVerbosity;
    printerLog(2, p, "updating status...");
    refreshPrinterStatus(*p);
    writePrinterStatusFile(p->portStatus);
    printerLog(2, p, "status updating done (0x%08x).", p->portStatus);
    if (Job *j = activeJob(*p))
        resumeHeldData(*p, j);
    else
        startQueuedJob(*p);
}
