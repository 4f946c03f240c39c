// The print spooler pipe over a fake pipe and a fake printer: handles and
// their owners, documents, job and printer control, printer data, printer,
// job and form information with the offered sizes of the answers.
#include "pipe_fixture.h"
#include "spooler_fixture.h"

#include "csauth.h"
#include "csshares.h"

#include <gtest/gtest.h>

#include <functional>

using namespace rpc_test;
using spooler_test::FakeDevice;
using spooler_test::FakePrinter;

namespace {

const std::string kSpoolss = "12345678-1234-abcd-ef00-0123456789ab";

enum Op : uint16_t {
    EnumPrinters = 0,
    SetJob = 2,
    GetJob = 3,
    EnumJobs = 4,
    SetPrinter = 7,
    GetPrinter = 8,
    StartDoc = 17,
    StartPage = 18,
    WritePrinter = 19,
    EndPage = 20,
    AbortPrinter = 21,
    EndDoc = 23,
    AddJob = 24,
    GetPrinterData = 26,
    SetPrinterData = 27,
    ClosePrinter = 29,
    GetForm = 32,
    EnumForms = 34,
    ResetPrinter = 52,
    GetPrinterDriver2 = 53,
    FindClose = 56,
    RemoteFindFirst = 65,
    RouterRefresh = 67,
    OpenPrinterEx = 69,
};

using Handle = Bytes;

class Spoolss : public PipeTest {
protected:
    FakePrinter fake;
    FakeDevice *lp = nullptr;
    CSFile *pipe = nullptr;

    void SetUp() override
    {
        PipeTest::SetUp();
        if (IsSkipped())
            return;
        sy::print::setPrinterDevice(&fake);
        sy::print::setLateAnswer(spooler_test::recordAnswer);
        spooler_test::gAnswers.clear();
        syInitPrinters();
        lp = &fake.add("/dev/usb/lp0");
        ASSERT_EQ(vxAddShareA("Laser", "/dev/usb/lp0", "", 1, "Laser printer"), 0);
        ASSERT_EQ(vxAddShareA("Files", "/tmp", "", -1, "Files"), 0);
        client.user->printerOwner = 1;
        csAuthSetPermissive(0);
        pipe = bound("spoolss", kSpoolss, 1);
        ASSERT_NE(pipe, nullptr);
    }
    void TearDown() override
    {
        if (!IsSkipped()) {
            syInitPrinters();
            sy::print::setPrinterDevice(nullptr);
            sy::print::setLateAnswer(nullptr);
        }
        PipeTest::TearDown();
    }

