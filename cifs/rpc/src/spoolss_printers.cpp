// The spooler pipe's printer information: levels 0 to 5 with their needed
// sizes, RpcGetPrinter, RpcEnumPrinters and RpcSetPrinter.
#include "spoolss.h"

#include "ndr_text.h"

#include "cmipaddr.h"
#include "csauth.h"

#include <cstring>

namespace spoolss {

namespace {

const CMWchar *w(const std::u16string &s) { return reinterpret_cast<const CMWchar *>(s.c_str()); }
uint32_t n(const std::u16string &s) { return uint32_t(s.size()); }

// The printer's descriptor into the context and its information refreshed;
// false when either is missing.
bool loadPrinter(uint32_t printer, uint32_t *sdLength)
{
    Context *c = context();
    *sdLength = syPrinterGetSecurityDescriptor(printer, c->sd, sizeof c->sd);
    return *sdLength && syGetPrinterInfo(printer, &c->info) == 0;
}

uint32_t bufferResult(const InfoBuffer &b) { return b.failed() ? kInsufficientBuffer : 0; }

}  // namespace

uint32_t printerInfoSize(uint32_t level, const std::u16string &server, const CSShare *share, uint32_t printer)
{
    uint32_t sdLength = 0;
    if (level > 5 || !loadPrinter(printer, &sdLength))
        return 0;
    const SYPrinterInfo &i = context()->info;
    std::u16string name = printerName(server, share);
    uint32_t shareChars = textLength(share->name);
    switch (level) {
    case 0:
        return (n(name) + 6 + n(server)) * 2 + 120;
    case 1:
        return (shareChars ? shareChars * 2 + 10 : 8) + (textLength(share->comment) + 3) * 2 +
               stringSize(i.comment) + 16;
    case 2:
        return (n(name) + n(server) + 6) * 2 + 260 + stringSize(share->name) + stringSize(i.portName) +
               stringSize(i.driverName) + stringSize(i.comment) + stringSize(i.location) +
               i.deviceMode.driverExtraLength + stringSize(i.separatorFile) + stringSize(i.printProcessor) +
               stringSize(i.dataType) + stringSize(i.parameters) + sdLength + 16;
    case 3:
        return sdLength + 24;
    case 4:
        return (n(name) + 6 + n(server)) * 2 + 20;
    default:
        // The printer name is the server's, a backslash and the share's.
        return (n(name) + 3) * 2 + 12 + stringSize(i.portName) + 16;
    }
}

uint32_t packPrinterInfo(InfoBuffer &b, uint32_t level, const std::u16string &server, const CSShare *share,
                         uint32_t printer, const CSUser *user)
{
    uint32_t sdLength = 0;
    if (!loadPrinter(printer, &sdLength))
        return kInvalidPrinterName;
    if (!csAuthShareIsAccessible(user, share->isPrinter))
        return 1;
    if (level > 5)
        return kNtBadLevel;
    Context *c = context();
    const SYPrinterInfo &i = c->info;
    std::u16string name = printerName(server, share);
    switch (level) {
    case 0:
        b.string(w(name));
        b.string(w(server));
        b.u32(i.jobsQueued);
        b.u32(i.jobsEnded);
        b.u32(i.bytesPrinted);
        b.zeros(16);  // up-time
        b.u32(i.one);
        b.u32(i.pagesPrinted);
        // Version, build, spooling and error counters, processors (1 of
        // type 586), the change id word, the status, the architecture (0)
        // and level (6), reserved.
        for (uint32_t v : {0u, 1u, 0u, 0u, i.reserved[1], 0u, 0u, 0u, 1u, 586u, 0u, 0u, 0u, i.status, 0u, 0u})
            b.u32(v);
        b.u16(0);
        b.u16(6);
        b.zeros(12);
        break;
    case 1:
        b.u32(0);
        b.string(share->name);
        b.string(share->comment);
        b.string(i.comment);
        break;
    case 2:
        b.string(w(server));
        b.string(w(name));
        b.string(share->name);
        b.string(i.portName);
        b.string(i.driverName);
        b.string(i.comment);
        b.string(i.location);
        b.devMode(i.deviceMode, w(name), kDevModeBytes);
        b.string(i.separatorFile);
        b.string(i.printProcessor);
        b.string(i.dataType);
        b.string(i.parameters);
        b.descriptor(c->sd, sdLength);
        b.u32(0x1048);
        b.u32(i.priority);
        b.u32(i.defaultPriority);
        b.u32(i.startTime);
        b.u32(i.untilTime);
        b.u32(i.status);
        b.u32(i.jobsQueued);
        b.u32(i.averagePagesPerMinute);
        break;
    case 3:
        b.descriptorInline(c->sd, sdLength);
        break;
    case 4:
        b.string(w(name));
        b.string(w(server));
        b.u32(i.attributes);
        break;
    case 5:
        b.string(w(name));
        b.string(i.portName);
        b.u32(i.attributes);
        b.u32(0);
        b.u32(0);
        break;
    }
    b.align4();
    return bufferResult(b);
}

uint32_t getPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t index;
    uint32_t serial, level = 0, offered = 0;
    readHandle(in, &index, &serial);
    readLevelAndBuffer(in, &level, &offered);
    CMRpcPacketDescriptor start;
    cmRpcCloneDescriptor(out, &start);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    if (status == 0 && !offeredFits(out, offered))
        status = kNotEnoughRoom;
    if (status) {
        writeNullArray(out, 0, false);
        return status;
    }
    std::u16string server = serverName(h.entry);
    uint32_t needed = printerInfoSize(level, server, h.entry->share, h.printer);
    if (needed == 0 || offered < needed) {
        writeNullArray(out, needed ? needed + 2 : 0, false);
        return needed ? kInsufficientBuffer : kInvalidLevel;
    }
    if (cmRpcSpace(out) < kPrinterRoom) {
        writeNullArray(out, needed, false);
        return kInsufficientBuffer;
    }
    uint8_t *bytes = beginArray(out, 2, offered);
    InfoBuffer b(bytes, offered);
    status =
        bytes ? packPrinterInfo(b, level, server, h.entry->share, h.printer, caller(in)) : kNotEnoughRoom;
    if (status) {
        *out = start;
        writeNullArray(out, status == kInsufficientBuffer ? needed : 0, false);
        return status;
    }
    cmRpcPackUint32(out, needed);
    return 0;
}

