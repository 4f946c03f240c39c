// The spooler pipe's handles and documents: opening and closing printers,
// starting, writing and ending documents and pages, job and printer control,
// and the operations that answer with a constant.
#include "spoolss.h"

#include "csdcerpc.h"
#include "ndr_text.h"

#include "cmipaddr.h"
#include "csauth.h"
#include "syerror.h"

#include <cstring>

namespace spoolss {

namespace {

constexpr uint32_t kDocumentUnits = 1025;

struct HandleRequest {
    uint16_t index;
    uint32_t serial;
};

HandleRequest readOnly(CMRpcPacketDescriptor *in)
{
    HandleRequest r{};
    readHandle(in, &r.index, &r.serial);
    return r;
}

}  // namespace

uint32_t openPrinterEx(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    CMRpcUnicodeString name{}, dataType{};
    bool hasName = rpc::parseStringPointer(in, &name);
    rpc::parseStringPointer(in, &dataType);
    uint32_t size = 0, pointer = 0, access = 0;
    cmRpcParseUint32(in, &size);
    cmRpcParseUint32(in, &pointer);
    if (pointer) {
        uint32_t count = 0;
        cmRpcParseUint32(in, &count);
        cmRpcParseSkip(in, count);
        cmRpcAllign(in, 4);
    }
    cmRpcParseUint32(in, &access);
    // Everything is read: the answer goes over the request. A failure answers a zero handle.
    std::string text = hasName && !cmRpcIsOverrun(in) ? narrowText(name, kNameChars + 1) : std::string();
    CMRpcPacketDescriptor handle;
    cmRpcCloneDescriptor(out, &handle);
    cmRpcPackZeroes(out, kHandleBytes);

    // "\\server\share"
    if (text.size() > kNameChars || text.compare(0, 2, "\\\\") != 0)
        return kInvalidPrinterName;
    size_t slash = text.find('\\', 2);
    if (slash == std::string::npos)
        return kInvalidPrinterName;
    std::string server = text.substr(2, slash - 2), shareName = text.substr(slash + 1);
    std::u16string wideShare = wide(shareName);
    CSShare *share = csGetShareByName(reinterpret_cast<const CMWchar *>(wideShare.c_str()));
    if (shareName.empty() || !share || !share->isPrinter)
        return kInvalidPrinterName;
    CSUser *user = caller(in);
    if (!csAuthShareIsAccessible(user, share->isPrinter))
        return kAccessDenied;
    Context *c = context();
    OpenEntry *entry = nullptr;
    for (OpenEntry &e : c->entries)
        if (e.free) {
            entry = &e;
            break;
        }
    if (!entry) {
        logError("Open entry table overflow");
        return kNtNoResources;
    }
    *entry = OpenEntry{};
    entry->free = false;
    entry->share = share;
    entry->owner = user;
    entry->ownerUid = user ? user->uid : 0;
    entry->serial = c->serial++;
    uint32_t address = 0;
    if (server.size() < sizeof entry->serverAddress && cmAsciiToIp(server.c_str(), &address) == 0) {
        entry->serverIsAddress = true;
        std::memcpy(entry->serverAddress, server.c_str(), server.size() + 1);
    }
    writeHandle(&handle, uint16_t(entry - c->entries.data()), entry->serial);
    return 0;
}

uint32_t closePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    HandleRequest r = readOnly(in);
    cmRpcPackZeroes(out, kHandleBytes);
    Handle h;
    uint32_t status = checkHandle(in, r.index, r.serial, &h);
    if (!h.entry)
        return status;
    // A document left open would hold the device until the owner logs off.
    if (h.entry->job)
        syControlPrintJob(0, h.entry->job, SY_JOB_CANCEL);
    *h.entry = OpenEntry{};
    return 0;
}

uint32_t startDocPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    HandleRequest r = readOnly(in);
    uint32_t level = 0, unionLevel = 0, pointer = 0, namePointer = 0, outputPointer = 0, typePointer = 0;
    cmRpcParseUint32(in, &level);
    cmRpcParseUint32(in, &unionLevel);
    CMWchar document[kDocumentUnits] = {};
    bool nameOk = true;
    if (level == 1 || level == 2) {
        cmRpcParseUint32(in, &pointer);
        cmRpcParseUint32(in, &namePointer);
        cmRpcParseUint32(in, &outputPointer);
        cmRpcParseUint32(in, &typePointer);
        if (level == 2)
            cmRpcParseSkip(in, 8);
        CMRpcUnicodeString s{};
        if (namePointer) {
            cmRpcParseUnicode(in, &s, CM_RP_SIZE32 | CM_RP_FRAGMENT32);
            nameOk = !cmRpcIsOverrun(in) && rpc::copyText(s, document, kDocumentUnits);
        }
    }
    Handle h;
    uint32_t status = checkHandle(in, r.index, r.serial, &h);
    if (status == 0 && (level < 1 || level > 2 || !nameOk))
        status = kNtBadLevel;
    // One document at a time on a handle.
    if (status == 0 && h.entry->job)
        status = kNtBadLevel;
    uint32_t job = SY_NO_JOB;
    if (status == 0) {
        CSUser *user = caller(in);
        CMSdSecurityDescriptor sd;
        std::memset(&sd, 0, sizeof sd);
        if (!user || !cmSdGetDefaultSecurityDescriptorByToken(&user->token, &sd))
            sd.length = 0;
        job = syStartPrintJob(h.printer, document, nullptr, 0, sd.data, sd.length, user);
        if (job == SY_NO_JOB)
            status = kNtBadLevel;
        else
            h.entry->job = job;
    }
    cmRpcPackUint32(out, status == 0 ? job : SY_NO_JOB);
    return status;
}