    Reply open(const std::string &name, CSFile *on = nullptr)
    {
        Ndr n;
        n.textPointer(name.c_str()).pointer(false).u32(0).u32(0).u32(0x20000);
        // The client information container is not read.
        n.u32(1).u32(1).pointer().u32(28).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
        return call(on ? on : pipe, OpenPrinterEx, n.bytes);
    }
    Handle handle(const std::string &name = "\\\\router\\Laser", CSFile *on = nullptr)
    {
        Reply r = open(name, on);
        EXPECT_EQ(r.status, 0u) << name;
        return r.stub.size() >= 20 ? Handle(r.stub.begin(), r.stub.begin() + 20) : Handle(20, 0);
    }
    Reply onHandle(uint16_t op, const Handle &h, const Bytes &rest = {}, CSFile *on = nullptr)
    {
        Ndr n;
        n.raw(h).raw(rest);
        return call(on ? on : pipe, op, n.bytes);
    }
    uint32_t startDoc(const Handle &h, const char *document = "report.txt")
    {
        Ndr n;
        // Level 1: the container's pointer, the document, output file and data type pointers.
        n.u32(1).u32(1).pointer().pointer(document != nullptr).pointer(false).pointer(false);
        if (document)
            n.text(document);
        Reply r = onHandle(StartDoc, h, n.bytes);
        EXPECT_EQ(r.stub.size(), 4u);
        return r.status == 0 ? fw_test::get_le32(r.stub.data()) : r.status;
    }
    Reply write(const Handle &h, const std::string &data, int32_t count = -1)
    {
        Ndr n;
        n.u32(count < 0 ? uint32_t(data.size()) : uint32_t(count));
        n.raw(fw_test::text_bytes(data));
        return onHandle(WritePrinter, h, n.bytes);
    }
    // Level, no buffer of the client's, the offered size.
    Bytes info(uint32_t level, uint32_t offered)
    {
        Ndr n;
        n.u32(level).pointer(false).u32(offered);
        return n.bytes;
    }
    // An information answer: the array and what follows it.
    struct Info {
        uint32_t pointer = 0, count = 0, needed = 0, returned = 0;
        Bytes array;
    };
    static Info readInfo(const Reply &r, bool enumeration)
    {
        Info i;
        NdrReader d(r.stub);
        i.pointer = d.u32();
        if (i.pointer) {
            i.count = d.u32();
            if (d.at + i.count <= r.stub.size())
                i.array = Bytes(r.stub.begin() + long(d.at), r.stub.begin() + long(d.at + i.count));
            d.at += i.count;
        }
        i.needed = d.u32();
        if (enumeration)
            i.returned = d.u32();
        return i;
    }
    // The string at an offset of an information array.
    // The string a field points to; offsets count from the start of the
    // structure holding the field, as clients read them.
    static std::string at(const Bytes &array, uint32_t fieldOffset, uint32_t structure = 0)
    {
        uint32_t offset = fw_test::get_le32(&array[structure + fieldOffset]);
        std::string s;
        for (uint32_t p = structure + offset; offset && p + 1 < array.size() && fw_test::get_le16(&array[p]); p += 2)
            s.push_back(char(fw_test::get_le16(&array[p])));
        return s;
    }
    // Asks with offered 0, then with the size the answer needed.
    Reply twice(uint16_t op, const Handle &h, const std::function<Bytes(uint32_t)> &args, bool enumeration,
                Info *got)
    {
        Reply first = onHandle(op, h, args(0));
        EXPECT_EQ(first.status, 122u);
        Info need = readInfo(first, enumeration);
        Reply r = onHandle(op, h, args(need.needed));
        *got = readInfo(r, enumeration);
        return r;
    }
};

TEST_F(Spoolss, APipeOpenedAsAPathOfIpcBinds)
{
    // As the server's create keeps the name of a pipe opened on IPC$.
    CSFile *f = server_test::open(client, "/spoolss");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(csDcerpcOpenPipe(W("spoolss").data(), f), 1);
    EXPECT_EQ(bind(f, {context(0, kSpoolss, 1)}).ptype, CS_RPC_BIND_ACK);
}

TEST_F(Spoolss, PrinterNames)
{
    struct Case {
        std::string name;
        uint32_t status;
    } cases[] = {
        {"\\\\router\\Laser", 0},    {"\\\\192.168.1.1\\Laser", 0},
        {"\\\\router\\laser", 0},  // share names without regard to case
        {"\\\\router", 1801},        {"router\\Laser", 1801},
        {"\\\\router\\Files", 1801}, {"\\\\router\\Nothing", 1801},
        {"\\\\router\\", 1801},      {"\\\\" + std::string(600, 'r') + "\\Laser", 1801},
    };
    for (const Case &c : cases) {
        Reply r = open(c.name);
        EXPECT_EQ(r.status, c.status) << c.name;
        ASSERT_EQ(r.stub.size(), 20u) << c.name;
        if (c.status)
            EXPECT_EQ(r.stub, Bytes(20, 0)) << c.name << ": a zero handle";
        else
            EXPECT_EQ(fw_test::get_le32(r.stub.data()), 1u) << c.name;
    }
}

TEST_F(Spoolss, AnAddressAsServerNameIsAnsweredBack)
{
    Handle h = handle("\\\\192.168.1.1\\Laser");
    Info got;
    Reply r = twice(
        GetPrinter, h, [&](uint32_t o) { return info(4, o); }, false, &got);
    ASSERT_EQ(r.status, 0u);
    EXPECT_EQ(at(got.array, 0), "\\\\192.168.1.1\\Laser");
    EXPECT_EQ(at(got.array, 4), "\\\\192.168.1.1");
}

TEST_F(Spoolss, FiftyHandlesAtMost)
{
    std::vector<Handle> handles;
    for (int i = 0; i < 50; ++i)
        handles.push_back(handle());
    Reply full = open("\\\\router\\Laser");
    EXPECT_EQ(full.status, 0xC000009Au);
    EXPECT_EQ(onHandle(ClosePrinter, handles[7]).status, 0u);
    handle();
}

TEST_F(Spoolss, HandlesAreCheckedByIndexSerialAndOwner)
{
    Handle h = handle();
    Handle forged = h;
    forged[4] = 50;  // index 50
    EXPECT_EQ(onHandle(ResetPrinter, forged).status, 0x1C00001Au);
    Handle stale = h;
    stale[6] ^= 0xFF;  // another serial
    EXPECT_EQ(onHandle(ResetPrinter, stale).status, 0x1C00001Au);
    EXPECT_EQ(onHandle(ResetPrinter, h).status, 0u);

    // Another user on a connection of its own.
    int otherSocket = 0;
    server_test::Client bob = server_test::connect(&otherSocket, 0x0301A8C0, "bob", ipc);
    bob.user->printerOwner = 1;
    CSFile *bobPipe = nullptr;
    {
        CSFile *f = server_test::open(bob, "\\spoolss");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(csDcerpcOpenPipe(W("spoolss").data(), f), 1);
        ASSERT_EQ(bind(f, {context(0, kSpoolss, 1)}).ptype, CS_RPC_BIND_ACK);
        bobPipe = f;
    }
    EXPECT_EQ(onHandle(ResetPrinter, h, {}, bobPipe).status, 0x1C00001Au) << "alice's handle";
    EXPECT_EQ(onHandle(EndDoc, h, {}, bobPipe).status, 0x1C00001Au);
    serve();
    EXPECT_EQ(onHandle(ClosePrinter, h).status, 0u);
    EXPECT_EQ(onHandle(ClosePrinter, h).status, 0x1C00001Au) << "closed already";
}

TEST_F(Spoolss, AHandleOfARemovedShareNamesNoPrinter)
{
    Handle h = handle();
    ASSERT_EQ(vxRemoveShareA("Laser"), 0);
    ASSERT_EQ(vxAddShareA("Music", "/tmp/music", "", -1, "Music"), 0) << "takes the freed slot";
    EXPECT_EQ(onHandle(ResetPrinter, h).status, 1801u);
    EXPECT_EQ(sy::print::printers()[1].devicePath[0], 0) << "no printer record for a file share's path";
}

TEST_F(Spoolss, ADocumentReachesThePrinter)
{
    Handle h = handle();
    EXPECT_EQ(write(h, "early").status, 63u) << "no document yet";
    uint32_t job = startDoc(h);
    ASSERT_NE(job, 0xFFFFFFFFu);
    EXPECT_EQ(startDoc(h), 0xC0000032u) << "one document at a time";
    EXPECT_EQ(onHandle(StartPage, h).status, 0u);
    Reply w = write(h, "hello, printer");
    EXPECT_EQ(w.status, 0u);
    ASSERT_EQ(w.stub.size(), 4u);
    EXPECT_EQ(fw_test::get_le32(w.stub.data()), 14u);
    EXPECT_EQ(write(h, "abc", 100).status, 87u) << "a count beyond the request";
    EXPECT_EQ(onHandle(EndPage, h).status, 0u);
    EXPECT_EQ(onHandle(EndDoc, h).status, 0u);
    EXPECT_EQ(lp->printed, "hello, printer");
    EXPECT_EQ(onHandle(EndDoc, h).status, 0x1C000024u) << "no document";
}

TEST_F(Spoolss, ClosingAHandleEndsItsDocument)
{
    Handle one = handle(), two = handle();
    ASSERT_NE(startDoc(one), 0xFFFFFFFFu);
    ASSERT_EQ(write(one, "lost").status, 0u);
    EXPECT_EQ(onHandle(ClosePrinter, one).status, 0u);
    ASSERT_NE(startDoc(two), 0xFFFFFFFFu) << "the device is free";
    EXPECT_EQ(write(two, "next").status, 0u);
    EXPECT_EQ(onHandle(EndDoc, two).status, 0u);
    EXPECT_EQ(lp->printed, "lostnext");
}

TEST_F(Spoolss, LoggingOffEndsTheUsersDocuments)
{
    Handle h = handle();
    ASSERT_NE(startDoc(h), 0xFFFFFFFFu);
    csRpcSpoolssCleanupUser(client.user->uid);
    EXPECT_EQ(onHandle(ResetPrinter, h).status, 0x1C00001Au);
    EXPECT_EQ(sy::print::printers()[0].activeJob, SY_NO_JOB);
    csRpcSpoolssCleanupUser(0x1234);  // nobody
}

// The carrying command's side of a late answer: where the answer is built
// and what was sent.
uint8_t gLateBuffer[256];
Bytes gLateSent;
void lateSave(CSLateResponseContext *) {}
int latePrepare(CSLateResponseContext *context)
{
    context->response = gLateBuffer;
    context->remaining = sizeof gLateBuffer;
    return 0;
}
int lateSend(CSLateResponseContext *context, uint32_t status, uint32_t length)
{
    EXPECT_EQ(status, 0u);
    gLateSent = Bytes(context->response, context->response + length);
    return 1;
}

TEST_F(Spoolss, AWriteToAPrinterNotReadyIsAnsweredWhenItIsReady)
{
    Handle h = handle();
    ASSERT_NE(startDoc(h), 0xFFFFFFFFu);
    lp->portStatus = 0x38;  // paper out
    sy::print::printers()[0].nextStatusRead = 0;
    sy::print::setLateAnswer(nullptr);
    csDcerpcSetLateResponseCallbacks(lateSave, latePrepare, lateSend);
    gLateSent.clear();
    Ndr n;
    n.raw(h).u32(4).raw(fw_test::text_bytes("late"));
    EXPECT_EQ(PipeTest::write(pipe, requestPdu(0, WritePrinter, n.bytes, 3, 77)), CS_RPC_LATE);
    EXPECT_EQ(lp->printed, "");
    EXPECT_TRUE(gLateSent.empty());
    lp->portStatus = 0x18;
    sy::print::printers()[0].nextStatusRead = 0;
    syUpdatePrinterStatus(W("/dev/usb/lp0").data(), W("Laser").data(), nullptr, 1);
    EXPECT_EQ(lp->printed, "late");
    Pdu answer = parsePdu(gLateSent);
    EXPECT_EQ(answer.ptype, CS_RPC_RESPONSE);
    EXPECT_EQ(answer.callId, 77u);
    ASSERT_EQ(answer.body.size(), 8u);
    EXPECT_EQ(answer.get32(0), 4u) << "bytes written";
    EXPECT_EQ(answer.get32(4), 0u) << "status";
}

TEST_F(Spoolss, AbortEndsEveryJobOfThePrinter)
{
    Handle one = handle(), two = handle();
    ASSERT_NE(startDoc(one), 0xFFFFFFFFu);
    ASSERT_NE(startDoc(two), 0xFFFFFFFFu);
    EXPECT_EQ(onHandle(AbortPrinter, one).status, 0u);
    EXPECT_EQ(sy::print::printers()[0].info.jobsQueued, 0u);
    EXPECT_EQ(write(two, "x").status, 63u) << "its job went with the queue";
}

TEST_F(Spoolss, ChangeIdGoesUpWithEverySetPrinter)
{
    Handle h = handle();
    auto data = [&](const char *name, uint32_t offered) {
        Ndr n;
        n.text(name).u32(offered);
        return onHandle(GetPrinterData, h, n.bytes);
    };
    Reply r = data("ChangeId", 4);
    ASSERT_EQ(r.status, 0u);
    NdrReader d(r.stub);
    EXPECT_EQ(d.u32(), 4u) << "REG_DWORD";
    EXPECT_EQ(d.u32(), 4u);
    EXPECT_EQ(d.u32(), 1u);
    EXPECT_EQ(d.u32(), 4u) << "needed";
    Ndr pause;
    pause.u32(0).u32(0).pointer(false).u32(0).pointer(false).u32(0).pointer(false).u32(1);
    ASSERT_EQ(onHandle(SetPrinter, h, pause.bytes).status, 0u);
    Reply after = data("ChangeId", 4);
    EXPECT_EQ(fw_test::get_le32(&after.stub[8]), 2u);

    Reply arch = data("Architecture", 64);
    EXPECT_EQ(arch.status, 2u) << "a server value on a printer handle";
    EXPECT_EQ(fw_test::get_le32(arch.stub.data()), 0x00EAB2F8u);
    Reply none = data("ChangeId", 0);
    EXPECT_EQ(none.status, 234u);
    EXPECT_EQ(fw_test::get_le32(&none.stub[none.stub.size() - 4]), 4u) << "the needed size";
    Reply small = data("ChangeId", 2);
    EXPECT_EQ(small.status, 234u);
    EXPECT_EQ(data("ChangeId", 0x7FFFFFFF).status, 8u) << "more than the answer can hold";
}

TEST_F(Spoolss, PausingThePrinterShowsInItsStatus)
{
    Handle h = handle();
    Ndr pause;
    pause.u32(0).u32(0).pointer(false).u32(0).pointer(false).u32(0).pointer(false).u32(1);
    ASSERT_EQ(onHandle(SetPrinter, h, pause.bytes).status, 0u);
    Info got;
    Reply r = twice(
        GetPrinter, h, [&](uint32_t o) { return info(2, o); }, false, &got);
    ASSERT_EQ(r.status, 0u);
    EXPECT_EQ(fw_test::get_le32(&got.array[13 * 4 + 5 * 4]) & 1u, 1u) << "status bit 0x1";
}

TEST_F(Spoolss, PrinterLevels)
{
    Handle h = handle();
    for (uint32_t level = 0; level <= 5; ++level) {
        SCOPED_TRACE(level);
        Reply first = onHandle(GetPrinter, h, info(level, 0));
        ASSERT_EQ(first.status, 122u);
        Info need = readInfo(first, false);
        EXPECT_EQ(need.pointer, 0u);
        Reply r = onHandle(GetPrinter, h, info(level, need.needed));
        ASSERT_EQ(r.status, 0u);
        Info got = readInfo(r, false);
        EXPECT_EQ(got.pointer, 2u);
        EXPECT_EQ(got.count, need.needed);
        EXPECT_EQ(got.needed + 2, need.needed);
    }
    Info got;
    twice(
        GetPrinter, h, [&](uint32_t o) { return info(2, o); }, false, &got);
    EXPECT_EQ(at(got.array, 4), "\\\\ROUTER\\Laser");
    EXPECT_EQ(at(got.array, 8), "Laser");
    EXPECT_EQ(at(got.array, 12), "VX Printer Port");
    EXPECT_EQ(at(got.array, 36), "winprint");
    EXPECT_EQ(at(got.array, 40), "RAW");
    EXPECT_EQ(fw_test::get_le32(&got.array[52]), 0x1048u);
    EXPECT_NE(fw_test::get_le32(&got.array[28]), 0u) << "a device mode";
    EXPECT_NE(fw_test::get_le32(&got.array[48]), 0u) << "a descriptor";
    EXPECT_EQ(onHandle(GetPrinter, h, info(6, 1000)).status, 124u);
    EXPECT_EQ(onHandle(GetPrinter, h, info(2, 0x7FFFFFFF)).status, 8u);
}

TEST_F(Spoolss, EnumPrintersShowsOnlyPrintersTheCallerMayUse)
{
    auto enumerate = [&](uint32_t offered, CSFile *on) {
        Ndr n;
        n.u32(2).textPointer("").u32(1).pointer(false).u32(offered);
        return call(on, EnumPrinters, n.bytes);
    };
    Reply first = enumerate(0, pipe);
    ASSERT_EQ(first.status, 122u);
    Info need = readInfo(first, true);
    Reply r = enumerate(need.needed, pipe);
    ASSERT_EQ(r.status, 0u);
    Info got = readInfo(r, true);
    EXPECT_EQ(got.returned, 1u);
    EXPECT_EQ(at(got.array, 4), "Laser");

    fake.add("/dev/usb/lp1");
    ASSERT_EQ(vxAddShareA("Inkjet", "/dev/usb/lp1", "", 1, "Ink printer"), 0);
    Info two = readInfo(enumerate(1000, pipe), true);
    ASSERT_EQ(two.returned, 2u);
    EXPECT_EQ(at(two.array, 4), "Laser");
    EXPECT_EQ(at(two.array, 4, 16), "Inkjet") << "the second printer's offsets from its own start";
    EXPECT_EQ(at(two.array, 8, 16), "Ink printer");

    client.user->printerOwner = 0;
    Reply plain = enumerate(1000, pipe);
    ASSERT_EQ(plain.status, 0u);
    EXPECT_EQ(readInfo(plain, true).returned, 0u);
    csAuthSetPermissive(1);
    EXPECT_EQ(readInfo(enumerate(1000, pipe), true).returned, 2u) << "permissive mode";
    csAuthSetPermissive(0);
}

TEST_F(Spoolss, Jobs)
{
    Handle one = handle(), two = handle();
    uint32_t first = startDoc(one, "first"), second = startDoc(two, "second");
    auto job = [&](uint32_t id, uint32_t level, uint32_t offered) {
        Ndr n;
        n.u32(id).u32(level).pointer(false).u32(offered);
        return onHandle(GetJob, one, n.bytes);
    };
    Info got;
    Reply r = twice(
        GetJob, one,
        [&](uint32_t o) {
            Ndr n;
            n.u32(second).u32(3).pointer(false).u32(o);
            return n.bytes;
        },
        false, &got);
    ASSERT_EQ(r.status, 0u);
    EXPECT_EQ(fw_test::get_le32(&got.array[0]), second);
    EXPECT_EQ(fw_test::get_le32(&got.array[4]), 0xFFFFFFFFu) << "the last job";
    Reply level1 = job(first, 1, 1000);
    ASSERT_EQ(level1.status, 0u);
    Info j = readInfo(level1, false);
    EXPECT_EQ(at(j.array, 16), "first");
    EXPECT_EQ(at(j.array, 24), "Printing");
    EXPECT_EQ(job(999, 1, 1000).status, 0x1C000024u);
    EXPECT_EQ(job(first, 2, 4000).status, 0u);
    EXPECT_EQ(job(first, 7, 4000).status, 0xC0000032u);

    auto enumerate = [&](uint32_t firstJob, uint32_t count, uint32_t offered) {
        Ndr n;
        n.u32(firstJob).u32(count).u32(1).pointer(false).u32(offered);
        return onHandle(EnumJobs, one, n.bytes);
    };
    Reply e = enumerate(0, 10, 0);
    ASSERT_EQ(e.status, 122u);
    Info all = readInfo(enumerate(0, 10, readInfo(e, true).needed), true);
    EXPECT_EQ(all.returned, 2u);
    EXPECT_EQ(at(all.array, 16), "first");
    EXPECT_EQ(at(all.array, 16, 64), "second") << "the second job's offsets from its own start";
    EXPECT_EQ(readInfo(enumerate(1, 1, 1000), true).returned, 1u) << "positions 1 to 1";
    EXPECT_EQ(readInfo(enumerate(2, 5, 1000), true).returned, 0u);

    Ndr pause;
    pause.u32(first).pointer(false).u32(1);
    EXPECT_EQ(onHandle(SetJob, one, pause.bytes).status, 0u);
    SYPrintJobInfo info;
    ASSERT_EQ(syGetPrintJobById(0, first, &info), 0);
    EXPECT_EQ(info.status & SY_JOB_PAUSED, SY_JOB_PAUSED);
    Ndr cancel;
    cancel.u32(first).pointer(false).u32(3);
    EXPECT_EQ(onHandle(SetJob, one, cancel.bytes).status, 0u);
    EXPECT_EQ(onHandle(SetJob, one, cancel.bytes).status, 0x1C000021u) << "gone";
}

TEST_F(Spoolss, Forms)
{
    Handle h = handle();
    auto enumerate = [&](uint32_t level, uint32_t offered) {
        Ndr n;
        n.u32(level).pointer(false).u32(offered);
        return onHandle(EnumForms, h, n.bytes);
    };
    Reply first = enumerate(1, 0);
    EXPECT_EQ(first.status, 122u);
    EXPECT_EQ(readInfo(first, true).needed, 1000u);
    Reply r = enumerate(1, 108);
    ASSERT_EQ(r.status, 0u);
    Info got = readInfo(r, true);
    EXPECT_EQ(got.returned, 2u);
    EXPECT_EQ(got.needed, 108u);
    EXPECT_EQ(at(got.array, 4), "Letter");
    EXPECT_EQ(at(got.array, 4, 32), "A4") << "the second form's offset from its own start";
    EXPECT_EQ(enumerate(2, 1000).status, 124u);

    auto form = [&](const char *name, uint32_t offered) {
        Ndr n;
        n.text(name).u32(1).pointer(false).u32(offered);
        return onHandle(GetForm, h, n.bytes);
    };
    Reply a4 = form("A4", 100);
    ASSERT_EQ(a4.status, 0u);
    Info f = readInfo(a4, false);
    EXPECT_EQ(fw_test::get_le32(&f.array[8]), 210000u);
    EXPECT_EQ(fw_test::get_le32(&f.array[12]), 297000u);
    EXPECT_EQ(form("B5", 100).status, 1u);
    Reply small = form("A4", 10);
    EXPECT_EQ(small.status, 122u);
    EXPECT_EQ(readInfo(small, false).needed, 500u);
}

TEST_F(Spoolss, NoDriverAndConstantAnswers)
{
    Handle h = handle();
    Ndr n;
    n.textPointer("Windows NT x86").u32(3).pointer(false).u32(200).u32(3).u32(0);
    Reply r = onHandle(GetPrinterDriver2, h, n.bytes);
    EXPECT_EQ(r.status, 1797u);
    NdrReader d(r.stub);
    EXPECT_EQ(d.u32(), 2u);
    EXPECT_EQ(d.u32(), 200u);
    d.at += 200;
    EXPECT_EQ(d.u32(), 0u);
    EXPECT_EQ(d.u32(), 2u);
    EXPECT_EQ(d.u32(), 0u);
    Ndr empty;
    empty.textPointer("Windows NT x86").u32(3).pointer(false).u32(0).u32(3).u32(0);
    Reply none = onHandle(GetPrinterDriver2, h, empty.bytes);
    EXPECT_EQ(none.status, 1797u);
    EXPECT_EQ(none.stub, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}))
        << "offered 0: a null array, needed 0, versions 2 and 0";
    EXPECT_EQ(call(pipe, AddJob, {}).status, 87u);
    EXPECT_EQ(call(pipe, FindClose, {}).status, 0u);
    EXPECT_EQ(call(pipe, RemoteFindFirst, {}).status, 1722u);
    EXPECT_EQ(call(pipe, RouterRefresh, {}).status, 6u);
    EXPECT_TRUE(call(pipe, 1, {}).fault) << "an empty slot";
}

}  // namespace