uint32_t enumPrinters(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t flags = 0, level = 0, offered = 0;
    cmRpcParseUint32(in, &flags);
    CMRpcUnicodeString nameText{};
    bool hasName = rpc::parseStringPointer(in, &nameText);
    readLevelAndBuffer(in, &level, &offered);
    std::string name = hasName ? narrowText(nameText) : std::string();
    // A server named by its address answers with that address.
    std::string address = name.compare(0, 2, "\\\\") == 0 ? name.substr(2) : name;
    uint32_t ip = 0;
    std::u16string server = serverNameFor(cmAsciiToIp(address.c_str(), &ip) == 0 ? address : "");
    if (!offeredFits(out, offered)) {
        writeNullArray(out, 0, true);
        return kNotEnoughRoom;
    }
    CSUser *user = caller(in);
    struct Counted {
        CSShare *share;
        uint32_t printer;
    };
    std::array<Counted, CS_MAX_SHARES> printers{};
    uint32_t counted = 0, needed = 12;
    uint32_t shares = csGetSharesCount();
    for (uint32_t s = 0; s < shares; ++s) {
        CSShare *share = csGetShareByIndex(s);
        if (!share) {
            writeNullArray(out, 0, true);
            return kJobNotFound;
        }
        if (!share->isPrinter || !csAuthShareIsAccessible(user, share->isPrinter) ||
            counted == printers.size())
            continue;
        uint32_t printer = syGetPrinterHandle(share->path, share->name, share->debugLevel);
        uint32_t size = printer == SY_NO_PRINTER ? 0 : printerInfoSize(level, server, share, printer);
        if (size == 0) {
            writeNullArray(out, 0, true);
            return kNtBadLevel;
        }
        printers[counted++] = {share, printer};
        needed += size;
    }
    if (offered < needed) {
        writeNullArray(out, needed, true);
        return kInsufficientBuffer;
    }
    CMRpcPacketDescriptor start;
    cmRpcCloneDescriptor(out, &start);
    uint8_t *bytes = beginArray(out, 1, offered);
    if (!bytes) {
        *out = start;
        writeNullArray(out, 0, true);
        return kNotEnoughRoom;
    }
    InfoBuffer b(bytes, offered);
    uint32_t returned = 0;
    for (uint32_t p = 0; p < counted; ++p) {
        if (cmRpcSpace(out) < kPrinterRoom) {
            *out = start;
            writeNullArray(out, needed, true);
            return kInsufficientBuffer;
        }
        b.record();
        uint32_t status = packPrinterInfo(b, level, server, printers[p].share, printers[p].printer, user);
        if (status == 1)
            continue;
        if (status) {
            *out = start;
            writeNullArray(out, status == kInsufficientBuffer ? needed : 0, true);
            return status;
        }
        ++returned;
    }
    cmRpcPackUint32(out, b.fixed());
    cmRpcPackUint32(out, returned);
    return 0;
}

