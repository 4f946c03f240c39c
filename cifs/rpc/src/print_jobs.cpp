// Print jobs: starting them in a printer's queue, writing their data to the
// device or holding it (with the client's answer) while the printer is not
// ready, ending, controlling and looking them up.
#include "printer_device.h"
#include "spooler.h"

#include "cmstring.h"
#include "csdcerpc.h"
#include "zmo.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace sy::print {

namespace {

std::array<Job, SY_PRINT_JOBS> gJobs;
// Job ids are never reused, not even across server restarts.
uint32_t gNextJobId = 1;

void frameworkAnswer(CSLateResponseContext *context, uint32_t count)
{
    csDcerpcPrepareLateResponse(context, count);
    if (context->response && context->remaining >= 4) {
        uint8_t *p = context->response;
        p[0] = uint8_t(count);
        p[1] = uint8_t(count >> 8);
        p[2] = uint8_t(count >> 16);
        p[3] = uint8_t(count >> 24);
    }
    csDcerpcSendLateResponse(context, 0, 4);
}

LateAnswer gLateAnswer = nullptr;

struct InitialJobs {
    InitialJobs()
    {
        for (Job &j : gJobs)
            resetJob(j);
    }
} gInitialJobs;

HeldWrite &heldAt(Job &j, uint32_t i) { return j.held[(j.heldFirst + i) % SY_HOLD_QUEUE]; }

// The oldest held write gets its answer and leaves the queue.
void answerHeldWrite(Job &j, uint32_t count)
{
    HeldWrite &h = heldAt(j, 0);
    CSLateResponseContext context = h.context;
    j.heldBytes -= h.length;
    h.data.reset();
    h.length = h.sent = h.before = 0;
    h.cut = false;
    j.heldFirst = (j.heldFirst + 1) % SY_HOLD_QUEUE;
    --j.heldCount;
    (gLateAnswer ? gLateAnswer : frameworkAnswer)(&context, count);
}

enum class Written { All, Stalled, Failed };

// Writes until done, failed, or the device would block; *done counts what it took.
Written writeToPrinter(Printer &p, const uint8_t *data, uint32_t length, uint32_t *done)
{
    *done = 0;
    while (*done < length) {
        printerLog(1, &p, "writing %zu bytes to printer...", size_t(length - *done));
        ssize_t n = printerDevice().write(p.fd, data + *done, length - *done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            printerLog(1, &p, "printer busy, %zu bytes wait.", size_t(length - *done));
            return Written::Stalled;
        }
        if (n < 0) {
            printerLog(1, &p, "failed to write: %s.", zmo_sys_strerror(errno));
            return Written::Failed;
        }
        if (n == 0)
            return Written::Failed;
        printerLog(1, &p, "%zi bytes wrote.", n);
        *done += uint32_t(n);
    }
    return Written::All;
}

void countPrinted(Printer &p, Job &j, uint32_t length)
{
    p.info.bytesPrinted += length;
    j.record.bytesPrinted += length;
}

// Holds a write with its answer; -1 (EBUSY) when the queue is full or an
// earlier held write was cut short: what follows it must not reach the
// printer before the client sends the rest of that one. before: bytes of the
// client's write already on the device, counted in its answer.
int32_t holdWrite(Printer &p, Job &j, const uint8_t *data, uint32_t length,
                  CSLateResponseContext **lateContext, uint32_t before = 0)
{
    uint32_t keep = length < SY_HOLD_BYTES ? length : SY_HOLD_BYTES;
    if (!lateContext || j.heldCount == SY_HOLD_QUEUE || keep > SY_HOLD_JOB_BYTES - j.heldBytes ||
        (j.heldCount && heldAt(j, j.heldCount - 1).cut)) {
        printerLog(1, &p, "job %lu holds all it can.", (unsigned long)j.record.jobId);
        errno = EBUSY;
        return -1;
    }
    HeldWrite &h = heldAt(j, j.heldCount);
    h.data.reset(new (std::nothrow) uint8_t[keep ? keep : 1]);
    if (!h.data) {
        errno = ENOMEM;
        return -1;
    }
    printerLog(1, &p, "delaying response...");
    if (keep)
        std::memcpy(h.data.get(), data, keep);
    h.length = keep;
    h.sent = 0;
    h.before = before;
    h.cut = keep < length;
    h.context = CSLateResponseContext{};
    ++j.heldCount;
    j.heldBytes += keep;
    *lateContext = &h.context;
    return 0;
}

}  // namespace

