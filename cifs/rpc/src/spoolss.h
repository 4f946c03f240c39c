// Internal: the spooler pipe's context (its open printer handles), the handle
// check every operation makes, the names the answers carry, and the
// operations of the interface's table.
#pragma once

#include "cmrpc.h"
#include "cmsd.h"
#include "csdb.h"
#include "csshares.h"
#include "spoolss_pack.h"
#include "syprint.h"

#include <array>
#include <cstdint>
#include <string>

namespace spoolss {

constexpr uint32_t kEntries = 50;
constexpr uint32_t kHandleBytes = 20;
// The longest printer or value name taken to 8-bit text.
constexpr uint32_t kNameChars = 513;
// Room an answer needs before a printer is packed, and before a driver is refused.
constexpr int32_t kPrinterRoom = 304;
constexpr int32_t kDriverRoom = 100;
// Bytes an information answer writes besides its array: pointer, count,
// alignment, needed, count returned, and the status.
constexpr uint32_t kArrayOverhead = 28;

// Results.
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kNotEnoughRoom = 8;
constexpr uint32_t kPrintCancelled = 63;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kInvalidLevel = 124;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kUnknownDriver = 1797;
constexpr uint32_t kInvalidPrinterName = 1801;
constexpr uint32_t kBadHandle = 0x1C00001A;
constexpr uint32_t kJobCommandFailed = 0x1C000021;
constexpr uint32_t kJobNotFound = 0x1C000024;
constexpr uint32_t kNtAccessDenied = 0xC0000005;
constexpr uint32_t kNtBadLevel = 0xC0000032;
constexpr uint32_t kNtNoResources = 0xC000009A;

struct OpenEntry {
    bool free = true;
    CSShare *share = nullptr;
    uint32_t job = 0;
    CSUser *owner = nullptr;
    uint16_t ownerUid = 0;
    uint32_t serial = 0;
    bool serverIsAddress = false;
    char serverAddress[64] = {};
};

struct Context {
    std::array<OpenEntry, kEntries> entries;
    uint32_t serial = 1;
    uint32_t changeId = 1;
    // Used within one call.
    uint8_t sd[CM_SD_MAX_SIZE];
    SYPrinterInfo info;
};

Context *context();
CSUser *caller(const CMRpcPacketDescriptor *d);

// The 20-byte handle of a request, and the entry it names when that entry is
// in use with the serial the handle carries and belongs to the caller.
struct Handle {
    OpenEntry *entry = nullptr;
    uint32_t printer = SY_NO_PRINTER;
};
void readHandle(CMRpcPacketDescriptor *in, uint16_t *index, uint32_t *serial);
// 0 with the entry (and its printer when it has a share), else the result.
uint32_t checkHandle(const CMRpcPacketDescriptor *in, uint16_t index, uint32_t serial, Handle *handle);
void writeHandle(CMRpcPacketDescriptor *out, uint16_t index, uint32_t serial);

// "\\" and the server part the handle was opened with when it was an
// address, else the host's NetBIOS name.
std::u16string serverName(const OpenEntry *entry);
std::u16string serverNameFor(const std::string &address);
// The server name, a backslash and the share's name.
std::u16string printerName(const std::u16string &server, const CSShare *share);
std::u16string wide(const std::string &s);
std::string narrowText(const CMRpcUnicodeString &s, uint32_t max = kNameChars);

// A conformant array the client may send in the request (its buffer).
void skipInBuffer(CMRpcPacketDescriptor *in);
// The answer's room for an offered size, including what follows the array.
bool offeredFits(const CMRpcPacketDescriptor *out, uint32_t offered);
// A null array, the needed size and, for enumerations, a count of 0.
void writeNullArray(CMRpcPacketDescriptor *out, uint32_t needed, bool enumeration);
// The array's pointer and count, and its offered bytes zeroed; the bytes to pack into.
uint8_t *beginArray(CMRpcPacketDescriptor *out, uint32_t pointer, uint32_t offered);

// Printers (information levels 0 to 5) and jobs (levels 1 to 4).
uint32_t printerInfoSize(uint32_t level, const std::u16string &server, const CSShare *share,
                         uint32_t printer);
uint32_t packPrinterInfo(InfoBuffer &buffer, uint32_t level, const std::u16string &server,
                         const CSShare *share, uint32_t printer, const CSUser *user);

// Operations.
uint32_t enumPrinters(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t setJob(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t getJob(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t enumJobs(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t setPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t getPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t startDocPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t startPagePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t writePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t endPagePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t abortPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t endDocPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t addJob(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t getPrinterData(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t setPrinterData(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t closePrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t getForm(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t enumForms(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t resetPrinter(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t getPrinterDriver2(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t findClosePrinterChangeNotification(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t remoteFindFirstPrinterChangeNotificationEx(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t routerRefreshPrinterChangeNotification(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);
uint32_t openPrinterEx(CMRpcPacketDescriptor *in, CMRpcPacketDescriptor *out);

}  // namespace spoolss
