// Least versions of what the database calls of its neighbours (printers,
// change notification, path checks); each neighbour replaces its own when
// it is linked in.
#include "csservices.h"
#include "cmstring.h"

#include <cerrno>
#include <cstring>

namespace {

struct PrinterSlot {
    bool used;
    CMWchar path[CS_SHARE_PATH_UNITS];
    uint8_t sd[512];
    uint32_t sdLength;
};

PrinterSlot gPrinters[CS_PRINTER_SLOTS];

uint32_t printerSlot(const CMWchar *path)
{
    if (!path || cmWStrlen(path) >= CS_SHARE_PATH_UNITS)
        return 0xFFFFFFFFu;
    for (uint32_t i = 0; i < CS_PRINTER_SLOTS; ++i)
        if (gPrinters[i].used && cmWStrcmp(gPrinters[i].path, path) == 0)
            return i;
    for (uint32_t i = 0; i < CS_PRINTER_SLOTS; ++i)
        if (!gPrinters[i].used) {
            gPrinters[i].used = true;
            cmWStrcpy(gPrinters[i].path, path);
            return i;
        }
    return 0xFFFFFFFFu;
}

}  // namespace

extern "C" {

// Without the spooler no print data is taken.
__attribute__((weak)) int syWritePrintData(uint32_t, uint32_t, const uint8_t *, uint32_t,
                                           CSLateResponseContext **context)
{
    if (context)
        *context = nullptr;
    errno = EIO;
    return -1;
}

__attribute__((weak)) int syEndPrintJob(uint32_t printer, uint32_t)
{
    return printer < CS_PRINTER_SLOTS ? 0 : -1;
}

__attribute__((weak)) uint32_t syGetPrinterHandle(const CMWchar *path, const CMWchar *, int16_t)
{
    return printerSlot(path);
}

__attribute__((weak)) int syPrinterSetSecurityDescriptor(uint32_t slot, const uint8_t *sd, uint32_t length)
{
    if (slot >= CS_PRINTER_SLOTS || !sd || length > sizeof gPrinters[slot].sd)
        return -1;
    std::memcpy(gPrinters[slot].sd, sd, length);
    gPrinters[slot].sdLength = length;
    return 0;
}

// A printer not yet in a slot takes one at its first poll.
__attribute__((weak)) void syUpdatePrinterStatus(const CMWchar *path, const CMWchar *, const CMWchar *,
                                                 int16_t)
{
    printerSlot(path);
}

__attribute__((weak)) void csNotifyImmediatelly(const CMWchar *, uint32_t, uint32_t) {}

// A job id per started job; the printer's own queue comes with the spooler.
__attribute__((weak)) uint32_t syStartPrintJob(uint32_t printer, const CMWchar *, const CMWchar *, uint32_t,
                                               const uint8_t *, uint32_t, CSUser *)
{
    static uint32_t next;
    return printer < CS_PRINTER_SLOTS ? next++ & 0x7FFFFFFFu : 0xFFFFFFFFu;
}

}  // extern "C"