static uint32_t page(CMRpcPacketDescriptor *in, int (*step)(uint32_t, uint32_t))
{
    HandleRequest r = readOnly(in);
    Handle h;
    uint32_t status = checkHandle(in, r.index, r.serial, &h);
    if (status)
        return status;
    return step(h.printer, h.entry->job) == -1 ? kJobNotFound : 0;
}

uint32_t startPagePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    return page(in, syStartPrintPage);
}
uint32_t endPagePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    return page(in, syEndPrintPage);
}

uint32_t writePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    HandleRequest r = readOnly(in);
    uint32_t count = 0;
    cmRpcParseUint32(in, &count);
    const uint8_t *data = in->current;
    // The count must lie within the request.
    int32_t left = cmRpcSpace(in);
    bool whole = !cmRpcIsOverrun(in) && left >= 0 && count <= uint32_t(left);
    Handle h;
    uint32_t status = checkHandle(in, r.index, r.serial, &h);
    if (status) {
        cmRpcPackUint32(out, 0);
        return status;
    }
    if (!whole) {
        cmRpcPackUint32(out, 0);
        return kInvalidParameter;
    }
    CSLateResponseContext *late = nullptr;
    // The data lies in the request, which the answer overwrites: the spooler
    // has written or copied it before anything is written here.
    int32_t written = h.entry->job ? syWritePrintData(h.printer, h.entry->job, data, count, &late) : -1;
    if (written == 0 && late) {
        csDcerpcSaveResponseContext(1, in, late);
        return CS_RPC_LATE;
    }
    cmRpcPackUint32(out, written < 0 ? 0 : uint32_t(written));
    return written < 0 ? kPrintCancelled : 0;
}

uint32_t abortPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    HandleRequest r = readOnly(in);
    Handle h;
    uint32_t status = checkHandle(in, r.index, r.serial, &h);
    if (status == kInvalidPrinterName)
        return 1;
    if (status)
        return status;
    syControlPrinter(h.printer, SY_PRINTER_PURGE);
    // Every handle's document ended with the queue.
    for (OpenEntry &e : context()->entries)
        if (!e.free && e.share == h.entry->share)
            e.job = 0;
    return 0;
}

uint32_t endDocPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    HandleRequest r = readOnly(in);
    Handle h;
    uint32_t status = checkHandle(in, r.index, r.serial, &h);
    if (status)
        return status;
    int result = syEndPrintJob(h.printer, h.entry->job);
    h.entry->job = 0;
    return result == -1 ? kJobNotFound : 0;
}

uint32_t setJob(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    HandleRequest r = readOnly(in);
    uint32_t job = 0, container = 0, command = 0;
    cmRpcParseUint32(in, &job);
    cmRpcParseUint32(in, &container);
    // A job container is not read: its information cannot be set. The
    // command is the request's last word.
    if (in->length >= 4) {
        const uint8_t *last = in->origin + in->length - 4;
        command = in->nbo ? uint32_t(last[0] << 24 | last[1] << 16 | last[2] << 8 | last[3])
                          : uint32_t(last[0] | last[1] << 8 | last[2] << 16 | uint32_t(last[3]) << 24);
    }
    Handle h;
    uint32_t status = checkHandle(in, r.index, r.serial, &h);
    if (status)
        return status;
    if (!csAuthShareIsAccessible(caller(in), h.entry->share->isPrinter))
        return kNtAccessDenied;
    if (container || command == 0)
        return 0;
    // Only jobs of this handle's printer.
    SYPrintJobInfo info;
    if (syGetPrintJobById(h.printer, job, &info) != 0 || syGetPrintJobIndexById(h.printer, job) < 0 ||
        syGetPrintJobIdByIndex(h.printer, info.position) != job)
        return kJobCommandFailed;
    if (syControlPrintJob(h.printer, job, command) == -1)
        return kJobCommandFailed;
    if (command == SY_JOB_CANCEL || command == SY_JOB_DELETE)
        for (OpenEntry &e : context()->entries)
            if (!e.free && e.job == job)
                e.job = 0;
    return 0;
}

uint32_t resetPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *)
{
    HandleRequest r = readOnly(in);
    Handle h;
    return checkHandle(in, r.index, r.serial, &h);
}

uint32_t addJob(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *) { return kInvalidParameter; }
uint32_t findClosePrinterChangeNotification(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *) { return 0; }
uint32_t remoteFindFirstPrinterChangeNotificationEx(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *)
{
    return 1722;
}
uint32_t routerRefreshPrinterChangeNotification(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *)
{
    return 6;
}

}  // namespace spoolss
