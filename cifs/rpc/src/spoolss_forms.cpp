// The spooler pipe's forms and driver: RpcGetForm, RpcEnumForms and
// RpcGetPrinterDriver2 (no printer has a driver).
#include "spoolss.h"

#include "ndr_text.h"

#include "cmstring.h"
#include "csauth.h"

#include <algorithm>

namespace spoolss {

namespace {

constexpr uint32_t kForms = 2;

uint32_t formSize(const SYPrintForm &f) { return (textLength(f.name) + 1) * 2 + 44; }

void packForm(InfoBuffer &b, const SYPrintForm &f)
{
    b.u32(f.flags);
    b.string(f.name);
    b.u32(f.width);
    b.u32(f.height);
    b.u32(f.left);
    b.u32(f.top);
    b.u32(f.right);
    b.u32(f.bottom);
}

}  // namespace

uint32_t getForm(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t index;
    uint32_t serial, level = 0, offered = 0;
    readHandle(in, &index, &serial);
    CMRpcUnicodeString name{};
    cmRpcParseUnicode(in, &name, CM_RP_SIZE32 | CM_RP_FRAGMENT32);
    cmRpcAllign(in, 4);
    readLevelAndBuffer(in, &level, &offered);
    CMWchar wanted[64] = {};
    bool named = !cmRpcIsOverrun(in) && rpc::copyText(name, wanted, 64);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    if (status == 0 && !offeredFits(out, offered))
        status = kNotEnoughRoom;
    SYPrintForm form{};
    bool found = false;
    for (uint32_t f = 0; status == 0 && named && !found && f < kForms; ++f)
        found = syGetPrintForm(h.printer, f, &form) == 0 && cmWStrcmp(form.name, wanted) == 0;
    if (status == 0 && !found)
        status = 1;
    if (status) {
        writeNullArray(out, 0, false);
        return status;
    }
    if (level != 1 || offered < formSize(form)) {
        writeNullArray(out, level != 1 ? 0xFFFFFFFFu : std::max(formSize(form), 500u), false);
        return kInsufficientBuffer;
    }
    CMRpcPacketDescriptor start;
    cmRpcCloneDescriptor(out, &start);
    uint8_t *bytes = beginArray(out, 1, offered);
    InfoBuffer b(bytes, offered);
    if (bytes)
        packForm(b, form);
    if (!bytes || b.failed()) {
        *out = start;
        return retryAnswer(out, offered, false);
    }
    cmRpcPackUint32(out, offered);
    return 0;
}

uint32_t enumForms(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t index;
    uint32_t serial, level = 0, offered = 0;
    readHandle(in, &index, &serial);
    readLevelAndBuffer(in, &level, &offered);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    if (status == 0 && !offeredFits(out, offered))
        status = kNotEnoughRoom;
    if (status == 0 && level != 1)
        status = kInvalidLevel;
    if (status) {
        writeNullArray(out, 0, true);
        return status;
    }
    SYPrintForm forms[kForms];
    uint32_t needed = 0;
    for (uint32_t f = 0; f < kForms; ++f) {
        syGetPrintForm(h.printer, f, &forms[f]);
        needed += formSize(forms[f]);
    }
    if (offered < needed) {
        writeNullArray(out, std::max(needed, 1000u), true);
        return kInsufficientBuffer;
    }
    CMRpcPacketDescriptor start;
    cmRpcCloneDescriptor(out, &start);
    uint8_t *bytes = beginArray(out, 1, offered);
    InfoBuffer b(bytes, offered);
    for (uint32_t f = 0; bytes && f < kForms; ++f) {
        b.record();
        packForm(b, forms[f]);
    }
    if (!bytes || b.failed()) {
        *out = start;
        writeNullArray(out, offered < 500 ? 500 : 2 * offered, true);
        return kInsufficientBuffer;
    }
    cmRpcPackUint32(out, needed);
    cmRpcPackUint32(out, kForms);
    return 0;
}

uint32_t getPrinterDriver2(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t index;
    uint32_t serial, level = 0, offered = 0;
    readHandle(in, &index, &serial);
    CMRpcUnicodeString environment{};
    rpc::parseStringPointer(in, &environment);
    readLevelAndBuffer(in, &level, &offered);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    bool fits = offeredFits(out, offered);
    if (status == 0 && !fits)
        status = kNotEnoughRoom;
    uint8_t buffer[1];
    if (status == 0 && cmRpcSpace(out) < kDriverRoom)
        status = kInsufficientBuffer;
    else if (status == 0 && !csAuthShareIsAccessible(caller(in), h.entry->share->isPrinter))
        status = kNtAccessDenied;
    else if (status == 0 && syGetPrinterDriver(h.printer, level, buffer) != 0)
        status = kUnknownDriver;
    // An empty array goes as a null pointer: clients read a structure
    // behind any other.
    if (fits && offered)
        beginArray(out, 2, offered);
    else
        cmRpcPackUint32(out, 0);
    cmRpcPackUint32(out, 0);  // needed
    cmRpcPackUint32(out, 2);  // server's highest version
    cmRpcPackUint32(out, 0);  // and lowest
    return status;
}

}  // namespace spoolss
