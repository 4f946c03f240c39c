// Internal: the one line between the spooler and a USB printer device, and
// the spooler's clock. Tests put a fake printer and a fake clock behind them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace sy::print {

class PrinterDevice {
public:
    virtual ~PrinterDevice() = default;
    // Write-only; a descriptor, or -1 with errno.
    virtual int open(const char *path) = 0;
    // IEEE 1284 device ID into size bytes (a 2-byte big-endian length, then
    // the text); 0, or -1 with errno.
    virtual int deviceId(int fd, uint8_t *buffer, size_t size) = 0;
    // USB vendor and product ID as two ints; 0, or -1 with errno.
    virtual int vendorProduct(int fd, int ids[2]) = 0;
    // The port status; 0, or -1 with errno.
    virtual int portStatus(int fd, int *status) = 0;
    // Never blocks: -1 with EAGAIN when the device takes nothing now.
    virtual ssize_t write(int fd, const void *data, size_t length) = 0;
    virtual void close(int fd) = 0;
    // While on, the device's becoming writable makes the wake descriptor
    // readable.
    virtual void watchWritable(int fd, bool on) = 0;
    // -1 until a device was watched.
    virtual int wakeDescriptor() = 0;
};

// The kernel's USB printer class driver.
PrinterDevice &systemPrinterDevice();
// Null puts the system device back.
void setPrinterDevice(PrinterDevice *device);
PrinterDevice &printerDevice();

// Monotonic milliseconds.
using Clock = int64_t (*)();
// Null puts the system clock back.
void setClock(Clock clock);
int64_t now();

}  // namespace sy::print
