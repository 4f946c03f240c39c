// The spooler pipe's operations over arbitrary stubs, as the pipe framework
// calls them: the answer written over the request in one buffer. Every
// handle-taking operation gets a valid handle first when the input asks, so
// that the offered sizes, levels, strings and containers behind it are
// reached, and a document when it asks, on a fake printer that takes
// writes whole, stalls or fails.
#include "csdcerpc.h"
#include "printer_device.h"
#include "spoolss.h"
#include "fake_printer.h"

#include "csauth.h"

#include <cstring>
#include <deque>
#include <vector>

namespace {

struct Setup {
    spooler_test::FakePrinter fake;
    CSShare share{};
    CSUser user{};
    Setup()
    {
        sy::print::setPrinterDevice(&fake);
        sy::print::setLateAnswer(spooler_test::recordAnswer);
        fake.add("/dev/usb/lp0");
        syInitPrinters();
        csRpcSpoolss()->init();
        csAuthSetPermissive(1);
        const char *name = "Laser", *path = "/dev/usb/lp0";
        for (size_t i = 0; name[i]; ++i)
            share.name[i] = CMWchar(name[i]);
        for (size_t i = 0; path[i]; ++i)
            share.path[i] = CMWchar(path[i]);
        share.isPrinter = 1;
        share.debugLevel = 0;
        user.uid = 500;
        user.printerOwner = 1;
        user.name[0] = 'a';
        uint8_t sd[64] = {1, 0, 4, 0x80};
        syPrinterSetSecurityDescriptor(0, sd, 20);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup s;
    if (size < 2)
        return 0;
    const CSDcerpcInterface *spoolss = csRpcSpoolss();
    uint16_t opnum = data[0] % spoolss->operationCount;
    bool withHandle = data[1] & 1;
    // A document already started on the handle, and how the device takes
    // writes: whole, stalling at once, stalling after a byte, failing.
    bool withJob = data[1] & 2;
    static const std::deque<spooler_test::WriteStep> kDevice[4] = {
        {},
        {{spooler_test::WriteStep::Block}},
        {{spooler_test::WriteStep::Short, 1}, {spooler_test::WriteStep::Block}},
        {{spooler_test::WriteStep::Eio}},
    };
    s.fake.devices["/dev/usb/lp0"].writes = kDevice[(data[1] >> 2) & 3];
    s.fake.devices["/dev/usb/lp0"].printed.clear();
    spooler_test::gAnswers.clear();
    data += 2;
    size -= 2;
    CSDcerpcOperation op = spoolss->operations[opnum];
    if (!op)
        return 0;
    spoolss::Context *c = spoolss::context();
    for (spoolss::OpenEntry &e : c->entries)
        e = spoolss::OpenEntry{};
    spoolss::OpenEntry &e = c->entries[0];
    e.free = false;
    e.share = &s.share;
    e.owner = &s.user;
    e.ownerUid = s.user.uid;
    e.serial = 7;
    if (withJob)
        e.job = syStartPrintJob(0, nullptr, nullptr, 0, nullptr, 0, &s.user);
    // The framework's buffer: the request stub, then room for the answer.
    std::vector<uint8_t> buffer(std::max<size_t>(size + 20 + 64, 65700));
    size_t at = 0;
    if (withHandle) {
        const uint8_t handle[20] = {1, 0, 0, 0, 0, 0, 7, 0, 0, 0};
        std::memcpy(buffer.data(), handle, 20);
        at = 20;
    }
    std::memcpy(buffer.data() + at, data, size);
    CMRpcPacketDescriptor in, out;
    cmRpcSetTokenDescriptor(&in, buffer.data(), 0, &s.user.token);
    in.length = uint32_t(at + size);
    in.user = &s.user;
    cmRpcSetTokenDescriptor(&out, buffer.data(), 0, &s.user.token);
    out.length = uint32_t(buffer.size());
    out.user = &s.user;
    op(&in, &out);
    // A stalled device takes the rest once woken.
    syResumeStalledPrinters();
    // Whatever the operation started stays within the four jobs.
    syControlPrinter(0, SY_PRINTER_PURGE);
    return 0;
}
