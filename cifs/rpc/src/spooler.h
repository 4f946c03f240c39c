// Internal: the spooler's printer and job tables and the steps its files
// share (identification, status reads, starting, holding and ending jobs).
#pragma once

#include "csdispatch.h"
#include "syprint.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

namespace sy::print {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr int64_t kStatusCacheMs = 1000;
constexpr size_t kIdFieldChars = 63;
constexpr size_t kLogNameBytes = 128;
constexpr size_t kStatusPathBytes = 255;
constexpr uint32_t kDocumentUnits = 256;
constexpr uint32_t kStatusTextUnits = 32;

struct Printer {
    char devicePath[SY_DEVICE_PATH_BYTES];  // empty: a free record
    int fd;
    uint32_t activeJob;
    uint32_t deviceStatus;
    uint32_t portStatus;
    int64_t nextStatusRead;
    SYPrinterInfo info;
    CMWchar manufacturer[SY_ID_FIELD_UNITS];
    CMWchar model[SY_ID_FIELD_UNITS];
    CMWchar driverName[SY_DRIVER_NAME_UNITS];
    char logName[kLogNameBytes + 1];
    CMWchar comment[SY_TEXT_UNITS];
    CMWchar location[SY_TEXT_UNITS];
    CMWchar parameters[SY_TEXT_UNITS];
    CMWchar portName[SY_TEXT_UNITS];
    CMWchar printProcessor[SY_TEXT_UNITS];
    CMWchar separatorFile[SY_TEXT_UNITS];
    CMWchar dataType[SY_TEXT_UNITS];
    CMWchar formName[SY_FORM_NAME_UNITS];
    uint8_t sd[SY_PRINTER_SD_BYTES];
    uint8_t driverExtra[SY_DRIVER_EXTRA_BYTES];
    uint16_t vendorId;
    uint16_t productId;
    // The device took less than it was given: the rest waits, watched.
    bool stalled;
};

// One write that waits for its printer, with the answer its client waits for.
struct HeldWrite {
    std::unique_ptr<uint8_t[]> data;
    uint32_t length = 0;
    uint32_t sent = 0;    // of data, already on the device
    uint32_t before = 0;  // of the client's write, on the device before it was held
    bool cut = false;     // the write was longer than the hold keeps
    CSLateResponseContext context{};
};

struct Job {
    uint32_t inUse;
    uint32_t printer;
    SYPrintJobInfo record;
    CMWchar documentName[kDocumentUnits];
    CMWchar statusText[kStatusTextUnits];
    uint8_t sd[SY_PRINTER_SD_BYTES];
    // A ring: slots keep their place (their contexts are handed out) until answered.
    std::array<HeldWrite, SY_HOLD_QUEUE> held;
    uint32_t heldFirst;
    uint32_t heldCount;
    uint32_t heldBytes;
};

std::array<Printer, SY_PRINTERS> &printers();
std::array<Job, SY_PRINT_JOBS> &jobs();
// The process's device-ID buffer, shared by all printers within one call.
uint8_t *deviceIdBuffer();

void resetPrinter(Printer &p);
void resetJob(Job &j);
// Every string pointer of the printer's information at its own fields.
void aimPrinterInfo(Printer &p);

void printerLog(int level, const Printer *p, const char *format, ...) __attribute__((format(printf, 3, 4)));

// The device ID text of the buffer, bounded by its length and the buffer.
std::string_view deviceIdText(const uint8_t *buffer, size_t size);
// The value of key in a device ID, cut to 63 characters; false (and out
// empty) when the key or the ';' after its value is missing.
bool getDeviceIdField(std::string_view id, std::string_view key, char out[kIdFieldChars + 1]);

Printer *findPrinterByDevice(const char *path);
// The 8-bit form of a UTF-16 device path; false when it does not fit a record.
bool devicePathText(const CMWchar *path, char out[SY_DEVICE_PATH_BYTES]);
bool identifyPrinter(const char *devicePath, const CMWchar *shareName, int16_t verbosity, Printer &p);
void closePrinterDevice(Printer &p);
bool getDevicePidVid(Printer &p);
bool getDeviceStatusByFD(Printer &p);
bool getDeviceStatusByPath(Printer &p);
// By the open device, else by opening it.
bool refreshPrinterStatus(Printer &p);
void setStatusFilePath(const CMWchar *path);
void writePrinterStatusFile(uint32_t value);
bool printerReady(const Printer &p, const Job &j);

Job *findPrintJob(uint32_t id);
Job *activeJob(Printer &p);
bool startJobOnDevice(Job &j, Printer &p);
void resumeHeldData(Printer &p, Job *j);
// The device took part of what it was given and would block now: watched
// until it takes more.
void stallPrinter(Printer &p);
void unstallPrinter(Printer &p);
bool endPrintJob(uint32_t id);
// A printer without an active job whose queue holds a job starts it.
void startQueuedJob(Printer &p);

// How a held write is answered (the late answer of the carrying command);
// tests record the answers instead. Null puts the framework's back.
using LateAnswer = void (*)(CSLateResponseContext *context, uint32_t count);
void setLateAnswer(LateAnswer answer);

}  // namespace sy::print