std::array<Job, SY_PRINT_JOBS> &jobs() { return gJobs; }

void setLateAnswer(LateAnswer answer) { gLateAnswer = answer; }

void resetJob(Job &j)
{
    j.inUse = 0;
    j.printer = 0;
    std::memset(&j.record, 0, sizeof j.record);
    j.documentName[0] = 0;
    j.statusText[0] = 0;
    j.record.documentName = j.documentName;
    j.record.statusText = j.statusText;
    j.record.securityDescriptor = j.sd;
    for (HeldWrite &h : j.held) {
        h.data.reset();
        h.length = 0;
        h.cut = false;
    }
    j.heldFirst = j.heldCount = j.heldBytes = 0;
}

Job *findPrintJob(uint32_t id)
{
    for (Job &j : gJobs)
        if (j.inUse && j.record.jobId == id)
            return &j;
    return nullptr;
}

Job *activeJob(Printer &p) { return p.activeJob == kNone ? nullptr : findPrintJob(p.activeJob); }

static Printer &printerOf(const Job &j) { return printers()[j.printer]; }

bool startJobOnDevice(Job &j, Printer &p)
{
    if (p.fd < 0) {
        p.fd = printerDevice().open(p.devicePath);
        if (p.fd < 0) {
            printerLog(1, &p, "unable to open a printer device: %s.", zmo_sys_strerror(errno));
            return false;
        }
    }
    if (!getDeviceStatusByFD(p)) {
        printerLog(1, &p, "unable to get a printer device status.");
        closePrinterDevice(p);
        return false;
    }
    p.info.status |= SY_PRINTER_PRINTING;
    p.activeJob = j.record.jobId;
    j.record.status = (j.record.status & ~SY_JOB_BLOCKED) | SY_JOB_PRINTING;
    cmAnsiToUnicode(j.statusText, "Printing");
    resumeHeldData(p, &j);
    return true;
}

void resumeHeldData(Printer &p, Job *j)
{
    if (!j || p.activeJob != j->record.jobId || j->heldCount == 0)
        return;
    printerLog(1, &p, "resuming job %ld...", long(j->record.jobId));
    if (!printerReady(p, *j)) {
        printerLog(1, &p, "printer not ready.");
        return;
    }
    unstallPrinter(p);
    bool failed = false;
    while (j->heldCount) {
        HeldWrite &h = heldAt(*j, 0);
        // After a failed write the rest would reach the printer out of order.
        Written w = Written::Failed;
        if (!failed) {
            uint32_t done = 0;
            w = writeToPrinter(p, h.data.get() + h.sent, h.length - h.sent, &done);
            h.sent += done;
        }
        if (w == Written::Stalled) {
            stallPrinter(p);
            return;
        }
        failed = w == Written::Failed;
        uint32_t count = h.before + h.length;
        if (!failed)
            countPrinted(p, *j, count);
        answerHeldWrite(*j, failed ? 0xFFFFFFFFu : count);
        // An answer may have ended the job (the client's close came with it).
        if (!j->inUse || p.activeJob != j->record.jobId)
            return;
    }
}

void stallPrinter(Printer &p)
{
    p.stalled = true;
    printerDevice().watchWritable(p.fd, true);
}

// Watched again only if the device stalls again: a writable device left
// watched would wake the loop at once, over and over.
void unstallPrinter(Printer &p)
{
    if (p.stalled && p.fd >= 0)
        printerDevice().watchWritable(p.fd, false);
    p.stalled = false;
}

bool endPrintJob(uint32_t id)
{
    Job *j = findPrintJob(id);
    if (!j)
        return false;
    Printer &p = printerOf(*j);
    printerLog(1, &p, "ending job %ld...", long(id));
    if (p.info.jobsQueued)
        --p.info.jobsQueued;
    while (j->heldCount)
        answerHeldWrite(*j, 0);
    j->inUse = 0;
    uint32_t position = j->record.position;
    Job *next = nullptr;
    for (Job &o : gJobs)
        if (o.inUse && o.printer == j->printer && o.record.position > position) {
            if (--o.record.position == position)
                next = &o;
        }
    if (p.activeJob != id)
        return true;
    p.info.status &= ~SY_PRINTER_PRINTING;
    ++p.info.jobsEnded;
    if (p.fd >= 0) {
        closePrinterDevice(p);
        printerLog(1, &p, "closed.");
    }
    p.activeJob = kNone;
    if (!next) {
        printerLog(1, &p, "no more jobs.");
        return true;
    }
    printerLog(1, &p, "starting next job %ld, total jobs: %ld.", long(next->record.jobId),
               long(p.info.jobsQueued));
    // A next job that cannot start stays first in the queue; the status
    // update tries it again.
    startJobOnDevice(*next, p);
    return true;
}

