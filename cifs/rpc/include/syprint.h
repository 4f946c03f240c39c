/* The print spooler: four printer records keyed by the device path of their
 * printer share, four print jobs with a queue order per printer, data written
 * to USB printer devices or held (with the client's answer) while a printer
 * is not ready, the printers' status file, and the information, forms and
 * descriptors that the spooler pipe reports. Every entry runs on the server
 * loop's thread. */
#ifndef SYPRINT_H
#define SYPRINT_H

#include "cmtypes.h"

struct CSUser;
struct CSLateResponseContext;

#define SY_PRINTERS 4
#define SY_PRINT_JOBS 4
#define SY_NO_PRINTER 0xFFFFFFFFu
#define SY_NO_JOB 0xFFFFFFFFu
/* Bytes of one held write. */
#define SY_HOLD_BYTES 0x20000u
/* Held writes a job keeps in order while its printer is not ready, and the
 * bytes they may hold together (a client pipelines its writes). */
#define SY_HOLD_QUEUE 64u
#define SY_HOLD_JOB_BYTES 0x100000u
#define SY_DEVICE_PATH_BYTES 64
#define SY_DEVICE_ID_BYTES 512
#define SY_PRINTER_SD_BYTES 320
#define SY_DRIVER_EXTRA_BYTES 1000

/* Device status (from the port status). */
#define SY_DEVICE_ERROR 0x2u
#define SY_DEVICE_PAPER_OUT 0x10u
#define SY_DEVICE_OFFLINE 0x80u
#define SY_DEVICE_BUSY 0x200u
#define SY_DEVICE_NOT_AVAILABLE 0x1000u
/* Spooler state of a printer. */
#define SY_PRINTER_PAUSED 0x1u
#define SY_PRINTER_PRINTING 0x400u
/* Job status. */
#define SY_JOB_PAUSED 0x1u
#define SY_JOB_PRINTING 0x10u
#define SY_JOB_BLOCKED 0x200u

/* Job commands (syControlPrintJob) and printer commands (syControlPrinter). */
#define SY_JOB_PAUSE 1
#define SY_JOB_RESUME 2
#define SY_JOB_CANCEL 3
#define SY_JOB_RESTART 4
#define SY_JOB_DELETE 5
#define SY_PRINTER_PAUSE 1
#define SY_PRINTER_RESUME 2
#define SY_PRINTER_PURGE 3

/* Text fields of a printer, in UTF-16 units with the terminator. */
#define SY_DRIVER_NAME_UNITS 258
#define SY_TEXT_UNITS 100
#define SY_FORM_NAME_UNITS 7
#define SY_ID_FIELD_UNITS 32

/* The u16 settings of a device mode, in this order: orientation, paper size,
 * paper length, paper width, scale, copies, default source, print quality,
 * color, duplex, y resolution, TrueType option, collate. The u32 settings:
 * bits per pel, pels width, pels height, display flags, display frequency,
 * ICM method, ICM intent, media type, dither type, two reserved words,
 * panning width, panning height. */
#define SY_DEVMODE_SHORTS 13
#define SY_DEVMODE_LONGS 13
/* The form-name field bit of `fields`. */
#define SY_DEVMODE_FORMNAME 0x00010000u

typedef struct SYDeviceMode {
    uint16_t specVersion;
    uint16_t driverVersion;
    uint16_t size;
    uint16_t driverExtraLength;
    uint8_t *driverExtra;
    uint32_t fields;
    uint16_t shorts[SY_DEVMODE_SHORTS];
    CMWchar *formName;
    uint16_t logPixels;
    uint32_t longs[SY_DEVMODE_LONGS];
} SYDeviceMode;

typedef struct SYPrinterInfo {
    uint32_t flags;
    CMWchar *portName;
    CMWchar *driverName;
    CMWchar *comment;
    CMWchar *location;
    SYDeviceMode deviceMode;
    CMWchar *separatorFile;
    CMWchar *printProcessor;
    CMWchar *dataType;
    CMWchar *parameters;
    uint32_t attributes;
    uint32_t priority;
    uint32_t defaultPriority;
    uint32_t startTime;
    uint32_t untilTime;
    uint32_t status; /* spooler state; the copies handed out add the device status */
    uint32_t jobsQueued;
    uint32_t jobsEnded;
    uint32_t bytesPrinted;
    uint32_t one; /* always 1 */
    uint32_t pagesPrinted;
    uint32_t reserved[4]; /* 0, 1, 0, 0 */
    uint32_t averagePagesPerMinute;
    uint32_t reserved2[2];
    uint8_t *securityDescriptor;
    uint32_t securityDescriptorLength;
    int32_t logVerbosity;
} SYPrinterInfo;

