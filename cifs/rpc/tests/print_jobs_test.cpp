// Print jobs: the queue, writes to the device, writes held with their answers
// while the printer is not ready, ending, control and lookups.
#include "spooler_fixture.h"

#include <cstring>

using namespace spooler_test;

namespace {

class PrintJobs : public SpoolerTest {
protected:
    FakeDevice *lp = nullptr;
    void SetUp() override
    {
        SpoolerTest::SetUp();
        lp = &fake.add("/dev/usb/lp0");
        ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    }
    // The printer stops being ready (paper out) and the cache runs out.
    void notReady()
    {
        lp->portStatus = 0x38;
        gNow += 1000;
    }
    void ready()
    {
        lp->portStatus = 0x18;
        gNow += 1000;
    }
    void update() { syUpdatePrinterStatus(W("/dev/usb/lp0").data(), W("Laser").data(), nullptr, 3); }
};

TEST_F(PrintJobs, TheFirstJobPrintsAndTheNextWaitsBlocked)
{
    uint32_t first = start(0, "one"), second = start(0, "two");
    ASSERT_NE(first, SY_NO_JOB);
    ASSERT_NE(second, SY_NO_JOB);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(job(first).status, SY_JOB_PRINTING);
    EXPECT_EQ(A(job(first).statusText), "Printing");
    EXPECT_EQ(A(job(first).documentName), "one");
    EXPECT_EQ(job(second).status, SY_JOB_BLOCKED);
    EXPECT_EQ(A(job(second).statusText), "Blocked");
    EXPECT_EQ(job(second).position, 1u);
    EXPECT_EQ(record(0).activeJob, first);
    EXPECT_EQ(record(0).info.status, SY_PRINTER_PRINTING);
    EXPECT_EQ(record(0).info.jobsQueued, 2u);
    EXPECT_TRUE(log.contains("job " + std::to_string(second) + " queued at position 1."));

    EXPECT_EQ(syEndPrintJob(0, first), 0);
    EXPECT_TRUE(log.contains("starting next job " + std::to_string(second) + ", total jobs: 1."));
    EXPECT_EQ(job(second).status, SY_JOB_PRINTING);
    EXPECT_EQ(job(second).position, 0u);
    EXPECT_EQ(record(0).activeJob, second);
    EXPECT_EQ(record(0).info.jobsEnded, 1u);
    EXPECT_EQ(syEndPrintJob(0, first), -1) << "ended already";
    EXPECT_EQ(syEndPrintJob(0, second), 0);
    EXPECT_TRUE(log.contains("no more jobs."));
    EXPECT_EQ(record(0).activeJob, SY_NO_JOB);
    EXPECT_EQ(record(0).info.status, 0u);
    EXPECT_EQ(record(0).fd, -1);
    EXPECT_EQ(fake.opens, fake.closes);
}

TEST_F(PrintJobs, FourJobsAtMostAndIdsNeverComeBack)
{
    uint32_t ids[4];
    for (uint32_t &id : ids)
        ASSERT_NE(id = start(0), SY_NO_JOB);
    EXPECT_EQ(start(0), SY_NO_JOB);
    EXPECT_EQ(start(5), SY_NO_JOB);
    ASSERT_EQ(syEndPrintJob(0, ids[3]), 0);
    EXPECT_EQ(start(7), SY_NO_JOB) << "a printer index past the table";
    EXPECT_TRUE(log.contains("-: printer not found."));
    syInitPrinters();
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u);
    EXPECT_GT(start(0), ids[3] + 1) << "not even after a set-up";
}

TEST_F(PrintJobs, DocumentNameAndDescriptorAreCut)
{
    std::vector<uint8_t> sd(400, 7);
    uint32_t id = syStartPrintJob(0, W(std::string(300, 'n')).data(), nullptr, 0, sd.data(), 400, nullptr);
    ASSERT_NE(id, SY_NO_JOB);
    EXPECT_EQ(A(job(id).documentName), std::string(255, 'n'));
    EXPECT_EQ(job(id).securityDescriptorLength, 320u);
    uint32_t none = syStartPrintJob(0, nullptr, nullptr, 0, nullptr, 100, nullptr);
    EXPECT_EQ(A(job(none).documentName), "");
    EXPECT_EQ(job(none).securityDescriptorLength, 0u);
}

