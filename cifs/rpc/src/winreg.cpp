// The registry: a fixed, read-only tree of sixteen keys and six values that
// clients read against a file server (OS version, product type, event-log
// file, host name and domain), behind ten key handles shared by all clients.
#include "csdcerpc.h"
#include "ndr_text.h"

#include "cmtime.h"

#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kNoMemory = 0xC000009Au;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kHandleSize = 20;

struct Key {
    int parent;
    const char *name;
};

// Row 0 is the root; a row's parent always stands above it.
const Key kKeys[16] = {
    {-1, "HKLM"},          {0, "Software"},    {1, "Microsoft"},         {2, "Windows NT"},
    {3, "CurrentVersion"}, {0, "System"},      {5, "CurrentControlSet"}, {6, "Services"},
    {7, "EventLog"},       {8, "Application"}, {8, "Security"},          {8, "System"},
    {7, "Tcpip"},          {12, "Parameters"}, {6, "Control"},           {14, "ProductOptions"},
};

struct Value {
    int key;
    const char *name;
    const char *data;             // null: the getter gives it
    std::string (*getter)(void);  // the text without its zero
};

const Value kValues[6] = {
    {4, "CurrentVersion", "5.1", nullptr},
    {4, "SystemRoot", "C:\\Windows", nullptr},
    {9, "File", "%SystemRoot%\\system32\\config\\AppEvent.Evt", nullptr},
    {15, "ProductType", "VXE", nullptr},
    {13, "Hostname", nullptr, rpc::hostName},
    {13, "Domain", nullptr, rpc::domainName},
};

struct KeyHandle {
    uint32_t free = 1;
    uint16_t number = 0;
    int key = 0;
    uint16_t serverWord = 0;
    uint32_t access = 0;
    // The pipe that opened it: its close frees what its client left open.
    const CSFile *pipe = nullptr;
};

constexpr uint32_t kHandles = 10;
std::unique_ptr<std::array<KeyHandle, kHandles>> gHandles;

int init()
{
    gHandles.reset(new (std::nothrow) std::array<KeyHandle, kHandles>());
    if (!gHandles)
        return -1;
    for (uint32_t i = 0; i < kHandles; ++i)
        (*gHandles)[i].number = uint16_t(i + 1);
    return 0;
}

void stop() { gHandles.reset(); }

void closePipe(CSFile *pipe)
{
    if (!gHandles)
        return;
    for (KeyHandle &h : *gHandles)
        if (!h.free && h.pipe == pipe) {
            h.free = 1;
            h.pipe = nullptr;
        }
}

// The record a handle names, or null when it names none in use.
KeyHandle *readHandle(CMRpcPacketDescriptor *in)
{
    uint8_t raw[kHandleSize - 2];
    uint16_t number = 0;
    cmRpcParseBytes(in, raw, sizeof raw);
    cmRpcParseUint16(in, &number);
    if (!gHandles || number < 1 || number > kHandles)
        return nullptr;
    KeyHandle &h = (*gHandles)[number - 1u];
    return h.free ? nullptr : &h;
}

void packHandle(CMRpcPacketDescriptor *out, const KeyHandle *h)
{
    cmRpcPackZeroes(out, kHandleSize - 2);
    cmRpcPackUint16(out, h ? h->number : 0);
}

KeyHandle *take(int key, uint16_t serverWord, uint32_t access)
{
    if (!gHandles)
        return nullptr;
    for (KeyHandle &h : *gHandles)
        if (h.free) {
            h.free = 0;
            h.key = key;
            h.serverWord = serverWord;
            h.access = access;
            h.pipe = csDcerpcCurrentPipe();
            return &h;
        }
    return nullptr;
}

// An RRP_UNICODE_STRING: lengths in bytes, then a unique pointer to the text.
struct RrpString {
    uint16_t length = 0, maximum = 0;
    CMRpcUnicodeString text{};
    bool present = false;
};

void parseRrpString(CMRpcPacketDescriptor *in, RrpString *s)
{
    cmRpcAllign(in, 4);
    cmRpcParseUint16(in, &s->length);
    cmRpcParseUint16(in, &s->maximum);
    s->present = rpc::parseStringPointer(in, &s->text);
}

bool sameNoCase(const char *row, const std::string &component)
{
    if (std::strlen(row) < component.size())
        return false;
    for (size_t i = 0; i < component.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(row[i])) !=
            std::tolower(static_cast<unsigned char>(component[i])))
            return false;
    return true;
}