void startQueuedJob(Printer &p)
{
    if (p.activeJob != kNone)
        return;
    uint32_t index = uint32_t(&p - printers().data());
    for (Job &j : gJobs)
        if (j.inUse && j.printer == index && j.record.position == 0) {
            printerLog(1, &p, "starting queued job %ld now.", long(j.record.jobId));
            startJobOnDevice(j, p);
            return;
        }
}

}  // namespace sy::print

using namespace sy::print;

extern "C" {

uint32_t syStartPrintJob(uint32_t printer, const CMWchar *documentName, const CMWchar *, uint32_t,
                         const uint8_t *securityDescriptor, uint32_t sdLength, struct CSUser *owner)
{
    Job *j = nullptr;
    for (Job &free : gJobs)
        if (!free.inUse) {
            j = &free;
            break;
        }
    if (!j)
        return SY_NO_JOB;
    resetJob(*j);
    j->record.jobId = gNextJobId++;
    if (printer >= SY_PRINTERS) {
        printerLog(1, nullptr, "printer not found.");
        return SY_NO_JOB;
    }
    Printer &p = printers()[printer];
    j->record.position = p.info.jobsQueued;
    j->inUse = 1;
    j->printer = printer;
    ++p.info.jobsQueued;
    j->record.owner = owner;
    if (documentName)
        cmWStrncpy(j->documentName, documentName, kDocumentUnits - 1);
    j->documentName[kDocumentUnits - 1] = 0;
    uint32_t sdBytes = securityDescriptor ? std::min<uint32_t>(sdLength, SY_PRINTER_SD_BYTES) : 0;
    if (sdBytes)
        std::memcpy(j->sd, securityDescriptor, sdBytes);
    j->record.securityDescriptorLength = sdBytes;
    j->record.status |= SY_JOB_BLOCKED;
    cmAnsiToUnicode(j->statusText, "Blocked");
    uint32_t id = j->record.jobId;
    if (p.activeJob != kNone) {
        printerLog(1, &p, "job %ld queued at position %ld.", long(id), long(j->record.position));
        return id;
    }
    printerLog(1, &p, "starting new job %ld now.", long(id));
    if (startJobOnDevice(*j, p))
        return id;
    // A job that cannot start would keep its record and its place for good.
    endPrintJob(id);
    return SY_NO_JOB;
}

int32_t syWritePrintData(uint32_t, uint32_t job, const uint8_t *data, uint32_t length,
                         struct CSLateResponseContext **lateContext)
{
    if (lateContext)
        *lateContext = nullptr;
    Job *j = findPrintJob(job);
    if (!j || (length && !data) || length > 0x7FFFFFFFu)
        return -1;
    Printer &p = printerOf(*j);
    if (p.activeJob != job) {
        printerLog(1, &p, "selected job %lu is not active.", (unsigned long)job);
        return holdWrite(p, *j, data, length, lateContext);
    }
    // The device may have been closed under the job (a failed information read).
    if (p.fd < 0)
        p.fd = printerDevice().open(p.devicePath);
    if (!getDeviceStatusByFD(p))
        return -1;
    printerLog(1, &p, "printing: printer status 0x%08x, job status 0x%lx...", p.deviceStatus,
               (unsigned long)j->record.status);
    // Held writes go first: the device sees the data in the order it came.
    if (printerReady(p, *j) && j->heldCount == 0) {
        uint32_t done = 0;
        switch (writeToPrinter(p, data, length, &done)) {
        case Written::All:
            countPrinted(p, *j, length);
            return int32_t(length);
        case Written::Failed:
            return -1;
        case Written::Stalled:
            break;
        }
        // The rest waits with the answer; the device is watched meanwhile.
        int32_t held = holdWrite(p, *j, data + done, length - done, lateContext, done);
        if (held < 0 && done)
            held = int32_t(done);  // a short count: the client sends the rest again
        if (lateContext && *lateContext)
            stallPrinter(p);
        return held;
    }
    printerLog(1, &p, "invalid status.");
    return holdWrite(p, *j, data, length, lateContext);
}

int syPrinterWakeDescriptor(void) { return printerDevice().wakeDescriptor(); }

int syPrintWritesBackedUp(const void *socket)
{
    for (Job &j : gJobs) {
        if (!j.inUse || (j.heldCount < SY_HOLD_QUEUE && SY_HOLD_JOB_BYTES - j.heldBytes >= SY_HOLD_BYTES))
            continue;
        for (uint32_t i = 0; i < j.heldCount; ++i)
            if (heldAt(j, i).context.socket == socket)
                return 1;
    }
    return 0;
}

void syResumeStalledPrinters(void)
{
    for (Printer &p : printers()) {
        if (!p.stalled)
            continue;
        unstallPrinter(p);
        resumeHeldData(p, activeJob(p));
    }
}

int syEndPrintJob(uint32_t, uint32_t job) { return endPrintJob(job) ? 0 : -1; }

int syControlPrintJob(uint32_t, uint32_t job, uint32_t command)
{
    Job *j = findPrintJob(job);
    if (!j)
        return -1;
    Printer &p = printerOf(*j);
    switch (command) {
    case SY_JOB_PAUSE:
        printerLog(1, &p, "job %lu paused.", (unsigned long)job);
        j->record.status |= SY_JOB_PAUSED;
        return 0;
    case SY_JOB_RESUME:
        printerLog(1, &p, "job %lu resumed.", (unsigned long)job);
        j->record.status &= ~SY_JOB_PAUSED;
        resumeHeldData(p, j);
        return 0;
    case SY_JOB_CANCEL:
    case SY_JOB_DELETE:
        printerLog(1, &p, "job %lu %s.", (unsigned long)job,
                   command == SY_JOB_CANCEL ? "canceled" : "deleted");
        return endPrintJob(job) ? 0 : -1;
    case SY_JOB_RESTART:
        printerLog(1, &p, "job %lu was not restarted, the function is not supported.", (unsigned long)job);
        return -1;
    default:
        printerLog(1, &p, "unknown job command (%lu).", (unsigned long)command);
        return -1;
    }
}

int syControlPrinter(uint32_t printer, uint32_t command)
{
    if (printer >= SY_PRINTERS)
        return -1;
    Printer &p = printers()[printer];
    switch (command) {
    case SY_PRINTER_PAUSE:
        printerLog(1, &p, "printing paused.");
        p.info.status |= SY_PRINTER_PAUSED;
        return 0;
    case SY_PRINTER_RESUME:
        printerLog(1, &p, "printing resumed.");
        p.info.status &= ~SY_PRINTER_PAUSED;
        resumeHeldData(p, activeJob(p));
        return 0;
    case SY_PRINTER_PURGE: {
        printerLog(1, &p, "purging a job queue...");
        // Each round ends one job; the table holds at most four.
        for (uint32_t round = 0; round <= SY_PRINT_JOBS; ++round) {
            Job *j = activeJob(p);
            if (!j)
                for (Job &o : gJobs)
                    if (o.inUse && o.printer == printer) {
                        j = &o;
                        break;
                    }
            if (!j)
                break;
            endPrintJob(j->record.jobId);
        }
        return 0;
    }
    default:
        printerLog(1, &p, "unknown printer command (%ld).", long(command));
        return -1;
    }
}

int syStartPrintPage(uint32_t, uint32_t job) { return findPrintJob(job) ? 0 : -1; }

int syEndPrintPage(uint32_t, uint32_t job)
{
    Job *j = findPrintJob(job);
    if (!j || printerOf(*j).activeJob != job) {
        printerLog(1, j ? &printerOf(*j) : nullptr, "job %d not found.", int(job));
        return -1;
    }
    ++j->record.pagesPrinted;
    ++printerOf(*j).info.pagesPrinted;
    return 0;
}

int syGetPrintJobById(uint32_t, uint32_t job, SYPrintJobInfo *record)
{
    Job *j = findPrintJob(job);
    if (!j || !record)
        return -1;
    *record = j->record;
    return 0;
}

int32_t syGetPrintJobIndexById(uint32_t, uint32_t job)
{
    Job *j = findPrintJob(job);
    return j ? int32_t(j->record.position) : -1;
}

uint32_t syGetPrintJobIdByIndex(uint32_t printer, uint32_t position)
{
    for (Job &j : gJobs)
        if (j.inUse && j.printer == printer && j.record.position == position)
            return j.record.jobId;
    return SY_NO_JOB;
}

}  // extern "C"