TEST_F(PrintJobs, AJobThatCannotStartLeavesTheQueue)
{
    lp->openFails = true;
    for (int attempt = 0; attempt < 5; ++attempt)
        EXPECT_EQ(start(0), SY_NO_JOB) << attempt;
    EXPECT_EQ(record(0).info.jobsQueued, 0u);
    EXPECT_TRUE(log.contains("unable to open a printer device"));
    lp->openFails = false;
    lp->statusFails = true;
    gNow += 1000;
    EXPECT_EQ(start(0), SY_NO_JOB);
    EXPECT_TRUE(log.contains("unable to get a printer device status."));
    EXPECT_EQ(record(0).fd, -1);
    lp->statusFails = false;
    uint32_t id = start(0);
    ASSERT_NE(id, SY_NO_JOB) << "printing goes on after four failures";
    EXPECT_EQ(job(id).position, 0u);
}

TEST_F(PrintJobs, WritesToAReadyPrinterGoStraightToTheDevice)
{
    struct Case {
        const char *what;
        std::deque<WriteStep> steps;
        int32_t result;
        std::string printed;
    } cases[] = {
        {"whole", {}, 6, "abcdef"},
        {"in parts", {{WriteStep::Short, 2}, {WriteStep::Short, 1}}, 6, "abcdef"},
        {"interrupted", {{WriteStep::Eintr}, {WriteStep::Eintr}}, 6, "abcdef"},
        {"I/O error", {{WriteStep::Short, 2}, {WriteStep::Eio}}, -1, "ab"},
        {"nothing taken", {{WriteStep::Zero}}, -1, ""},
    };
    for (const Case &c : cases) {
        uint32_t id = start(0);
        ASSERT_NE(id, SY_NO_JOB) << c.what;
        lp->printed.clear();
        lp->writes = c.steps;
        CSLateResponseContext *late = reinterpret_cast<CSLateResponseContext *>(1);
        EXPECT_EQ(write(0, id, "abcdef", &late), c.result) << c.what;
        EXPECT_EQ(late, nullptr) << c.what;
        EXPECT_EQ(lp->printed, c.printed) << c.what;
        EXPECT_EQ(job(id).bytesPrinted, c.result > 0 ? 6u : 0u) << c.what;
        ASSERT_EQ(syEndPrintJob(0, id), 0);
    }
    EXPECT_EQ(record(0).info.bytesPrinted, 18u);
    CSLateResponseContext *late;
    EXPECT_EQ(write(0, 999, "x", &late), -1) << "no such job";
}

