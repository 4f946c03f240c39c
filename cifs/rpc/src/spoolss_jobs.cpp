// The spooler pipe's job information: levels 1 to 4 with their needed sizes,
// RpcGetJob and RpcEnumJobs.
#include "spoolss.h"

#include "csauth.h"

#include <algorithm>
#include <cstring>

namespace spoolss {

namespace {

constexpr uint32_t kNotAllowed = 0xFFFFFFFFu;

const CMWchar *w(const std::u16string &s) { return reinterpret_cast<const CMWchar *>(s.c_str()); }

struct JobView {
    SYPrintJobInfo job;
    const uint8_t *sd;
    uint32_t sdLength;
};

// The job and the descriptor it shows: its own, else the printer's.
bool viewJob(uint32_t printer, uint32_t id, JobView *v)
{
    if (syGetPrintJobById(printer, id, &v->job) != 0)
        return false;
    if (v->job.securityDescriptorLength >= 1 && v->job.securityDescriptorLength <= CM_SD_MAX_SIZE) {
        v->sd = v->job.securityDescriptor;
        v->sdLength = v->job.securityDescriptorLength;
    } else {
        Context *c = context();
        v->sd = c->sd;
        v->sdLength = syPrinterGetSecurityDescriptor(printer, c->sd, sizeof c->sd);
    }
    return v->sdLength != 0;
}

uint32_t jobInfoSize(uint32_t level, uint32_t id, const OpenEntry &e, uint32_t printer, const CSUser *user)
{
    JobView v{};
    if (!viewJob(printer, id, &v))
        return 0;
    if (!csAuthShareIsAccessible(user, e.share->isPrinter))
        return kNotAllowed;
    const SYPrinterInfo &i = context()->info;
    uint32_t base = (textLength(e.share->name) + 6 + uint32_t(serverName(&e).size())) * 2;
    switch (level) {
    case 1:
        return base + 64 + stringSize(v.job.documentName) + stringSize(i.dataType) +
               stringSize(v.job.statusText);
    case 2:
    case 4:
        return base + (level == 2 ? 8 : 12) + (user ? (textLength(user->name) + 1) * 2 : 0) +
               stringSize(v.job.documentName) + 4 +
               (v.job.owner ? (textLength(v.job.owner->name) + 1) * 2 : 0) + stringSize(i.dataType) +
               stringSize(i.printProcessor) + stringSize(i.parameters) + stringSize(i.driverName) +
               i.deviceMode.driverExtraLength + 308 + v.sdLength;
    case 3:
        return 36;
    default:
        return 0;
    }
}

uint32_t packJobInfo(InfoBuffer &b, uint32_t level, uint32_t id, const OpenEntry &e, uint32_t printer,
                     const CSUser *user)
{
    JobView v{};
    if (!viewJob(printer, id, &v))
        return v.job.jobId == id ? kInvalidPrinterName : kJobNotFound;
    if (!csAuthShareIsAccessible(user, e.share->isPrinter))
        return 1;
    if (level < 1 || level > 4)
        return kNtBadLevel;
    const SYPrinterInfo &i = context()->info;
    std::u16string server = serverName(&e), name = printerName(server, e.share);
    const SYPrintJobInfo &j = v.job;
    if (level == 3) {
        b.u32(j.jobId);
        b.u32(syGetPrintJobIdByIndex(printer, j.position + 1));
        b.u32(0);
        return b.failed() ? kInsufficientBuffer : 0;
    }
    b.u32(j.jobId);
    b.string(e.share->name);
    b.string(w(server));
    if (level == 1) {
        b.u32(0);  // user name
        b.string(j.documentName);
        b.string(i.dataType);
        b.string(j.statusText);
        b.u32(j.status);
        b.u32(0);  // priority
        b.u32(j.position);
        b.u32(j.pagesPrinted);
        b.u32(j.totalPages);
        b.zeros(16);  // submitted
    } else {
        b.string(j.owner ? j.owner->name : nullptr);
        b.string(j.documentName);
        b.string(user ? user->name : nullptr);
        b.string(i.dataType);
        b.string(i.printProcessor);
        b.string(i.parameters);
        b.string(i.driverName);
        b.devMode(i.deviceMode, w(name), kDevModeBytes + 4);
        b.u32(0);  // status text
        b.u32(0);  // descriptor
        b.u32(j.status);
        b.u32(0);  // priority
        b.u32(j.position);
        b.u32(0);  // start time
        b.u32(0);  // until time
        b.u32(j.pagesPrinted);
        b.u32(j.bytesPrinted);
        b.zeros(16);  // submitted
        b.u32(0);     // time
        b.u32(j.totalPages);
        if (level == 4)
            b.u32(0);  // size high
    }
    return b.failed() ? kInsufficientBuffer : 0;
}

}  // namespace

uint32_t getJob(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t index;
    uint32_t serial, id = 0, level = 0, offered = 0;
    readHandle(in, &index, &serial);
    cmRpcParseUint32(in, &id);
    readLevelAndBuffer(in, &level, &offered);
    CMRpcPacketDescriptor start;
    cmRpcCloneDescriptor(out, &start);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    CSUser *user = caller(in);
    if (status == 0 && !offeredFits(out, offered))
        status = kNotEnoughRoom;
    if (status == 0 && !csAuthShareIsAccessible(user, h.entry->share->isPrinter))
        status = kNtAccessDenied;
    if (status == 0 && syGetPrinterInfo(h.printer, &context()->info) != 0)
        status = kInvalidPrinterName;
    if (status) {
        writeNullArray(out, 0, false);
        return status;
    }
    uint32_t needed = jobInfoSize(level, id, *h.entry, h.printer, user);
    if (offered < needed) {
        writeNullArray(out, needed, false);
        return kInsufficientBuffer;
    }
    SYPrintJobInfo job;
    if (syGetPrintJobById(h.printer, id, &job) != 0) {
        writeNullArray(out, needed, false);
        return kJobNotFound;
    }
    uint8_t *bytes = beginArray(out, 1, offered);
    InfoBuffer b(bytes, offered);
    status = bytes ? packJobInfo(b, level, id, *h.entry, h.printer, user) : kNotEnoughRoom;
    if (status == kInsufficientBuffer) {
        *out = start;
        return retryAnswer(out, offered, false);
    }
    if (status) {
        *out = start;
        writeNullArray(out, 0, false);
        return status;
    }
    cmRpcPackUint32(out, needed);
    return 0;
}

uint32_t enumJobs(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t index;
    uint32_t serial, first = 0, wanted = 0, level = 0, offered = 0;
    readHandle(in, &index, &serial);
    cmRpcParseUint32(in, &first);
    cmRpcParseUint32(in, &wanted);
    readLevelAndBuffer(in, &level, &offered);
    CMRpcPacketDescriptor start;
    cmRpcCloneDescriptor(out, &start);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    if (status == 0 && !offeredFits(out, offered))
        status = kNotEnoughRoom;
    if (status == 0 && syGetPrinterInfo(h.printer, &context()->info) != 0)
        status = kInvalidPrinterName;
    if (status) {
        writeNullArray(out, 0, true);
        return status;
    }
    CSUser *user = caller(in);
    // Positions first .. first + wanted - 1, as far as the queue goes.
    uint32_t queued = context()->info.jobsQueued;
    uint32_t last = first >= queued ? first : first + std::min(wanted, queued - first);
    uint32_t needed = 0;
    for (uint32_t p = first; p < last; ++p) {
        uint32_t id = syGetPrintJobIdByIndex(h.printer, p);
        uint32_t size = id == SY_NO_JOB ? 0 : jobInfoSize(level, id, *h.entry, h.printer, user);
        if (size == 0)
            break;
        if (size != kNotAllowed)
            needed += size;
    }
    if (offered < needed) {
        writeNullArray(out, needed, true);
        return kInsufficientBuffer;
    }
    uint8_t *bytes = beginArray(out, 1, offered);
    if (!bytes) {
        *out = start;
        writeNullArray(out, 0, true);
        return kNotEnoughRoom;
    }
    InfoBuffer b(bytes, offered);
    uint32_t returned = 0;
    for (uint32_t p = first; p < last; ++p) {
        uint32_t id = syGetPrintJobIdByIndex(h.printer, p);
        if (id == SY_NO_JOB)
            break;
        b.record();
        status = packJobInfo(b, level, id, *h.entry, h.printer, user);
        if (status == 1)
            continue;
        if (status == kJobNotFound)
            break;
        if (status == kInsufficientBuffer) {
            *out = start;
            return retryAnswer(out, offered, true);
        }
        if (status) {
            *out = start;
            writeNullArray(out, 0, true);
            return status;
        }
        ++returned;
    }
    cmRpcPackUint32(out, needed);
    cmRpcPackUint32(out, returned);
    return 0;
}

}  // namespace spoolss
