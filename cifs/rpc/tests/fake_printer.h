// A fake USB printer behind the spooler's device seam, a fake clock, and a
// recorder of the answers to held writes.
#pragma once

#include "printer_device.h"
#include "spooler.h"
#include "syprint.h"

#include <cerrno>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace spooler_test {

inline std::vector<CMWchar> W(const std::string &s)
{
    std::vector<CMWchar> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

inline std::string A(const CMWchar *w)
{
    std::string s;
    while (w && *w)
        s.push_back(char(*w++));
    return s;
}

// What one write call of the device does.
struct WriteStep {
    enum Kind { Accept, Short, Eintr, Eio, Zero, Block } kind;
    size_t bytes = 0;  // Short: how many are taken
};

struct FakeDevice {
    std::string deviceId = "MFG:Acme;MDL:Laser 9;CMD:PCL;";
    int ids[2] = {0x1234, 0x5678};
    int portStatus = 0x18;  // selected, no error
    bool openFails = false, idFails = false, vidPidFails = false, statusFails = false;
    std::deque<WriteStep> writes;  // empty: every write is taken whole
    std::string printed;
    int statusReads = 0;
};

// Devices by path; "fds" are the path's index plus 100.
class FakePrinter final : public sy::print::PrinterDevice {
public:
    std::map<std::string, FakeDevice> devices;
    std::vector<std::string> paths;
    int opens = 0, closes = 0;

    FakeDevice &add(const std::string &path)
    {
        paths.push_back(path);
        return devices[path];
    }
    FakeDevice *byFd(int fd)
    {
        size_t i = size_t(fd - 100);
        return fd >= 100 && i < paths.size() ? &devices[paths[i]] : nullptr;
    }
    int open(const char *path) override
    {
        for (size_t i = 0; i < paths.size(); ++i)
            if (paths[i] == path && !devices[paths[i]].openFails) {
                ++opens;
                return int(100 + i);
            }
        errno = ENOENT;
        return -1;
    }
    int deviceId(int fd, uint8_t *buffer, size_t size) override
    {
        FakeDevice *d = byFd(fd);
        if (!d || d->idFails)
            return errno = EIO, -1;
        size_t n = std::min(d->deviceId.size(), size - 2);
        buffer[0] = uint8_t((n + 2) >> 8);
        buffer[1] = uint8_t(n + 2);
        std::copy(d->deviceId.begin(), d->deviceId.begin() + long(n), buffer + 2);
        return 0;
    }
    int vendorProduct(int fd, int ids[2]) override
    {
        FakeDevice *d = byFd(fd);
        if (!d || d->vidPidFails)
            return errno = EIO, -1;
        ids[0] = d->ids[0];
        ids[1] = d->ids[1];
        return 0;
    }
    int portStatus(int fd, int *status) override
    {
        FakeDevice *d = byFd(fd);
        if (!d || d->statusFails)
            return errno = EIO, -1;
        ++d->statusReads;
        *status = d->portStatus;
        return 0;
    }
    ssize_t write(int fd, const void *data, size_t length) override
    {
        FakeDevice *d = byFd(fd);
        if (!d)
            return errno = EBADF, -1;
        WriteStep step{WriteStep::Accept};
        if (!d->writes.empty()) {
            step = d->writes.front();
            d->writes.pop_front();
        }
        const char *p = static_cast<const char *>(data);
        switch (step.kind) {
        case WriteStep::Accept:
            d->printed.append(p, length);
            return ssize_t(length);
        case WriteStep::Short:
            d->printed.append(p, std::min(step.bytes, length));
            return ssize_t(std::min(step.bytes, length));
        case WriteStep::Eintr:
            return errno = EINTR, -1;
        case WriteStep::Eio:
            return errno = EIO, -1;
        case WriteStep::Zero:
            return 0;
        case WriteStep::Block:
            return errno = EAGAIN, -1;
        }
        return -1;
    }
    void close(int) override { ++closes; }
    // Devices watched for writability.
    std::set<int> watched;
    void watchWritable(int fd, bool on) override
    {
        if (on)
            watched.insert(fd);
        else
            watched.erase(fd);
    }
    int wakeDescriptor() override { return watched.empty() ? -1 : 3; }
};

inline int64_t gNow = 10000;
inline int64_t fakeClock() { return gNow; }

struct Answer {
    CSLateResponseContext context;  // as the carrying command saved it
    uint32_t count;
};
inline std::vector<Answer> gAnswers;
inline void recordAnswer(CSLateResponseContext *context, uint32_t count)
{
    gAnswers.push_back({*context, count});
}

}  // namespace spooler_test
