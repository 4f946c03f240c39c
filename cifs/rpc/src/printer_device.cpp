// The only file that reaches a USB printer device: open, the driver's three
// requests, write and close; and the spooler's monotonic clock.
#include "printer_device.h"

#include "usblp_ioctl.h"
#include "zmo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace sy::print {

namespace {

class SystemPrinterDevice final : public PrinterDevice {
public:
    // Non-blocking: a stalled printer must not hold up the server's loop.
    int open(const char *path) override { return ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC); }
    int deviceId(int fd, uint8_t *buffer, size_t size) override
    {
        if (size < USBLP_DEVICE_ID_BYTES) {
            errno = EINVAL;
            return -1;
        }
        return ::ioctl(fd, USBLP_IOC_GET_DEVICE_ID, buffer) < 0 ? -1 : 0;
    }
    int vendorProduct(int fd, int ids[2]) override
    {
        return ::ioctl(fd, USBLP_IOC_GET_VID_PID, ids) < 0 ? -1 : 0;
    }
    int portStatus(int fd, int *status) override
    {
        return ::ioctl(fd, USBLP_GET_STATUS, status) < 0 ? -1 : 0;
    }
    ssize_t write(int fd, const void *data, size_t length) override { return ::write(fd, data, length); }
    void close(int fd) override { ::close(fd); }
    // A device that cannot be watched (a plain file never blocks) waits for
    // the status update instead.
    void watchWritable(int fd, bool on) override
    {
        if (on && epoll_ < 0)
            epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0)
            return;
        epoll_event event{};
        event.events = EPOLLOUT;
        event.data.fd = fd;
        if (!on)
            epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, &event);
        else if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) < 0 && errno == EEXIST)
            epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
    }
    int wakeDescriptor() override { return epoll_; }

private:
    int epoll_ = -1;
};

PrinterDevice *gDevice = nullptr;
Clock gClock = nullptr;

int64_t systemClock()
{
    zmo_time_t t;
    zmo_time_get_monotonic(&t);
    return zmo_time_to_msec(&t);
}

}  // namespace

PrinterDevice &systemPrinterDevice()
{
    static SystemPrinterDevice device;
    return device;
}

void setPrinterDevice(PrinterDevice *device) { gDevice = device; }
PrinterDevice &printerDevice() { return gDevice ? *gDevice : systemPrinterDevice(); }

void setClock(Clock clock) { gClock = clock; }
int64_t now() { return gClock ? gClock() : systemClock(); }

}  // namespace sy::print
