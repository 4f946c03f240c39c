// A file's information for files, pipes and print jobs; attribute rules;
// the four times with pinned ones; truncation by path and by handle.
#include "cmtime.h"
#include "cspaths.h"
#include "server_fixture.h"
#include "ud_test_env.h"

#include "fw_test/bytes.h"
#include "fw_test/temp_dir.h"

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using fw_test::get_le32;
using server_test::W;

TEST(FileAttributes, TheFilesKindStaysTheRequestSetsTheRest)
{
    const struct {
        uint32_t old, requested, result;
    } cases[] = {
        {0x10, 0x01, 0x11}, {0x21, 0, 0x21}, {0x80, 0x27, 0xA7}, {0x01, 0x10, 0x00}, {0x08, 0x02, 0x0A},
    };
    for (const auto &c : cases)
        EXPECT_EQ(csChangeFileAttributes(c.old, c.requested), c.result) << c.old << " " << c.requested;
}

TEST(FileAttributes, SearchAttributesMatch)
{
    const struct {
        uint32_t requested, attributes;
        int match;
    } cases[] = {
        {0x00, 0x00, 1}, {0x00, 0x20, 1}, {0x00, 0x02, 0}, {0x00, 0x10, 0}, {0x08, 0x00, 0}, {0x04, 0x00, 1},
        {0x04, 0x04, 1}, {0x02, 0x06, 0}, {0x16, 0x06, 1}, {0x16, 0x00, 1}, {0x16, 0x10, 1}, {0x10, 0x12, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(csMatchFileAttributes(c.requested, c.attributes), c.match)
            << c.requested << " " << c.attributes;
}

TEST(FileTimes, PinnedTimesWinOverTheFileSystems)
{
    SYFileInformation info{};
    info.creationTime = {1000, 0};
    info.lastAccessTime = {2000, 0};
    info.lastChangeTime = {3000, 0};  // the modification time: last write
    info.lastWriteTime = {4000, 0};   // the change time
    CSName name{};
    const uint8_t pinned[8] = {0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0xD0, 0x01};
    std::memcpy(name.createState + 16, pinned, 8);
    uint8_t out[32];
    csWriteFileTimes(&info, &name, out);
    const uint32_t ms[4] = {1000, 2000, 0, 4000};
    for (int i = 0; i < 4; ++i) {
        uint32_t low, high;
        if (i == 2) {
            low = 0x12345678, high = 0x01D00000;
        } else {
            cmCifsTimeToUTC(ms[i], 0, &low, &high);
        }
        EXPECT_EQ(get_le32(out + 8 * i), low) << i;
        EXPECT_EQ(get_le32(out + 8 * i + 4), high) << i;
    }
    csResetFileTimes(&name);
    csWriteFileTimes(&info, &name, out);
    uint32_t low, high;
    cmCifsTimeToUTC(3000, 0, &low, &high);
    EXPECT_EQ(get_le32(out + 16), low);
}

class FileInfoTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        path = dir.file("data.bin");
        std::ofstream(path) << "0123456789";
    }
    void TearDown() override
    {
        csCloseDatabase();
        testenv::HookTest::TearDown();
    }
    fw_test::TempDir dir{"file-info"};
    std::string path;
};

TEST_F(FileInfoTest, PipesAndPrintJobsHaveZeroedInformation)
{
    std::vector<CMWchar> w = W(path);
    SYFileInformation info{};
    info.fileIdLow = 77;
    info.endOfFile = {5, 0};
    CSFile pipe{};
    pipe.fd = -1;
    pipe.pipe = 1;
    ASSERT_EQ(csGetFileInformation(&pipe, w.data(), &info), 0);
    EXPECT_EQ(info.endOfFile.low, 0u);
    EXPECT_EQ(info.fileIdLow, 77u);
    EXPECT_EQ(csSetFileInformation(&pipe, w.data(), &info), 0);

    // A print job's word is its job, never read as a descriptor.
    CSFile job{};
    job.fd = 0;
    job.isPrintJob = 1;
    info.endOfFile = {5, 0};
    ASSERT_EQ(csGetFileInformation(&job, w.data(), &info), 0);
    EXPECT_EQ(info.endOfFile.low, 0u);

    CSFile closed{};
    closed.fd = -1;
    EXPECT_EQ(csGetFileInformation(&closed, w.data(), &info), -1);
    EXPECT_EQ(csSetFileInformation(&closed, w.data(), &info), -1);

    CSShare *ipc = csGetShareByName(W("IPC$").data());
    ASSERT_NE(ipc, nullptr);
    info.endOfFile = {5, 0};
    EXPECT_EQ(csGetFileInformationByName(ipc, w.data(), &info), 0);
    EXPECT_EQ(info.endOfFile.low, 0u);
    EXPECT_EQ(csGetFileInformationByName(nullptr, w.data(), &info), 0);
    EXPECT_EQ(info.endOfFile.low, 10u);
    std::vector<CMWchar> missing = W(dir.file("missing"));
    EXPECT_NE(csGetFileInformationByName(nullptr, missing.data(), &info), 0);
    EXPECT_EQ(csCanDeleteFile(w.data()), 1);
    EXPECT_EQ(csCanDeleteFile(missing.data()), 0);
}

TEST_F(FileInfoTest, TruncationByPathAndByHandle)
{
    std::vector<CMWchar> w = W(path);
    csDispatchSetNtError(1);
    EXPECT_EQ(csTruncateFile(nullptr, nullptr, 0, 0), 0xC000000Du);
    std::vector<CMWchar> missing = W(dir.file("missing"));
    EXPECT_EQ(csTruncateFile(nullptr, missing.data(), 0, 0), 0xC000000Du);
    ASSERT_EQ(csTruncateFile(nullptr, w.data(), 4, 0), 0u);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4);

    CSFile file{};
    file.fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(file.fd, 0);
    ASSERT_EQ(lseek(file.fd, 3, SEEK_SET), 3);
    ASSERT_EQ(csTruncateFile(&file, w.data(), 100, 0), 0u);
    EXPECT_EQ(lseek(file.fd, 0, SEEK_CUR), 0);
    SYFileInformation info{};
    ASSERT_EQ(csGetFileInformation(&file, w.data(), &info), 0);
    EXPECT_EQ(info.endOfFile.low, 100u);
    close(file.fd);
}

}  // namespace