// A device that would block never blocks the caller: what it did not take
// waits with its answer, the device watched, and goes on once it takes more
// (woken by the device, or at the status update), in order and byte-exact.
TEST_F(PrintJobs, WhatAStalledPrinterDoesNotTakeWaitsWithItsAnswer)
{
    struct Case {
        const char *what;
        std::deque<WriteStep> first;    // the device's steps for the first write
        std::string printedStalled;     // on the device while it stalls
        std::deque<WriteStep> resumed;  // its steps once woken
        bool byUpdate;                  // the status update lets it go, not the wake
        std::vector<uint32_t> answers;  // for "abcdef" then "gh"
        std::string printed;
    } cases[] = {
        {"stalled at once", {{WriteStep::Block}}, "", {}, false, {6, 2}, "abcdefgh"},
        {"stalled part-way", {{WriteStep::Short, 2}, {WriteStep::Block}}, "ab", {}, false, {6, 2}, "abcdefgh"},
        {"stalls again once woken",
         {{WriteStep::Block}},
         "",
         {{WriteStep::Short, 3}, {WriteStep::Block}},
         false,
         {},
         "abc"},
        {"the status update goes on too", {{WriteStep::Short, 1}, {WriteStep::Block}}, "a", {}, true, {6, 2},
         "abcdefgh"},
        {"fails once woken",
         {{WriteStep::Short, 4}, {WriteStep::Block}},
         "abcd",
         {{WriteStep::Eio}},
         false,
         {0xFFFFFFFFu, 0xFFFFFFFFu},
         "abcd"},
    };
    for (const Case &c : cases) {
        gAnswers.clear();
        uint32_t id = start(0);
        ASSERT_NE(id, SY_NO_JOB) << c.what;
        const int fd = record(0).fd;
        lp->printed.clear();
        lp->writes = c.first;
        CSLateResponseContext *late = nullptr, *second = nullptr;
        ASSERT_EQ(write(0, id, "abcdef", &late), 0) << c.what;
        ASSERT_NE(late, nullptr) << c.what;
        EXPECT_EQ(lp->printed, c.printedStalled) << c.what;
        EXPECT_EQ(fake.watched.count(fd), 1u) << c.what << ": watched while it stalls";
        EXPECT_GE(syPrinterWakeDescriptor(), 0) << c.what;
        ASSERT_EQ(write(0, id, "gh", &second), 0) << c.what << ": behind the waiting data";
        ASSERT_NE(second, nullptr) << c.what;
        EXPECT_EQ(lp->printed, c.printedStalled) << c.what;
        EXPECT_TRUE(gAnswers.empty()) << c.what;
        lp->writes = c.resumed;
        if (c.byUpdate) {
            gNow += 1000;
            update();
        } else {
            syResumeStalledPrinters();
        }
        std::vector<uint32_t> answers;
        for (const Answer &a : gAnswers)
            answers.push_back(a.count);
        EXPECT_EQ(answers, c.answers) << c.what;
        EXPECT_EQ(lp->printed, c.printed) << c.what;
        bool done = c.answers.size() == 2;
        EXPECT_EQ(fake.watched.count(fd), done ? 0u : 1u) << c.what << ": watched only while it stalls";
        EXPECT_EQ(job(id).bytesPrinted, done && c.answers[0] == 6 ? 8u : 0u) << c.what;
        ASSERT_EQ(syEndPrintJob(0, id), 0) << c.what;
        EXPECT_EQ(gAnswers.size(), 2u) << c.what << ": the end answers what still waits";
        EXPECT_EQ(fake.watched.count(fd), 0u) << c.what;
    }
}

TEST_F(PrintJobs, AStalledWriteThatCannotBeHeldAnswersWhatTheDeviceTook)
{
    uint32_t id = start(0);
    lp->writes = {{WriteStep::Short, 2}, {WriteStep::Block}};
    EXPECT_EQ(syWritePrintData(0, id, reinterpret_cast<const uint8_t *>("abcdef"), 6, nullptr), 2)
        << "no context to answer later: the short count, the client sends the rest";
    EXPECT_EQ(lp->printed, "ab");
    EXPECT_TRUE(fake.watched.empty());
}

TEST_F(PrintJobs, ALargeWriteToAPrinterNotReadyIsAnsweredLaterWithWhatWasKept)
{
    uint32_t id = start(0);
    notReady();
    std::string data(200 * 1024, 0);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    CSLateResponseContext *late = nullptr;
    ASSERT_EQ(write(0, id, data, &late), 0);
    ASSERT_NE(late, nullptr);
    EXPECT_TRUE(log.contains("invalid status."));
    EXPECT_TRUE(log.contains("delaying response..."));
    update();
    EXPECT_TRUE(gAnswers.empty()) << "still not ready";
    EXPECT_TRUE(log.contains("printer not ready."));
    ready();
    update();
    ASSERT_EQ(gAnswers.size(), 1u);
    EXPECT_EQ(gAnswers[0].count, 131072u);
    EXPECT_EQ(lp->printed, data.substr(0, 131072));
    // The client sends the rest; the printer is ready now.
    ASSERT_EQ(write(0, id, data.substr(131072), &late), int32_t(data.size() - 131072));
    EXPECT_EQ(lp->printed, data);
}