namespace {

// A level-2 SetPrinter as a client sends back what it read, with a new comment.
Bytes setLevel2(bool withDevMode, uint32_t jobs)
{
    Ndr n;
    n.u32(2).u32(2).pointer();
    const char *texts[13] = {"\\\\router", "\\\\router\\Laser", "Laser", "VX Printer Port",
                             "",           "Second floor",      "Hall",  nullptr,
                             nullptr,      "winprint",          "RAW",   nullptr,
                             nullptr};
    for (int i = 0; i < 13; ++i)
        n.pointer(texts[i] != nullptr || (i == 7 && withDevMode));
    n.u32(0x48).u32(1).u32(1).u32(0).u32(0).u32(0x80).u32(jobs).u32(0);
    for (const char *t : texts)
        if (t)
            n.text(t);
    n.u32(0).pointer(false).u32(0).pointer(false).u32(0);
    return n.bytes;
}

// A level-3 SetPrinter with a device mode of extra bytes.
Bytes setLevel3(uint16_t extra, uint32_t actualExtra)
{
    Ndr mode;
    for (int i = 0; i < 32; ++i)
        mode.u16(0);
    mode.u16(0x0401).u16(0x0600).u16(220).u16(extra).u32(SY_DEVMODE_FORMNAME);
    for (int i = 0; i < 13; ++i)
        mode.u16(uint16_t(i));
    const char *form = "Letter";
    for (int i = 0; i < 32; ++i)
        mode.u16(i < 6 ? uint16_t(form[i]) : 0);
    mode.u16(0);
    for (int i = 0; i < 13; ++i)
        mode.u32(0);
    for (uint32_t i = 0; i < actualExtra; ++i)
        mode.u8(uint8_t(i));
    Ndr n;
    n.u32(3).u32(3).pointer(false);
    n.u32(uint32_t(mode.bytes.size())).pointer().u32(uint32_t(mode.bytes.size())).raw(mode.bytes).align(4);
    n.u32(0).pointer(false).u32(0);
    return n.bytes;
}

TEST_F(Spoolss, SetPrinterLevel2ChangesTextsButNotTheQueue)
{
    Handle h = handle();
    ASSERT_NE(startDoc(h), 0xFFFFFFFFu);
    ASSERT_EQ(onHandle(SetPrinter, h, setLevel2(false, 1000)).status, 0u);
    Info got;
    ASSERT_EQ(twice(
                  GetPrinter, h, [&](uint32_t o) { return info(2, o); }, false, &got)
                  .status,
              0u);
    EXPECT_EQ(at(got.array, 20), "Second floor");
    EXPECT_EQ(at(got.array, 24), "Hall");
    EXPECT_EQ(fw_test::get_le32(&got.array[13 * 4 + 6 * 4]), 1u) << "jobs queued: the spooler's own";
    EXPECT_EQ(onHandle(SetPrinter, h, setLevel2(true, 0)).status, 1u) << "a device mode pointer";
    // The job still prints: the status the client sent back did not stick.
    EXPECT_EQ(write(h, "after").status, 0u);
    EXPECT_EQ(lp->printed, "after");
}

TEST_F(Spoolss, SetPrinterLevel3RefusesExtraBytesBeyondTheField)
{
    Handle h = handle();
    EXPECT_EQ(onHandle(SetPrinter, h, setLevel3(1001, 1001)).status, 1u);
    EXPECT_EQ(onHandle(SetPrinter, h, setLevel3(64, 8)).status, 1u) << "more extra bytes than sent";
    ASSERT_EQ(onHandle(SetPrinter, h, setLevel3(8, 8)).status, 0u);
    SYPrinterInfo i;
    ASSERT_EQ(syGetPrinterInfo(0, &i), 0);
    EXPECT_EQ(i.deviceMode.driverExtraLength, 8);
    EXPECT_EQ(i.deviceMode.driverExtra[7], 7);
    EXPECT_EQ(server_test::A(i.deviceMode.formName), "Letter");
    EXPECT_EQ(i.deviceMode.shorts[12], 12);
    EXPECT_EQ(onHandle(SetPrinter, h, Ndr().u32(9).u32(9).pointer(false).u32(0).bytes).status, 0xC0000032u);
}

}  // namespace