namespace {

// A string of a level-2 structure whose pointer was not null, into a field.
void readInto(CMRpcPacketDescriptor *in, bool present, CMWchar *field, uint32_t units)
{
    if (!present)
        return;
    CMRpcUnicodeString s{};
    cmRpcAllign(in, 4);
    cmRpcParseUnicode(in, &s, CM_RP_SIZE32 | CM_RP_FRAGMENT32);
    if (cmRpcIsOverrun(in) || !field)
        return;
    // Cut to the field.
    CMWchar text[1025];
    uint32_t length = std::min<uint32_t>(s.length, 1024);
    CMRpcUnicodeString cut = s;
    cut.length = length;
    if (rpc::copyText(cut, text, 1025))
        for (uint32_t i = 0; i < units; ++i) {
            field[i] = i + 1 == units ? 0 : text[i];
            if (!text[i])
                break;
        }
}

uint32_t setPrinterLevel2(CMRpcPacketDescriptor *in, uint32_t printer, const CSShare *share)
{
    uint32_t pointers[13] = {};
    for (uint32_t &p : pointers)
        cmRpcParseUint32(in, &p);
    enum {
        Server,
        Printer,
        Share,
        Port,
        Driver,
        Comment,
        Location,
        DevMode,
        Separator,
        Processor,
        Type,
        Params,
        Sd
    };
    if (pointers[DevMode] || pointers[Sd])
        return 1;
    SYPrinterInfo i = context()->info;
    uint32_t status = 0;
    cmRpcParseUint32(in, &i.attributes);
    cmRpcParseUint32(in, &i.priority);
    cmRpcParseUint32(in, &i.defaultPriority);
    cmRpcParseUint32(in, &i.startTime);
    cmRpcParseUint32(in, &i.untilTime);
    cmRpcParseUint32(in, &status);
    i.status = (i.status & SY_PRINTER_PRINTING) | status;
    cmRpcParseUint32(in, &i.jobsQueued);
    cmRpcParseUint32(in, &i.averagePagesPerMinute);
    CMWchar comment[SY_TEXT_UNITS] = {}, location[SY_TEXT_UNITS] = {}, separator[SY_TEXT_UNITS] = {},
            processor[SY_TEXT_UNITS] = {}, type[SY_TEXT_UNITS] = {}, params[SY_TEXT_UNITS] = {};
    readInto(in, pointers[Server], nullptr, 0);
    readInto(in, pointers[Printer], nullptr, 0);
    readInto(in, pointers[Share], nullptr, 0);
    readInto(in, pointers[Port], nullptr, 0);
    readInto(in, pointers[Driver], nullptr, 0);
    readInto(in, pointers[Comment], comment, SY_TEXT_UNITS);
    readInto(in, pointers[Location], location, SY_TEXT_UNITS);
    readInto(in, pointers[Separator], separator, SY_TEXT_UNITS);
    readInto(in, pointers[Processor], processor, SY_TEXT_UNITS);
    readInto(in, pointers[Type], type, SY_TEXT_UNITS);
    readInto(in, pointers[Params], params, SY_TEXT_UNITS);
    if (cmRpcIsOverrun(in))
        return 1;
    // Texts the client sent replace the printer's; the others stay.
    if (pointers[Comment])
        i.comment = comment;
    if (pointers[Location])
        i.location = location;
    if (pointers[Separator])
        i.separatorFile = separator;
    if (pointers[Processor])
        i.printProcessor = processor;
    if (pointers[Type])
        i.dataType = type;
    if (pointers[Params])
        i.parameters = params;
    i.logVerbosity = share->debugLevel;
    return sySetPrinterInfo(printer, &i) == -1 ? 1 : 0;
}

uint32_t setPrinterLevel3(CMRpcPacketDescriptor *in, uint32_t printer, bool infoPointer)
{
    if (infoPointer)
        cmRpcParseSkip(in, 4);
    SYPrinterInfo i = context()->info;
    CMWchar form[SY_FORM_NAME_UNITS] = {};
    uint8_t extra[SY_DRIVER_EXTRA_BYTES];
    bool haveMode = false;
    uint32_t size = 0, pointer = 0;
    cmRpcParseUint32(in, &size);
    cmRpcParseUint32(in, &pointer);
    if (pointer) {
        uint32_t count = 0;
        cmRpcParseUint32(in, &count);
        CMRpcPacketDescriptor mode;
        cmRpcCloneDescriptor(in, &mode);
        int32_t space = cmRpcSpace(in);
        if (space < 0 || count > uint32_t(space))
            return 1;
        mode.length = uint32_t(mode.current - mode.origin) + count;
        SYDeviceMode &m = i.deviceMode;
        cmRpcParseSkip(&mode, 64);
        cmRpcParseUint16(&mode, &m.specVersion);
        cmRpcParseUint16(&mode, &m.driverVersion);
        cmRpcParseSkip(&mode, 2);
        cmRpcParseUint16(&mode, &m.driverExtraLength);
        cmRpcParseUint32(&mode, &m.fields);
        for (uint16_t &v : m.shorts)
            cmRpcParseUint16(&mode, &v);
        CMWchar name[32];
        for (CMWchar &unit : name)
            cmRpcParseUint16(&mode, &unit);
        name[31] = 0;
        for (uint32_t k = 0; k + 1 < SY_FORM_NAME_UNITS && name[k]; ++k)
            form[k] = name[k];
        cmRpcParseUint16(&mode, &m.logPixels);
        for (uint32_t &v : m.longs)
            cmRpcParseUint32(&mode, &v);
        // Extra bytes beyond the field, or beyond the container, are refused.
        if (m.driverExtraLength > SY_DRIVER_EXTRA_BYTES)
            return 1;
        cmRpcParseBytes(&mode, extra, m.driverExtraLength);
        if (cmRpcIsOverrun(&mode))
            return 1;
        m.driverExtra = extra;
        m.formName = form;
        cmRpcParseSkip(in, count);
        cmRpcAllign(in, 4);
        haveMode = true;
    }
    cmRpcParseUint32(in, &size);
    cmRpcParseUint32(in, &pointer);
    if (pointer) {
        uint32_t count = 0;
        cmRpcParseUint32(in, &count);
        int32_t space = cmRpcSpace(in);
        if (space < 0 || count > uint32_t(space))
            return 1;
        CMRpcPacketDescriptor sdIn;
        cmRpcCloneDescriptor(in, &sdIn);
        sdIn.length = uint32_t(sdIn.current - sdIn.origin) + count;
        CMSdSecurityDescriptor sd;
        if (!cmSdParseSecurityDescriptor(&sdIn, &sd) ||
            syPrinterSetSecurityDescriptor(printer, sd.data, sd.length) == -1)
            return 1;
    }
    if (haveMode && sySetPrinterInfo(printer, &i) == -1)
        return 1;
    return 0;
}

}  // namespace