TEST_F(PrintJobs, HeldWritesAreAnsweredInOrderAndNeverOverwritten)
{
    uint32_t id = start(0);
    notReady();
    std::vector<CSLateResponseContext *> contexts;
    std::string expected;
    for (uint32_t i = 0; i < SY_HOLD_QUEUE; ++i) {
        CSLateResponseContext *late = nullptr;
        std::string chunk(1000 + i, char('a' + i));
        ASSERT_EQ(write(0, id, chunk, &late), 0) << i;
        // The carrying command saves its request into the context it got.
        late->mid = uint16_t(i);
        contexts.push_back(late);
        expected += chunk;
    }
    CSLateResponseContext *late = nullptr;
    errno = 0;
    EXPECT_EQ(write(0, id, "overflow", &late), -1) << "beyond the queue: refused";
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(late, nullptr);
    ready();
    update();
    ASSERT_EQ(gAnswers.size(), size_t(SY_HOLD_QUEUE));
    for (uint32_t i = 0; i < SY_HOLD_QUEUE; ++i) {
        EXPECT_EQ(gAnswers[i].count, 1000u + i);
        EXPECT_EQ(gAnswers[i].context.mid, i) << "each answer in its own saved context";
    }
    EXPECT_EQ(lp->printed, expected);
}

TEST_F(PrintJobs, AJobHoldsAMebibyteAtMost)
{
    uint32_t id = start(0);
    notReady();
    CSLateResponseContext *late;
    for (uint32_t i = 0; i < SY_HOLD_JOB_BYTES / SY_HOLD_BYTES; ++i)
        ASSERT_EQ(write(0, id, std::string(SY_HOLD_BYTES, char('a' + i)), &late), 0) << i;
    EXPECT_EQ(write(0, id, "x", &late), -1);
    EXPECT_EQ(errno, EBUSY);
    ready();
    update();
    ASSERT_EQ(gAnswers.size(), SY_HOLD_JOB_BYTES / SY_HOLD_BYTES);
    EXPECT_EQ(lp->printed.size(), size_t(SY_HOLD_JOB_BYTES));
    ASSERT_EQ(write(0, id, "x", &late), 1) << "room again once answered";
}

// The server stops reading a client whose held writes leave no room for
// another (by count or by bytes), and only that client, until they drain.
TEST_F(PrintJobs, AClientWhoseWritesFillTheQueueIsNotReadUntilItDrains)
{
    struct Case {
        const char *what;
        uint32_t writes;
        uint32_t bytes;
    } cases[] = {
        {"by count", SY_HOLD_QUEUE, 100},
        {"by bytes", SY_HOLD_JOB_BYTES / SY_HOLD_BYTES, SY_HOLD_BYTES},
    };
    int ours = 0, other = 0;
    for (const Case &c : cases) {
        gAnswers.clear();
        uint32_t id = start(0);
        ASSERT_NE(id, SY_NO_JOB) << c.what;
        notReady();
        for (uint32_t i = 0; i < c.writes; ++i) {
            EXPECT_EQ(syPrintWritesBackedUp(&ours), 0) << c.what << ": room for write " << i;
            CSLateResponseContext *late = nullptr;
            ASSERT_EQ(write(0, id, std::string(c.bytes, 'x'), &late), 0) << c.what << " " << i;
            // The carrying command saves its request's socket slot.
            late->socket = &ours;
        }
        EXPECT_EQ(syPrintWritesBackedUp(&ours), 1) << c.what << ": full";
        EXPECT_EQ(syPrintWritesBackedUp(&other), 0) << c.what << ": another client is read";
        ready();
        update();
        EXPECT_EQ(gAnswers.size(), c.writes) << c.what;
        EXPECT_EQ(syPrintWritesBackedUp(&ours), 0) << c.what << ": drained";
        ASSERT_EQ(syEndPrintJob(0, id), 0) << c.what;
    }
}

TEST_F(PrintJobs, NothingIsHeldBehindAWriteThatWasCutShort)
{
    uint32_t id = start(0);
    notReady();
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, id, std::string(SY_HOLD_BYTES + 1, 'x'), &late), 0);
    EXPECT_EQ(write(0, id, "after", &late), -1);
    ready();
    update();
    ASSERT_EQ(gAnswers.size(), 1u);
    EXPECT_EQ(gAnswers[0].count, SY_HOLD_BYTES);
    EXPECT_EQ(lp->printed, std::string(SY_HOLD_BYTES, 'x'));
}

