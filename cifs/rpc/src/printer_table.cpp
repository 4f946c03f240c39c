// The printer records: set-up, finding and claiming a record for a device
// path, identifying the device, the printer's log, its information, forms
// and security descriptor.
#include "printer_device.h"
#include "spooler.h"

#include "cmstring.h"
#include "syfiles.h"
#include "zmo.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sy::print {

namespace {

std::array<Printer, SY_PRINTERS> gPrinters;
uint8_t gDeviceId[SY_DEVICE_ID_BYTES];

void setText(CMWchar *field, const char *text) { cmAnsiToUnicode(field, text); }

// A caller's text into a field of units (terminator included), cut to fit.
void copyText(CMWchar *field, uint32_t units, const CMWchar *text)
{
    if (!text) {
        field[0] = 0;
        return;
    }
    uint32_t n = 0;
    while (n + 1 < units && text[n])
        ++n;
    std::memmove(field, text, n * sizeof(CMWchar));
    field[n] = 0;
}

// Before the first syInitPrinters the tables are as it leaves them.
struct InitialTables {
    InitialTables()
    {
        for (Printer &p : gPrinters)
            resetPrinter(p);
    }
} gInitialTables;

}  // namespace

std::array<Printer, SY_PRINTERS> &printers() { return gPrinters; }
uint8_t *deviceIdBuffer() { return gDeviceId; }

void aimPrinterInfo(Printer &p)
{
    SYPrinterInfo &i = p.info;
    i.portName = p.portName;
    i.driverName = p.driverName;
    i.comment = p.comment;
    i.location = p.location;
    i.deviceMode.driverExtra = p.driverExtra;
    i.deviceMode.formName = p.formName;
    i.separatorFile = p.separatorFile;
    i.printProcessor = p.printProcessor;
    i.dataType = p.dataType;
    i.parameters = p.parameters;
    i.securityDescriptor = p.sd;
}

void resetPrinter(Printer &p)
{
    std::memset(&p, 0, sizeof p);
    p.fd = -1;
    p.activeJob = kNone;
    p.deviceStatus = SY_DEVICE_NOT_AVAILABLE;
    setText(p.portName, "VX Printer Port");
    setText(p.printProcessor, "winprint");
    setText(p.dataType, "RAW");
    setText(p.formName, "A4");
    SYPrinterInfo &i = p.info;
    i.deviceMode.size = 104;
    i.deviceMode.fields = SY_DEVMODE_FORMNAME;
    i.attributes = 0x48;
    i.priority = 1;
    i.defaultPriority = 1;
    i.one = 1;
    i.reserved[1] = 1;
    aimPrinterInfo(p);
}

void printerLog(int level, const Printer *p, const char *format, ...)
{
    if (p && p->info.logVerbosity < level)
        return;
    char text[1024];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    zmo_log(ZMO_LOG_SPOOLER, "%s: %s", p && p->logName[0] ? p->logName : "-",
            n < 0 ? "internal error" : text);
}

std::string_view deviceIdText(const uint8_t *buffer, size_t size)
{
    if (size < 2)
        return {};
    // The length counts its own two bytes; the text never runs past the buffer.
    size_t room = size - 2;
    size_t length = size_t(buffer[0]) << 8 | buffer[1];
    if (length >= 2 && length - 2 < room)
        room = length - 2;
    const char *text = reinterpret_cast<const char *>(buffer + 2);
    return {text, strnlen(text, room)};
}

bool getDeviceIdField(std::string_view id, std::string_view key, char out[kIdFieldChars + 1])
{
    out[0] = 0;
    if (key.empty())
        return false;
    for (size_t at = id.find(key); at != std::string_view::npos; at = id.find(key, at + 1)) {
        size_t colon = at + key.size();
        if (colon >= id.size() || id[colon] != ':')
            continue;
        size_t end = id.find(';', colon + 1);
        if (end == std::string_view::npos)
            return false;
        size_t n = std::min(end - colon - 1, kIdFieldChars);
        std::memcpy(out, id.data() + colon + 1, n);
        out[n] = 0;
        return true;
    }
    return false;
}