uint32_t setPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    uint16_t index;
    uint32_t serial, level = 0, unionLevel = 0, pointer = 0;
    readHandle(in, &index, &serial);
    cmRpcParseUint32(in, &level);
    cmRpcParseUint32(in, &unionLevel);
    cmRpcParseUint32(in, &pointer);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    if (status)
        return status;
    if (syGetPrinterInfo(h.printer, &context()->info) != 0)
        return 1;
    if (!csAuthShareIsAccessible(caller(in), h.entry->share->isPrinter))
        return kNtAccessDenied;
    switch (level) {
    case 0: {
        // The command is the request's last word, whatever the containers hold.
        uint32_t command = 0;
        if (in->length >= 4) {
            CMRpcPacketDescriptor last;
            cmRpcCloneDescriptor(in, &last);
            last.current = last.origin + last.length - 4;
            cmRpcParseUint32(&last, &command);
        }
        if (command && syControlPrinter(h.printer, command) == -1)
            return 1;
        break;
    }
    case 2:
        if (!pointer || (status = setPrinterLevel2(in, h.printer, h.entry->share)) != 0)
            return 1;
        break;
    case 3:
        if ((status = setPrinterLevel3(in, h.printer, pointer != 0)) != 0)
            return status;
        break;
    default:
        return kNtBadLevel;
    }
    if (syGetPrinterInfo(h.printer, &context()->info) != 0)
        return 1;
    ++context()->changeId;
    return 0;
}

}  // namespace spoolss