TEST_F(PrintJobs, AWriteWhileOthersAreHeldWaitsBehindThem)
{
    uint32_t id = start(0);
    notReady();
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, id, "first ", &late), 0);
    ready();
    ASSERT_EQ(write(0, id, "second", &late), 0) << "ready again, but the first is still held";
    update();
    ASSERT_EQ(gAnswers.size(), 2u);
    EXPECT_EQ(lp->printed, "first second");
}

TEST_F(PrintJobs, AFailedHeldWriteFailsTheRestToo)
{
    uint32_t id = start(0);
    notReady();
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, id, "one", &late), 0);
    ASSERT_EQ(write(0, id, "two", &late), 0);
    ready();
    lp->writes = {{WriteStep::Eio}};
    update();
    ASSERT_EQ(gAnswers.size(), 2u);
    EXPECT_EQ(gAnswers[0].count, 0xFFFFFFFFu);
    EXPECT_EQ(gAnswers[1].count, 0xFFFFFFFFu);
    EXPECT_EQ(lp->printed, "");
}

TEST_F(PrintJobs, AQueuedJobsWritesWaitForItsTurn)
{
    uint32_t first = start(0), second = start(0);
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, second, "later", &late), 0);
    EXPECT_TRUE(log.contains("selected job " + std::to_string(second) + " is not active."));
    ASSERT_EQ(write(0, first, "now ", &late), 4);
    ASSERT_EQ(syEndPrintJob(0, first), 0);
    ASSERT_EQ(gAnswers.size(), 1u) << "the next job's start lets its data go";
    EXPECT_EQ(gAnswers[0].count, 5u);
    EXPECT_EQ(lp->printed, "now later");
}

TEST_F(PrintJobs, EndingAJobAnswersWhatItHeldWithZero)
{
    uint32_t id = start(0);
    notReady();
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, id, "held", &late), 0);
    ASSERT_EQ(syEndPrintJob(0, id), 0);
    ASSERT_EQ(gAnswers.size(), 1u);
    EXPECT_EQ(gAnswers[0].count, 0u);
    EXPECT_EQ(lp->printed, "");
}

TEST_F(PrintJobs, PausingThePrinterHoldsWritesUntilItResumes)
{
    uint32_t id = start(0);
    ASSERT_EQ(syControlPrinter(0, SY_PRINTER_PAUSE), 0);
    EXPECT_TRUE(log.contains("printing paused."));
    SYPrinterInfo info;
    ASSERT_EQ(syGetPrinterInfo(0, &info), 0);
    EXPECT_EQ(info.status & SY_PRINTER_PAUSED, SY_PRINTER_PAUSED);
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, id, "paused", &late), 0);
    update();
    EXPECT_TRUE(gAnswers.empty());
    ASSERT_EQ(syControlPrinter(0, SY_PRINTER_RESUME), 0);
    EXPECT_TRUE(log.contains("printing resumed."));
    ASSERT_EQ(gAnswers.size(), 1u);
    EXPECT_EQ(lp->printed, "paused");
    EXPECT_EQ(syControlPrinter(0, 9), -1);
    EXPECT_TRUE(log.contains("unknown printer command (9)."));
    EXPECT_EQ(syControlPrinter(4, SY_PRINTER_PAUSE), -1);
}

TEST_F(PrintJobs, PurgingEndsEveryJobOfThePrinter)
{
    fake.add("/dev/usb/lp1");
    ASSERT_EQ(printer("/dev/usb/lp1", "Other"), 1u);
    uint32_t a = start(0), b = start(0), c = start(0), other = start(1);
    notReady();
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, a, "x", &late), 0);
    ASSERT_EQ(write(0, c, "y", &late), 0);
    ASSERT_EQ(syControlPrinter(0, SY_PRINTER_PURGE), 0);
    EXPECT_TRUE(log.contains("purging a job queue..."));
    for (uint32_t id : {a, b, c})
        EXPECT_EQ(syGetPrintJobIndexById(0, id), -1) << id;
    EXPECT_EQ(record(0).activeJob, SY_NO_JOB);
    EXPECT_EQ(record(0).info.jobsQueued, 0u);
    EXPECT_EQ(gAnswers.size(), 2u);
    EXPECT_EQ(syGetPrintJobIndexById(1, other), 0) << "another printer's job stays";
}