Printer *findPrinterByDevice(const char *path)
{
    for (Printer &p : gPrinters)
        if (p.devicePath[0] && std::strcmp(p.devicePath, path) == 0)
            return &p;
    return nullptr;
}

bool devicePathText(const CMWchar *path, char out[SY_DEVICE_PATH_BYTES])
{
    if (!path || cmWStrlen(path) >= SY_DEVICE_PATH_BYTES)
        return false;
    cmUnicodeToAnsi(out, path);
    return true;
}

void closePrinterDevice(Printer &p)
{
    unstallPrinter(p);
    if (p.fd >= 0)
        printerDevice().close(p.fd);
    p.fd = -1;
}

bool identifyPrinter(const char *devicePath, const CMWchar *shareName, int16_t verbosity, Printer &p)
{
    p.nextStatusRead = 0;
    if (p.devicePath != devicePath)
        std::snprintf(p.devicePath, sizeof p.devicePath, "%s", devicePath);
    // Named first, so that a failing device is logged under its share.
    p.logName[0] = 0;
    if (shareName)
        syUnicodeToUTF8N(p.logName, shareName, sizeof p.logName);
    p.info.logVerbosity = verbosity;
    closePrinterDevice(p);
    p.fd = printerDevice().open(p.devicePath);
    if (p.fd < 0)
        return false;
    std::memset(gDeviceId, 0, sizeof gDeviceId);
    // The last byte stays zero: the text always ends inside the buffer.
    if (printerDevice().deviceId(p.fd, gDeviceId, sizeof gDeviceId - 1) != 0 || !getDevicePidVid(p) ||
        !getDeviceStatusByFD(p)) {
        closePrinterDevice(p);
        return false;
    }
    closePrinterDevice(p);
    // A job that owns the device keeps its printing state.
    p.info.status = p.activeJob != kNone ? SY_PRINTER_PRINTING : 0;
    std::string_view id = deviceIdText(gDeviceId, sizeof gDeviceId - 1);
    char field[kIdFieldChars + 1];
    getDeviceIdField(id, "MFG", field);
    cmAnsiToUnicodeN(p.manufacturer, field, SY_ID_FIELD_UNITS - 1);
    getDeviceIdField(id, "MDL", field);
    cmAnsiToUnicodeN(p.model, field, SY_ID_FIELD_UNITS - 1);
    return true;
}

}  // namespace sy::print

using namespace sy::print;