typedef struct SYPrintJobInfo {
    uint32_t jobId;
    CMWchar *documentName;
    CMWchar *statusText;
    uint32_t status;
    uint32_t zero;
    uint32_t position; /* in the printer's queue, 0 = first */
    uint32_t pagesPrinted;
    uint32_t totalPages;
    uint32_t reserved[4];
    uint32_t bytesPrinted;
    uint8_t *securityDescriptor;
    uint32_t securityDescriptorLength;
    struct CSUser *owner;
} SYPrintJobInfo;

typedef struct SYPrintForm {
    uint32_t index;
    const CMWchar *name;
    uint32_t flags;
    uint32_t width; /* thousandths of a millimetre */
    uint32_t height;
    uint32_t left, top, right, bottom;
} SYPrintForm;

VX_API int syInitPrinters(void);
/* The printer record serving devicePath, or SY_NO_PRINTER (all taken, or a
 * path longer than the record holds). */
VX_API uint32_t syGetPrinterHandle(const CMWchar *devicePath, const CMWchar *shareName, int16_t logVerbosity);
VX_API void syUpdatePrinterStatus(const CMWchar *devicePath, const CMWchar *shareName,
                                  const CMWchar *statusFilePath, int16_t logVerbosity);
/* Device writes never block: what a printer does not take yet waits with its
 * answer. This descriptor turns readable once such a printer takes data
 * again (-1 while none ever waited); the server loop waits on it beside its
 * sockets and then calls syResumeStalledPrinters. */
VX_API int syPrinterWakeDescriptor(void);
VX_API void syResumeStalledPrinters(void);
/* 1 when a job's held writes from the client on this socket (the carrying
 * request's socket slot) leave no room for another: the server loop reads
 * nothing more from it until the printer takes some, so a client that sends
 * ahead waits on its connection instead of being refused. */
VX_API int syPrintWritesBackedUp(const void *socket);

/* The job id, or SY_NO_JOB. outputPath and dataType are not used. */
VX_API uint32_t syStartPrintJob(uint32_t printer, const CMWchar *documentName, const CMWchar *outputPath,
                                uint32_t dataType, const uint8_t *securityDescriptor, uint32_t sdLength,
                                struct CSUser *owner);
/* The whole length once written; 0 with *lateContext set when the answer
 * waits for the printer (not ready, or not taking more yet; the caller saves
 * its request into that context and answers later); -1 for an unknown job, a
 * failed write, or a write that cannot be held (errno EBUSY). */
VX_API int32_t syWritePrintData(uint32_t printer, uint32_t job, const uint8_t *data, uint32_t length,
                                struct CSLateResponseContext **lateContext);
VX_API int syEndPrintJob(uint32_t printer, uint32_t job);
VX_API int syControlPrintJob(uint32_t printer, uint32_t job, uint32_t command);
VX_API int syControlPrinter(uint32_t printer, uint32_t command);
VX_API int syStartPrintPage(uint32_t printer, uint32_t job);
VX_API int syEndPrintPage(uint32_t printer, uint32_t job);
VX_API int syGetPrintJobById(uint32_t printer, uint32_t job, SYPrintJobInfo *record);
VX_API int32_t syGetPrintJobIndexById(uint32_t printer, uint32_t job);
VX_API uint32_t syGetPrintJobIdByIndex(uint32_t printer, uint32_t position);

VX_API int syGetPrinterInfo(uint32_t printer, SYPrinterInfo *record);
/* -1 for a bad index or a driver extra length beyond its field. */
VX_API int sySetPrinterInfo(uint32_t printer, const SYPrinterInfo *record);
/* The descriptor's length after copying it, or 0. */
VX_API uint32_t syPrinterGetSecurityDescriptor(uint32_t printer, uint8_t *buffer, uint32_t size);
/* -1 for a bad index or a descriptor longer than the printer's field. */
VX_API int syPrinterSetSecurityDescriptor(uint32_t printer, const uint8_t *descriptor, uint32_t length);
VX_API int syGetPrinterDriver(uint32_t printer, uint32_t level, uint8_t *buffer);
VX_API int syGetPrintForm(uint32_t printer, uint32_t index, SYPrintForm *record);

#endif
