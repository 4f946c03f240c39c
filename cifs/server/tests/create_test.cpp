// The create workers and the common create processing on a real folder:
// dispositions and actions, overwrite, read-only objects, directories,
// delete access and delete on close, share rights, pipes and print jobs,
// and what every refusal leaves behind (nothing).
#include "files_fixture.h"

#include "fw_test/matchers.h"

#include <algorithm>
#include <filesystem>

using namespace files_test;
using ::testing::Contains;

namespace {

constexpr uint32_t kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u, kDelete = 0x10000u;
constexpr uint32_t kShareAll = 7;

class CreateTest : public FilesTest {
protected:
    // An NT create of name under the share by alice.
    uint32_t create(const std::string &name, uint32_t access, uint32_t disposition, uint32_t options = 0,
                    uint32_t shareAccess = kShareAll)
    {
        path = W(name.empty() ? root.path() : root.file(name));
        p = CSCreateParameters{};
        p.tid = alice.tree->tid;
        p.uid = alice.user->uid;
        p.pid = 0x00010002;
        p.user = alice.user;
        p.share = &share;
        p.desiredAccess = access;
        p.shareAccess = shareAccess;
        p.disposition = disposition;
        p.createOptions = options;
        p.path = path.data();
        return csCreateCommonProcessing(&p);
    }
    void close()
    {
        if (p.file)
            csReleaseFile(p.file->fid);
        p.file = nullptr;
    }
    void expectNothingOpen()
    {
        EXPECT_EQ(csGetFilesCount(), 0u);
        EXPECT_EQ(csGetUniqueFilesCount(), 0u);
    }