extern "C" {

int syInitPrinters(void)
{
    for (Job &j : jobs())
        resetJob(j);
    for (Printer &p : gPrinters) {
        closePrinterDevice(p);
        resetPrinter(p);
    }
    return 1;
}

uint32_t syGetPrinterHandle(const CMWchar *devicePath, const CMWchar *shareName, int16_t logVerbosity)
{
    char path[SY_DEVICE_PATH_BYTES];
    if (!devicePathText(devicePath, path) || !path[0])
        return SY_NO_PRINTER;
    Printer *p = findPrinterByDevice(path);
    if (!p)
        for (Printer &free : gPrinters)
            if (!free.devicePath[0]) {
                p = &free;
                break;
            }
    if (!p)
        return SY_NO_PRINTER;
    if (p->deviceStatus & SY_DEVICE_NOT_AVAILABLE)
        identifyPrinter(path, shareName, logVerbosity, *p);
    return uint32_t(p - gPrinters.data());
}

int syGetPrinterInfo(uint32_t printer, SYPrinterInfo *record)
{
    if (printer >= SY_PRINTERS || !record)
        return -1;
    Printer &p = gPrinters[printer];
    if (!refreshPrinterStatus(p)) {
        closePrinterDevice(p);
        p.deviceStatus = SY_DEVICE_NOT_AVAILABLE;
        return -1;
    }
    *record = p.info;
    record->status |= p.deviceStatus;
    return 0;
}

int sySetPrinterInfo(uint32_t printer, const SYPrinterInfo *record)
{
    if (printer >= SY_PRINTERS || !record || record->deviceMode.driverExtraLength > SY_DRIVER_EXTRA_BYTES)
        return -1;
    Printer &p = gPrinters[printer];
    // The caller's texts may be the printer's own fields: take them first.
    Printer texts;
    copyText(texts.driverName, SY_DRIVER_NAME_UNITS, record->driverName);
    copyText(texts.comment, SY_TEXT_UNITS, record->comment);
    copyText(texts.location, SY_TEXT_UNITS, record->location);
    copyText(texts.parameters, SY_TEXT_UNITS, record->parameters);
    copyText(texts.portName, SY_TEXT_UNITS, record->portName);
    copyText(texts.printProcessor, SY_TEXT_UNITS, record->printProcessor);
    copyText(texts.separatorFile, SY_TEXT_UNITS, record->separatorFile);
    copyText(texts.dataType, SY_TEXT_UNITS, record->dataType);
    copyText(texts.formName, SY_FORM_NAME_UNITS, record->deviceMode.formName);
    uint16_t extra = record->deviceMode.driverExtraLength;
    if (extra && record->deviceMode.driverExtra)
        std::memcpy(texts.driverExtra, record->deviceMode.driverExtra, extra);
    else
        extra = 0;

    // The queue's counters, the printing state and the descriptor's length are
    // the spooler's own: a client's record must not move jobs or bounds.
    SYPrinterInfo own = p.info;
    p.info = *record;
    p.info.status = (own.status & SY_PRINTER_PRINTING) | (record->status & SY_PRINTER_PAUSED);
    p.info.jobsQueued = own.jobsQueued;
    p.info.jobsEnded = own.jobsEnded;
    p.info.bytesPrinted = own.bytesPrinted;
    p.info.pagesPrinted = own.pagesPrinted;
    p.info.securityDescriptorLength = own.securityDescriptorLength;
    p.info.deviceMode.driverExtraLength = extra;
    aimPrinterInfo(p);
    std::memcpy(p.driverName, texts.driverName, sizeof p.driverName);
    std::memcpy(p.comment, texts.comment, sizeof p.comment);
    std::memcpy(p.location, texts.location, sizeof p.location);
    std::memcpy(p.parameters, texts.parameters, sizeof p.parameters);
    std::memcpy(p.portName, texts.portName, sizeof p.portName);
    std::memcpy(p.printProcessor, texts.printProcessor, sizeof p.printProcessor);
    std::memcpy(p.separatorFile, texts.separatorFile, sizeof p.separatorFile);
    std::memcpy(p.dataType, texts.dataType, sizeof p.dataType);
    std::memcpy(p.formName, texts.formName, sizeof p.formName);
    std::memcpy(p.driverExtra, texts.driverExtra, extra);
    return 0;
}

uint32_t syPrinterGetSecurityDescriptor(uint32_t printer, uint8_t *buffer, uint32_t size)
{
    if (printer >= SY_PRINTERS || !buffer)
        return 0;
    Printer &p = gPrinters[printer];
    uint32_t length = p.info.securityDescriptorLength;
    if (length > size)
        return 0;
    std::memcpy(buffer, p.sd, length);
    return length;
}

int syPrinterSetSecurityDescriptor(uint32_t printer, const uint8_t *descriptor, uint32_t length)
{
    if (printer >= SY_PRINTERS || length > SY_PRINTER_SD_BYTES || (length && !descriptor))
        return -1;
    Printer &p = gPrinters[printer];
    if (length)
        std::memcpy(p.sd, descriptor, length);
    p.info.securityDescriptorLength = length;
    return 0;
}

int syGetPrinterDriver(uint32_t, uint32_t, uint8_t *) { return -1; }

int syGetPrintForm(uint32_t, uint32_t index, SYPrintForm *record)
{
    static const CMWchar kLetter[] = {'L', 'e', 't', 't', 'e', 'r', 0};
    static const CMWchar kA4[] = {'A', '4', 0};
    if (index > 1 || !record)
        return -1;
    uint32_t width = index == 0 ? 215900 : 210000, height = index == 0 ? 279400 : 297000;
    *record = SYPrintForm{index, index == 0 ? kLetter : kA4, 1, width, height, 0, 0, width, height};
    return 0;
}

}  // extern "C"