// Each component picks the first child, in table order, whose name begins
// with it; empty components (a doubled or trailing '\') stay on the key.
int resolve(int key, const std::string &path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty())
            continue;
        int next = -1;
        for (int row = 0; row < int(sizeof kKeys / sizeof kKeys[0]); ++row)
            if (kKeys[row].parent == key && sameNoCase(kKeys[row].name, component)) {
                next = row;
                break;
            }
        if (next < 0)
            return -1;
        key = next;
    }
    return key;
}

// OpenLocalMachine
uint32_t openLocalMachine(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    uint32_t server = 0, access = 0;
    uint16_t word = 0;
    cmRpcParseUint32(in, &server);
    // The server name is one character behind its pointer; a null pointer has none.
    if (server != 0)
        cmRpcParseUint16(in, &word);
    cmRpcAllign(in, 4);
    cmRpcParseUint32(in, &access);
    if (cmRpcIsOverrun(in))
        return 0;
    KeyHandle *h = take(0, word, access);
    packHandle(out, h);
    return h ? 0 : kNoMemory;
}

// BaseRegCloseKey
uint32_t closeKey(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    KeyHandle *h = readHandle(in);
    if (cmRpcIsOverrun(in))
        return 0;
    if (h) {
        h->free = 1;
        h->pipe = nullptr;
    }
    packHandle(out, nullptr);
    return 0;
}

// BaseRegEnumKey
uint32_t enumKey(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    KeyHandle *h = readHandle(in);
    uint32_t index = 0, classPointer = 0, timePointer = 0;
    RrpString name, klass;
    cmRpcParseUint32(in, &index);
    parseRrpString(in, &name);
    cmRpcParseUint32(in, &classPointer);
    if (classPointer)
        parseRrpString(in, &klass);
    cmRpcParseUint32(in, &timePointer);
    if (cmRpcIsOverrun(in))
        return 0;

    int row = -1;
    if (h) {
        uint32_t seen = 0;
        for (int r = 0; r < int(sizeof kKeys / sizeof kKeys[0]); ++r)
            if (kKeys[r].parent == h->key && seen++ == index) {
                row = r;
                break;
            }
    }
    uint32_t status = !h ? kInvalidHandle : row < 0 ? kNoMoreItems : 0;
    uint32_t bytes = 0;
    if (status == 0) {
        bytes = uint32_t(std::strlen(kKeys[row].name) + 1) * 2;
        // A name the client's buffer cannot hold is not sent cut.
        if (bytes > name.maximum)
            status = kMoreData;
    }
    // Name
    cmRpcPackUint16(out, status == 0 ? uint16_t(bytes) : 0);
    cmRpcPackUint16(out, name.maximum);
    rpc::packPointer(out, status == 0);
    if (status == 0) {
        const char *text = kKeys[row].name;
        const uint32_t units = uint32_t(std::strlen(text) + 1);
        cmRpcPackUint32(out, name.maximum / 2u);
        cmRpcPackUint32(out, 0);
        cmRpcPackUint32(out, units);
        for (uint32_t i = 0; i < units; ++i)
            cmRpcPackUint16(out, uint16_t(static_cast<unsigned char>(text[i])));
        cmRpcAllignZero(out, 4);
    }
    // Class: empty, where the client asked for one.
    rpc::packPointer(out, classPointer != 0);
    if (classPointer) {
        cmRpcPackUint16(out, 0);
        cmRpcPackUint16(out, 0);
        rpc::packPointer(out, false);
    }
    // Last write time
    rpc::packPointer(out, timePointer != 0);
    if (timePointer) {
        CMUint64 now{0, 0};
        if (status == 0)
            cmGetCurrentTime(&now);
        cmRpcPackUint32(out, now.low);
        cmRpcPackUint32(out, now.high);
    }
    return status;
}

// BaseRegOpenKey
uint32_t openKey(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    KeyHandle *parent = readHandle(in);
    RrpString sub;
    uint32_t options = 0, access = 0;
    parseRrpString(in, &sub);
    cmRpcParseUint32(in, &options);
    cmRpcParseUint32(in, &access);
    if (cmRpcIsOverrun(in))
        return 0;
    if (!parent) {
        packHandle(out, nullptr);
        return kAccessDenied;
    }
    const int key = resolve(parent->key, rpc::narrow(sub.text, 1024));
    if (key < 0) {
        packHandle(out, nullptr);
        return kFileNotFound;
    }
    KeyHandle *h = take(key, parent->serverWord, access);
    packHandle(out, h);
    return h ? 0 : kNoMemory;
}