TEST_F(PrintJobs, JobCommands)
{
    uint32_t id = start(0), next = start(0);
    EXPECT_EQ(syControlPrintJob(0, id, SY_JOB_PAUSE), 0);
    EXPECT_EQ(job(id).status, SY_JOB_PRINTING | SY_JOB_PAUSED);
    CSLateResponseContext *late;
    ASSERT_EQ(write(0, id, "wait", &late), 0) << "a paused job holds";
    EXPECT_EQ(syControlPrintJob(0, id, SY_JOB_RESUME), 0);
    EXPECT_EQ(job(id).status, SY_JOB_PRINTING);
    EXPECT_EQ(gAnswers.size(), 1u) << "resuming lets the data go";
    EXPECT_EQ(syControlPrintJob(0, id, SY_JOB_RESTART), -1);
    EXPECT_TRUE(log.contains("the function is not supported."));
    EXPECT_EQ(syControlPrintJob(0, id, 42), -1);
    EXPECT_TRUE(log.contains("unknown job command (42)."));
    EXPECT_EQ(syControlPrintJob(0, next, SY_JOB_DELETE), 0);
    EXPECT_TRUE(log.contains("job " + std::to_string(next) + " deleted."));
    EXPECT_EQ(syControlPrintJob(0, id, SY_JOB_CANCEL), 0);
    EXPECT_TRUE(log.contains("job " + std::to_string(id) + " canceled."));
    EXPECT_EQ(syControlPrintJob(0, id, SY_JOB_PAUSE), -1) << "gone";
}

TEST_F(PrintJobs, PagesAndLookups)
{
    uint32_t id = start(0), next = start(0);
    EXPECT_EQ(syStartPrintPage(0, next), 0);
    EXPECT_EQ(syEndPrintPage(0, next), -1) << "not the active job";
    EXPECT_EQ(syEndPrintPage(0, id), 0);
    EXPECT_EQ(job(id).pagesPrinted, 1u);
    EXPECT_EQ(record(0).info.pagesPrinted, 1u);
    EXPECT_EQ(syStartPrintPage(0, 999), -1);
    EXPECT_EQ(syGetPrintJobIndexById(0, next), 1);
    EXPECT_EQ(syGetPrintJobIdByIndex(0, 0), id);
    EXPECT_EQ(syGetPrintJobIdByIndex(0, 1), next);
    EXPECT_EQ(syGetPrintJobIdByIndex(0, 2), SY_NO_JOB);
    EXPECT_EQ(syGetPrintJobIdByIndex(1, 0), SY_NO_JOB);
    SYPrintJobInfo info;
    EXPECT_EQ(syGetPrintJobById(0, 999, &info), -1);
}

TEST_F(PrintJobs, AQueuedJobThatCouldNotStartStartsAtTheNextUpdate)
{
    uint32_t first = start(0), second = start(0);
    lp->openFails = true;
    ASSERT_EQ(syEndPrintJob(0, first), 0);
    EXPECT_EQ(record(0).activeJob, SY_NO_JOB);
    EXPECT_EQ(job(second).status, SY_JOB_BLOCKED);
    lp->openFails = false;
    update();
    EXPECT_EQ(record(0).activeJob, second);
    EXPECT_EQ(job(second).status, SY_JOB_PRINTING);
}

TEST_F(PrintJobs, AnInformationReadThatFailsDoesNotStrandTheActiveJob)
{
    uint32_t id = start(0);
    lp->statusFails = true;
    gNow += 1000;
    SYPrinterInfo info;
    ASSERT_EQ(syGetPrinterInfo(0, &info), -1);
    EXPECT_EQ(record(0).fd, -1);
    lp->statusFails = false;
    ASSERT_EQ(printer("/dev/usb/lp0"), 0u) << "identified again";
    EXPECT_EQ(record(0).info.status, SY_PRINTER_PRINTING);
    CSLateResponseContext *late;
    EXPECT_EQ(write(0, id, "still", &late), 5);
    EXPECT_EQ(lp->printed, "still");
}

}  // namespace
