// The spooler pipe's printer data: the three values that can be read, and
// writes that store nothing.
#include "spoolss.h"

#include <cstring>

namespace spoolss {

namespace {

constexpr uint32_t kUnknownValueType = 0x00EAB2F8;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;

struct Value {
    const char *name;
    bool serverHandles;
    uint32_t type;
    // Writes the value's size bytes at p.
    uint32_t size;
    void (*write)(uint8_t *p);
};

void putLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

const Value kValues[] = {
    {"ChangeId", false, kRegDword, 4, [](uint8_t *p) { putLe32(p, context()->changeId); }},
    {"Architecture", true, kRegSz, 30,
     [](uint8_t *p) {
         const char *text = "Windows NT x86";
         for (size_t i = 0; i <= std::strlen(text); ++i) {
             p[2 * i] = uint8_t(text[i]);
             p[2 * i + 1] = 0;
         }
     }},
    {"MajorVersion", true, kRegDword, 4, [](uint8_t *p) { putLe32(p, 2); }},
};

}  // namespace

uint32_t getPrinterData(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint16_t index;
    uint32_t serial, offered = 0;
    readHandle(in, &index, &serial);
    CMRpcUnicodeString nameText{};
    cmRpcParseUnicode(in, &nameText, CM_RP_SIZE32 | CM_RP_FRAGMENT32);
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &offered);
    std::string name = cmRpcIsOverrun(in) ? std::string() : narrowText(nameText);
    Handle h;
    uint32_t status = checkHandle(in, index, serial, &h);
    if (status == 0 && !offeredFits(out, offered))
        status = kNotEnoughRoom;
    if (status) {
        cmRpcPackUint32(out, 0);
        cmRpcPackUint32(out, 0);
        cmRpcPackUint32(out, 0);
        return status;
    }
    bool serverHandle = h.entry->share == nullptr;
    const Value *row = nullptr;
    for (const Value &v : kValues)
        if (name == v.name && v.serverHandles == serverHandle) {
            row = &v;
            break;
        }
    cmRpcPackUint32(out, row ? row->type : kUnknownValueType);
    cmRpcPackUint32(out, offered);
    uint8_t *data = out->current;
    cmRpcPackZeroes(out, offered);
    cmRpcAllignZero(out, 4);
    if (!row) {
        cmRpcPackUint32(out, offered);
        return kFileNotFound;
    }
    // Below the value's size the array stays zeroed and the size is asked for.
    if (offered < row->size) {
        cmRpcPackUint32(out, row->size);
        return kMoreData;
    }
    if (!cmRpcIsOverrun(out))
        row->write(data);
    cmRpcPackUint32(out, row->size);
    return 0;
}

uint32_t setPrinterData(CMRpcPacketDescriptor *, CMRpcPacketDescriptor *out)
{
    // Nothing is stored.
    cmRpcPackUint32(out, 0);
    return 0;
}

}  // namespace spoolss
