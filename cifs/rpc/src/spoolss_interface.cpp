// The spooler pipe: its descriptor and operation table, its context with the
// open printer handles, the handle check, the names and array shapes the
// answers share, and the release of a user's handles at log-off.
#include "spoolss.h"

#include "csdcerpc.h"
#include "ndr_text.h"

#include "cmstring.h"

#include <cstring>
#include <new>

namespace spoolss {

namespace {

Context *gContext = nullptr;

int spoolssInit()
{
    delete gContext;
    gContext = new (std::nothrow) Context();
    return gContext ? 0 : -1;
}

void spoolssStop()
{
    delete gContext;
    gContext = nullptr;
}

constexpr uint32_t kOperations = 96;

struct Table {
    CSDcerpcOperation operations[kOperations] = {};
    Table()
    {
        operations[0] = enumPrinters;
        operations[2] = setJob;
        operations[3] = getJob;
        operations[4] = enumJobs;
        operations[7] = setPrinter;
        operations[8] = getPrinter;
        operations[17] = startDocPrinter;
        operations[18] = startPagePrinter;
        operations[19] = writePrinter;
        operations[20] = endPagePrinter;
        operations[21] = abortPrinter;
        operations[23] = endDocPrinter;
        operations[24] = addJob;
        operations[26] = getPrinterData;
        operations[27] = setPrinterData;
        operations[29] = closePrinter;
        operations[32] = getForm;
        operations[34] = enumForms;
        operations[52] = resetPrinter;
        operations[53] = getPrinterDriver2;
        operations[56] = findClosePrinterChangeNotification;
        operations[65] = remoteFindFirstPrinterChangeNotificationEx;
        operations[67] = routerRefreshPrinterChangeNotification;
        operations[69] = openPrinterEx;
    }
};

const Table kTable;

}  // namespace

Context *context() { return gContext; }

CSUser *caller(const CMRpcPacketDescriptor *d) { return static_cast<CSUser *>(d->user); }

void readHandle(CMRpcPacketDescriptor *in, uint16_t *index, uint32_t *serial)
{
    *index = 0xFFFF;
    *serial = 0;
    cmRpcParseSkip(in, 4);
    cmRpcParseUint16(in, index);
    cmRpcParseUint32(in, serial);
    cmRpcParseSkip(in, 10);
    if (cmRpcIsOverrun(in))
        *index = 0xFFFF;
}

uint32_t checkHandle(const CMRpcPacketDescriptor *in, uint16_t index, uint32_t serial, Handle *handle)
{
    Context *c = context();
    CSUser *user = caller(in);
    // A handle is the caller's own: its index, the serial it was given and
    // the user that opened it must all match.
    if (!c || index >= kEntries || c->entries[index].free || c->entries[index].serial != serial || !user ||
        c->entries[index].owner != user || c->entries[index].ownerUid != user->uid)
        return kBadHandle;
    OpenEntry &e = c->entries[index];
    handle->entry = &e;
    // A printer share removed since the open (its slot perhaps another share's now).
    if (!e.share || e.share->free || !e.share->isPrinter)
        return kInvalidPrinterName;
    handle->printer = syGetPrinterHandle(e.share->path, e.share->name, e.share->debugLevel);
    return handle->printer == SY_NO_PRINTER ? kInvalidPrinterName : 0;
}

void writeHandle(CMRpcPacketDescriptor *out, uint16_t index, uint32_t serial)
{
    cmRpcPackUint32(out, 1);
    cmRpcPackUint16(out, index);
    cmRpcPackUint32(out, serial);
    cmRpcPackZeroes(out, 10);
}

std::u16string wide(const std::string &s) { return std::u16string(s.begin(), s.end()); }

std::string narrowText(const CMRpcUnicodeString &s, uint32_t max) { return rpc::narrow(s, max); }

std::u16string serverNameFor(const std::string &address)
{
    return u"\\\\" + wide(address.empty() ? rpc::hostName() : address);
}

std::u16string serverName(const OpenEntry *entry)
{
    return serverNameFor(entry && entry->serverIsAddress ? entry->serverAddress : "");
}

std::u16string printerName(const std::u16string &server, const CSShare *share)
{
    std::u16string name = server + u"\\";
    for (const CMWchar *p = share->name; *p; ++p)
        name.push_back(char16_t(*p));
    return name;
}

void skipInBuffer(CMRpcPacketDescriptor *in)
{
    uint32_t pointer = 0, count = 0;
    cmRpcParseUint32(in, &pointer);
    if (!pointer)
        return;
    cmRpcParseUint32(in, &count);
    cmRpcParseSkip(in, count);
    cmRpcAllign(in, 4);
}

bool offeredFits(const CMRpcPacketDescriptor *out, uint32_t offered)
{
    int32_t space = cmRpcSpace(out);
    return space >= int32_t(kArrayOverhead) && offered <= uint32_t(space) - kArrayOverhead;
}

void writeNullArray(CMRpcPacketDescriptor *out, uint32_t needed, bool enumeration)
{
    cmRpcPackUint32(out, 0);
    cmRpcPackUint32(out, needed);
    if (enumeration)
        cmRpcPackUint32(out, 0);
}

uint8_t *beginArray(CMRpcPacketDescriptor *out, uint32_t pointer, uint32_t offered)
{
    cmRpcPackUint32(out, pointer);
    cmRpcPackUint32(out, offered);
    uint8_t *bytes = out->current;
    cmRpcPackZeroes(out, offered);
    cmRpcAllignZero(out, 4);
    return cmRpcIsOverrun(out) ? nullptr : bytes;
}

}  // namespace spoolss

extern "C" {

const CSDcerpcInterface *csRpcSpoolss(void)
{
    static const CSDcerpcInterface kInterface = {
        spoolss::spoolssInit,
        spoolss::spoolssStop,
        nullptr,
        "spoolss",
        {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0xcd, 0xab, 0xef, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab},
        1,
        0,
        spoolss::kOperations,
        spoolss::kTable.operations,
        nullptr};
    return &kInterface;
}

void csRpcSpoolssCleanupUser(uint16_t uid)
{
    spoolss::Context *c = spoolss::context();
    CSUser *user = csGetUserByUid(uid);
    if (!c || !user)
        return;
    for (spoolss::OpenEntry &e : c->entries) {
        if (e.free || e.owner != user)
            continue;
        if (e.job)
            syControlPrintJob(0, e.job, SY_JOB_CANCEL);
        e = spoolss::OpenEntry{};
    }
}

}  // extern "C"