    std::vector<CMWchar> path;
    CSCreateParameters p{};
};

TEST_F(CreateTest, DispositionsGiveTheirActionsAndRefusals)
{
    struct Case {
        const char *what;
        bool exists;
        uint32_t disposition;
        uint32_t status, action;
    } cases[] = {
        {"open missing", false, CS_OPEN, 0xC0000034u, 0},
        {"overwrite missing", false, CS_OVERWRITE, 0xC0000034u, 0},
        {"create missing", false, CS_CREATE, 0, CS_ACTION_CREATED},
        {"open-if missing", false, CS_OPEN_IF, 0, CS_ACTION_CREATED},
        {"overwrite-if missing", false, CS_OVERWRITE_IF, 0, CS_ACTION_CREATED},
        {"supersede missing", false, CS_SUPERSEDE, 0, CS_ACTION_CREATED},
        {"open existing", true, CS_OPEN, 0, CS_ACTION_OPENED},
        {"create existing", true, CS_CREATE, 0xC0000035u, 0},
        {"open-if existing", true, CS_OPEN_IF, 0, CS_ACTION_OPENED},
        {"overwrite existing", true, CS_OVERWRITE, 0, CS_ACTION_OVERWRITTEN},
        {"overwrite-if existing", true, CS_OVERWRITE_IF, 0, CS_ACTION_OVERWRITTEN},
        {"supersede existing", true, CS_SUPERSEDE, 0, CS_ACTION_OPENED},
    };
    int n = 0;
    for (const Case &c : cases) {
        std::string name = "f" + std::to_string(n++);
        if (c.exists)
            write(name, "old content");
        uint32_t status = create(name, kGenericRead | kGenericWrite, c.disposition);
        EXPECT_EQ(status, c.status) << c.what;
        if (status == 0) {
            EXPECT_EQ(p.action, c.action) << c.what;
            ASSERT_NE(p.file, nullptr);
            EXPECT_EQ(p.file->pid, 0x00010002u);
            EXPECT_EQ(p.desiredAccess, 0x0842u) << "the open mode replaces the access";
            EXPECT_TRUE(p.information.attributes & SY_ATTR_ARCHIVE) << c.what;
            bool emptied = c.action != CS_ACTION_OPENED;
            EXPECT_EQ(p.information.endOfFile.low, emptied ? 0u : 11u) << c.what;
            EXPECT_EQ(read(root.file(name)), emptied ? "" : "old content") << c.what;
        } else {
            EXPECT_EQ(p.file, nullptr);
            EXPECT_EQ(exists(root.file(name)), c.exists) << c.what;
        }
        close();
    }
    expectNothingOpen();
}

TEST_F(CreateTest, CreatingNotifiesAndSetsArchive)
{
    ASSERT_EQ(create("new.txt", kGenericWrite, CS_CREATE), 0u);
    EXPECT_THAT(gNeighbours.calls, Contains("notify " + root.file("new.txt") + " 1 1"));
    EXPECT_THAT(gNeighbours.calls, Contains("write right"));
    close();
    ASSERT_EQ(create("sub", kGenericRead, CS_CREATE, CS_FILE_DIRECTORY_FILE), 0u);
    EXPECT_THAT(gNeighbours.calls, Contains("notify " + root.file("sub") + " 1 2"));
    EXPECT_TRUE(std::filesystem::is_directory(root.file("sub")));
    EXPECT_EQ(p.file->isDirectory, 1u);
    EXPECT_EQ(p.action, CS_ACTION_CREATED);
    close();
    expectNothingOpen();
}

TEST_F(CreateTest, OverwriteOfAReadOpenGoesThroughATemporaryDescriptor)
{
    write("f.txt", "keep me not");
    ASSERT_EQ(create("f.txt", kGenericRead, CS_OVERWRITE_IF), 0u);
    EXPECT_EQ(p.action, CS_ACTION_OVERWRITTEN);
    EXPECT_EQ(read(root.file("f.txt")), "");
    EXPECT_EQ(p.file->access & 0xF, 0u);
    close();
    // Without the right to write the share the read open can't overwrite.
    write("g.txt", "kept");
    gNeighbours.canWrite = false;
    EXPECT_EQ(create("g.txt", kGenericRead, CS_OVERWRITE_IF), 0xC0000022u);
    EXPECT_EQ(read(root.file("g.txt")), "kept");
    expectNothingOpen();
}

TEST_F(CreateTest, ReadOnlyObjectsAreNeitherOverwrittenNorDeleted)
{
    for (uint32_t disposition : {CS_OVERWRITE, CS_OVERWRITE_IF}) {
        makeReadOnly(write("ro.txt", "precious"));
        EXPECT_EQ(create("ro.txt", kGenericRead, disposition), 0xC0000022u) << disposition;
        EXPECT_EQ(read(root.file("ro.txt")), "precious");
    }
    EXPECT_EQ(create("ro.txt", kGenericRead, CS_OPEN, CS_DELETE_ON_CLOSE), 0xC0000121u);
    EXPECT_EQ(create("ro.txt", kGenericWrite, CS_OPEN), 0xC0000022u);
    // Execute (a raw DOS access) of a read-only file that is no program.
    CSFile *file = nullptr;
    EXPECT_EQ(csOpenFile(W(root.file("ro.txt")).data(), alice.tree->tid, 0x43, nullptr, &file), 0xC0000022u);
    makeReadOnly(write("ro.exe", "program"));
    ASSERT_EQ(csOpenFile(W(root.file("ro.exe")).data(), alice.tree->tid, 0x43, nullptr, &file), 0u);
    csReleaseFile(file->fid);
    EXPECT_EQ(create("ro.txt", kGenericRead, CS_OPEN), 0u);
    close();
    expectNothingOpen();
}

TEST_F(CreateTest, DirectoriesAndFilesAreToldApart)
{
    std::filesystem::create_directory(root.file("d"));
    write("f.txt");
    EXPECT_EQ(create("d", kGenericRead, CS_OPEN, CS_FILE_NON_DIRECTORY_FILE), 0xC00000BAu);
    EXPECT_EQ(create("f.txt", kGenericRead, CS_OPEN, CS_FILE_DIRECTORY_FILE), 0xC0000103u);
    EXPECT_EQ(create("d", kGenericRead, CS_OVERWRITE, CS_FILE_DIRECTORY_FILE), 0xC0000022u);
    EXPECT_EQ(create("missing", kGenericRead, CS_OVERWRITE, CS_FILE_DIRECTORY_FILE), 0xC0000034u);
    csDispatchSetNtError(0);
    EXPECT_EQ(create("missing", kGenericRead, CS_OVERWRITE, CS_FILE_DIRECTORY_FILE), 0x00570001u);
    EXPECT_EQ(create("missing", kGenericRead, CS_OVERWRITE), 0x00020001u);
    csDispatchSetNtError(1);
    ASSERT_EQ(create("d", kGenericRead, CS_OPEN), 0u);
    EXPECT_EQ(p.file->isDirectory, 1u);
    EXPECT_EQ(p.information.endOfFile.low, 0u);
    EXPECT_EQ(p.action, CS_ACTION_OPENED);
    close();
    expectNothingOpen();
}

TEST_F(CreateTest, TheShareRootCannotBeOpenedForDelete)
{
    EXPECT_EQ(create("", kDelete, CS_OPEN), 0xC0000022u);
    csDispatchSetNtError(0);
    EXPECT_EQ(create("", kDelete, CS_OPEN), 0x00570001u);
    csDispatchSetNtError(1);
    EXPECT_EQ(create("", kGenericRead, CS_OPEN), 0u);
    close();
    expectNothingOpen();
}

TEST_F(CreateTest, PathsOutsideTheShareOrWithoutTheirFolderAreRefused)
{
    std::filesystem::create_directory(root.file("a"));
    for (const char *name : {"a/../../escape.txt", "missing/x.txt", "a/../../../etc/x"}) {
        EXPECT_EQ(create(name, kGenericWrite, CS_OPEN_IF), 0xC000003Au) << name;
        EXPECT_EQ(p.file, nullptr);
    }
    EXPECT_FALSE(exists(root.path() + "/../escape.txt"));
    EXPECT_EQ(create("a/../inside.txt", kGenericWrite, CS_OPEN_IF), 0u);
    close();
    EXPECT_TRUE(exists(root.file("inside.txt")));
    expectNothingOpen();
}

TEST_F(CreateTest, DeleteOnCloseOfAFullDirectoryIsRefusedAtOnce)
{
    std::filesystem::create_directories(root.file("full/inner"));
    std::filesystem::create_directory(root.file("empty"));
    EXPECT_EQ(create("full", kDelete, CS_OPEN, CS_DELETE_ON_CLOSE | CS_FILE_DIRECTORY_FILE), 0xC0000101u);
    EXPECT_TRUE(exists(root.file("full/inner")));
    ASSERT_EQ(create("empty", kDelete, CS_OPEN, CS_DELETE_ON_CLOSE | CS_FILE_DIRECTORY_FILE), 0u);
    EXPECT_EQ(p.file->createOptions & CS_DELETE_ON_CLOSE, CS_DELETE_ON_CLOSE);
    close();
    expectNothingOpen();
}

TEST_F(CreateTest, DeletingNeedsTheRightToWriteTheShare)
{
    write("f.txt", "stays");
    gNeighbours.canWrite = false;
    // A delete-only open reads the share only...
    ASSERT_EQ(create("f.txt", kDelete, CS_OPEN), 0u);
    EXPECT_EQ(p.desiredAccess, 0x8844u);
    EXPECT_EQ(p.file->fd >= 0, true);
    close();
    // ... but deleting on close is refused before anything is opened.
    EXPECT_EQ(create("f.txt", kDelete, CS_OPEN, CS_DELETE_ON_CLOSE), 0xC0000005u);
    EXPECT_EQ(read(root.file("f.txt")), "stays");
    expectNothingOpen();
}

TEST_F(CreateTest, PrinterSharesStartAJob)
{
    CSShare printer;
    setShare(printer, root.path());
    printer.isPrinter = 1;
    printer.debugLevel = 0;
    cmWStrcpy(printer.name, W("printer").data());
    alice.tree->share = &printer;
    path = W(root.file("document"));
    p = CSCreateParameters{};
    p.tid = alice.tree->tid;
    p.uid = alice.user->uid;
    p.user = alice.user;
    p.share = &printer;
    p.desiredAccess = kGenericWrite;
    p.disposition = CS_OVERWRITE_IF;
    p.path = path.data();
    ASSERT_EQ(csCreateCommonProcessing(&p), 0u);
    EXPECT_EQ(p.action, CS_ACTION_CREATED);
    EXPECT_EQ(p.file->isPrintJob, 1u);
    EXPECT_EQ(p.file->fd, 77);
    ASSERT_FALSE(gNeighbours.calls.empty());
    EXPECT_THAT(gNeighbours.calls.back(), ::testing::StartsWith("print "));
    EXPECT_FALSE(exists(root.file("document")));
    close();
    // A file share is no printer.
    CSFile *file = nullptr;
    EXPECT_EQ(csOpenPrintFileOnShare(path.data(), &share, alice.tree->tid, 0x41, &file, alice.user),
              0xC0000001u);
    expectNothingOpen();
}

class OpenFileTest : public FilesTest {
protected:
    uint32_t open(const std::string &name, const server_test::Client &who, uint16_t mode, CSFile **file,
                  uint16_t *granted = nullptr)
    {
        paths.push_back(W(root.file(name)));
        return csOpenFile(paths.back().data(), who.tree->tid, mode, granted, file);
    }
    std::vector<std::vector<CMWchar>> paths;
};

TEST_F(OpenFileTest, DeleteOnlyOpensTakeNoDataAccess)
{
    write("f.txt");
    gNeighbours.canWrite = false;
    CSFile *holder = nullptr, *deleter = nullptr;
    uint16_t granted = 0;
    // Alone: a read open with delete access.
    ASSERT_EQ(open("f.txt", bob, 0x8844, &deleter, &granted), 0u);
    EXPECT_EQ(granted, 0x8000u);
    csReleaseFile(deleter->fid);
    // Beside a deny-all open that lets others delete: still no data access.
    gNeighbours.canWrite = true;
    ASSERT_EQ(open("f.txt", alice, 0x0812, &holder), 0u);
    gNeighbours.canWrite = false;
    gNeighbours.calls.clear();
    ASSERT_EQ(open("f.txt", bob, 0x8844, &deleter, &granted), 0u);
    EXPECT_EQ(granted, 0x8004u);
    EXPECT_EQ(std::count(gNeighbours.calls.begin(), gNeighbours.calls.end(), "write right"), 0);
    csReleaseFile(deleter->fid);
    csReleaseFile(holder->fid);
}

TEST_F(OpenFileTest, DeleteAccessObeysShareDeleteAndDataSharing)
{
    write("f.txt");
    CSFile *holder = nullptr, *other = nullptr;
    ASSERT_EQ(open("f.txt", alice, 0x0040, &holder), 0u);  // deny none, no share delete
    EXPECT_EQ(open("f.txt", bob, 0x8844, &other), 0xC0000043u);
    csReleaseFile(holder->fid);
    // Deny write with share delete: a read/write open with delete access
    // still may not write.
    ASSERT_EQ(open("f.txt", alice, 0x0820, &holder), 0u);
    EXPECT_EQ(open("f.txt", bob, 0x8842, &other), 0xC0000043u);
    uint16_t granted = 0;
    ASSERT_EQ(open("f.txt", bob, 0x8840, &other, &granted), 0u);
    EXPECT_EQ(granted, 0x8000u);
    csReleaseFile(other->fid);
    csReleaseFile(holder->fid);
    // An open beside a delete open inherits delete access.
    ASSERT_EQ(open("f.txt", alice, 0x8842, &holder), 0u);
    ASSERT_EQ(open("f.txt", alice, 0x0840, &other, &granted), 0u);
    EXPECT_EQ(granted, 0x8000u);
    csReleaseFile(other->fid);
    csReleaseFile(holder->fid);
    EXPECT_EQ(csGetFilesCount(), 0u);
}

TEST_F(OpenFileTest, RefusalsLeaveNoRecord)
{
    write("f.txt");
    CSFile *file = nullptr;
    EXPECT_EQ(csOpenFile(W(root.file("f.txt")).data(), 99, 0x40, nullptr, &file), 0xC0000001u);
    gNeighbours.canRead = false;
    EXPECT_EQ(open("f.txt", alice, 0x40, &file), 0xC0000005u);
    gNeighbours.canRead = true;
    EXPECT_EQ(open("missing.txt", alice, 0x40, &file), 0xC0000034u);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(csGetFilesCount(), 0u);
    EXPECT_EQ(csGetUniqueFilesCount(), 0u);
    // A name marked for deletion opens no more.
    ASSERT_EQ(open("f.txt", alice, 0x40, &file), 0u);
    csGetNameByNid(file->nid)->deleteOnClose = 1;
    CSFile *second = nullptr;
    EXPECT_EQ(open("f.txt", bob, 0x40, &second), 0xC0000056u);
    csReleaseFile(file->fid);
    EXPECT_FALSE(exists(root.file("f.txt")));
}

TEST_F(OpenFileTest, PipesBindOnTheIpcShare)
{
    CSShare ipc;
    setShare(ipc, "");
    ipc.isIpc = 1;
    alice.tree->share = &ipc;
    // SMB1 names the pipe after a separator, SMB2 without one.
    for (const char *open : {"/srvsvc", "\\srvsvc", "srvsvc"}) {
        SCOPED_TRACE(open);
        gNeighbours.calls.clear();
        std::vector<CMWchar> name = W(open);
        CSFile *file = nullptr;
        ASSERT_EQ(csOpenFile(name.data(), alice.tree->tid, 0x42, nullptr, &file), 0u);
        EXPECT_EQ(file->pipe, 1u);
        EXPECT_THAT(gNeighbours.calls, Contains("pipe srvsvc"));
        csReleaseFile(file->fid);
    }
    // Opens that deny all sharing do not shut out the next client's.
    std::vector<CMWchar> name = W("/srvsvc");
    CSFile *first = nullptr, *second = nullptr;
    ASSERT_EQ(csOpenFile(name.data(), alice.tree->tid, 0x12, nullptr, &first), 0u);
    EXPECT_EQ(csOpenFile(name.data(), alice.tree->tid, 0x12, nullptr, &second), 0u);
    if (second)
        csReleaseFile(second->fid);
    csReleaseFile(first->fid);
    gNeighbours.pipesOpen = false;
    CSFile *file = nullptr;
    EXPECT_EQ(csOpenFile(name.data(), alice.tree->tid, 0x42, nullptr, &file), 0xC0000034u);
    EXPECT_EQ(csGetFilesCount(), 0u);
}

TEST_F(OpenFileTest, EveryOpenOfAPipeIsAnInstanceOfItsOwn)
{
    CSShare ipc;
    setShare(ipc, "");
    ipc.isIpc = 1;
    alice.tree->share = &ipc;
    bob.tree->share = &ipc;
    std::vector<CMWchar> name = W("/spoolss");
    CSFile *first = nullptr, *second = nullptr;
    // Read-write, deny all: on a file the second open would be refused.
    ASSERT_EQ(csOpenFile(name.data(), alice.tree->tid, 0x12, nullptr, &first), 0u);
    ASSERT_EQ(csOpenFile(name.data(), bob.tree->tid, 0x12, nullptr, &second), 0u);
    EXPECT_NE(first, second);
    csReleaseFile(first->fid);
    csReleaseFile(second->fid);
}

TEST_F(OpenFileTest, CreateFileRefusesOpenNamesAndExistingFolders)
{
    std::filesystem::create_directory(root.file("d"));
    CSFile *file = nullptr, *held = nullptr;
    write("f.txt");
    ASSERT_EQ(open("f.txt", alice, 0x40, &held), 0u);
    EXPECT_EQ(csCreateFile(0, W(root.file("f.txt")).data(), alice.tree->tid, 0x42, &file), 0xC0000035u);
    EXPECT_EQ(csCreateFile(1, W(root.file("d")).data(), alice.tree->tid, 0x40, &file), 0xC0000022u);
    gNeighbours.canWrite = false;
    EXPECT_EQ(csCreateFile(0, W(root.file("new.txt")).data(), alice.tree->tid, 0x42, &file), 0xC0000005u);
    EXPECT_FALSE(exists(root.file("new.txt")));
    csReleaseFile(held->fid);
    EXPECT_EQ(csGetFilesCount(), 0u);
    gNeighbours.canWrite = true;
    // A no-data create keeps the mode's upper byte only.
    ASSERT_EQ(csCreateFile(0, W(root.file("new.txt")).data(), alice.tree->tid, 0x0844, &file), 0u);
    EXPECT_EQ(file->access, 0x0800u);
    csReleaseFile(file->fid);
}

}  // namespace