// BaseRegQueryValue
uint32_t queryValue(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    KeyHandle *h = readHandle(in);
    RrpString name;
    parseRrpString(in, &name);
    uint32_t typePointer = 0, type = 0, dataPointer = 0, sizePointer = 0, size = 0, lengthPointer = 0,
             length = 0;
    cmRpcParseUint32(in, &typePointer);
    if (typePointer)
        cmRpcParseUint32(in, &type);
    cmRpcParseUint32(in, &dataPointer);
    if (dataPointer) {
        // The client's buffer goes out unread.
        uint32_t maximum = 0, offset = 0, actual = 0;
        cmRpcParseUint32(in, &maximum);
        cmRpcParseUint32(in, &offset);
        cmRpcParseUint32(in, &actual);
        cmRpcParseSkip(in, actual);
        cmRpcAllign(in, 4);
    }
    cmRpcParseUint32(in, &sizePointer);
    if (sizePointer)
        cmRpcParseUint32(in, &size);
    cmRpcParseUint32(in, &lengthPointer);
    if (lengthPointer)
        cmRpcParseUint32(in, &length);
    if (cmRpcIsOverrun(in))
        return 0;

    const Value *value = nullptr;
    if (h) {
        const std::string wanted = rpc::narrow(name.text, 1024);
        for (const Value &v : kValues)
            if (v.key == h->key && wanted == v.name) {
                value = &v;
                break;
            }
    }
    if (!value) {
        rpc::packPointer(out, false);
        rpc::packPointer(out, false);
        rpc::packPointer(out, sizePointer != 0);
        if (sizePointer)
            cmRpcPackUint32(out, 0);
        rpc::packPointer(out, lengthPointer != 0);
        if (lengthPointer)
            cmRpcPackUint32(out, 0);
        return kFileNotFound;
    }
    const std::string text = value->data ? std::string(value->data) : value->getter();
    // REG_SZ goes out as UTF-16 with its zero.
    const uint32_t needed = uint32_t(text.size() + 1) * 2;
    const bool fits = sizePointer && needed <= size;
    const bool send = dataPointer && fits;
    uint32_t status = dataPointer && !fits ? kMoreData : 0;

    rpc::packPointer(out, typePointer != 0);
    if (typePointer)
        cmRpcPackUint32(out, kRegSz);
    rpc::packPointer(out, dataPointer != 0);
    if (dataPointer) {
        cmRpcPackUint32(out, needed);
        cmRpcPackUint32(out, 0);
        cmRpcPackUint32(out, send ? needed : 0);
        if (send) {
            for (unsigned char c : text)
                cmRpcPackUint16(out, c);
            cmRpcPackUint16(out, 0);
        }
        cmRpcAllignZero(out, 4);
    }
    rpc::packPointer(out, sizePointer != 0);
    if (sizePointer)
        cmRpcPackUint32(out, needed);
    rpc::packPointer(out, lengthPointer != 0);
    if (lengthPointer)
        cmRpcPackUint32(out, send ? needed : 0);
    return status;
}

// BaseRegGetVersion
uint32_t getVersion(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out)
{
    KeyHandle *h = readHandle(in);
    if (cmRpcIsOverrun(in))
        return 0;
    cmRpcPackUint32(out, h ? 1 : 0);
    return h ? 0 : kAccessDenied;
}

const CSDcerpcOperation kOperations[35] = {
    nullptr, nullptr, openLocalMachine, nullptr, nullptr, closeKey, nullptr, nullptr, nullptr,
    enumKey, nullptr, nullptr,          nullptr, nullptr, nullptr,  openKey, nullptr, queryValue,
    nullptr, nullptr, nullptr,          nullptr, nullptr, nullptr,  nullptr, nullptr, getVersion,
};

}  // namespace

extern "C" {

const CSDcerpcInterface *csRpcWinReg(void)
{
    static const CSDcerpcInterface kInterface = {
        init,
        stop,
        closePipe,
        "winreg",
        // 338cd001-2244-31f1-aaaa-900038001003
        {0x01, 0xd0, 0x8c, 0x33, 0x44, 0x22, 0xf1, 0x31, 0xaa, 0xaa, 0x90, 0x00, 0x38, 0x00, 0x10, 0x03},
        1,
        0,
        35,
        kOperations,
        nullptr};
    return &kInterface;
}

}  // extern "C"
