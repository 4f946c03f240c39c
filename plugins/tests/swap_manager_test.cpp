// The swap manager: the setting's limits, pending areas, the volume's
// events, what it refuses to touch, and making the file in the background.
#include "plugin_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

class SwapTest : public PluginCoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        std::filesystem::create_directories(dir_ + "/mnt");
        ASSERT_FALSE(Failed(Load(SWAP_PLUGIN))) << load_output_;
    }
    std::string Mount() { return Run("event fs add name=USB0 label=DISK usb=1 dir=/mnt"); }
    // Runs a setting that may go on in the background to its end.
    std::string Set(const std::string &line) { return Run(line + "\nshow running-config"); }
    bool WaitSwapOn(const std::string &path, size_t count = 1)
    {
        for (int i = 0; i < 500; ++i) {
            if (Count("swapon " + path) >= count)
                return true;
            usleep(10000);
        }
        return false;
    }
    std::string Bytes(const std::string &path, size_t offset, size_t size)
    {
        std::string s = File(dir_ + path);
        return offset < s.size() ? s.substr(offset, size) : std::string();
    }
    uint32_t U32(const std::string &path, size_t offset)
    {
        uint32_t v = 0;
        std::string b = Bytes(path, offset, 4);
        if (b.size() == 4)
            std::memcpy(&v, b.data(), 4);
        return v;
    }
    size_t page_ = 4096;
};

TEST_F(SwapTest, SizeLimits)
{
    struct Case {
        const char *size;
        const char *answer;
    } cases[] = {
        {"15", "[0x809c0003] swap file size must be at least 16Kb (argument \"size\")"},
        {"2097153", "[0x809c0004] swap file size must not be greater than 2097152Kb (argument \"size\")"},
        {"x1",
         "[0x809c000d] \"x1\" size value should be an integer in range [16, 2097152] (argument \"size\")"},
        {"-16", "[0x809c000d] \"-16\" size value"},
        {"16k", "[0x809c000d] \"16k\" size value"},
        {"99999999999999999999999", "[0x809c000d]"},
        {"16", "[0x409c0001] pending swap area USB0:/swapfile"},
        {"2097152", "[0x409c0001] pending swap area USB0:/swapfile"},
    };
    for (const Case &c : cases)
        EXPECT_THAT(Run(std::string("system swap USB0:/swapfile ") + c.size), HasSubstr(c.answer)) << c.size;
    EXPECT_THAT(Run("show running-config"), HasSubstr("system swap USB0:/swapfile 2097152"));
    EXPECT_THAT(Run("system swap USB0:/swapfile 2097152"),
                HasSubstr("[0x409c0002] pending swap area USB0:/swapfile"));
    EXPECT_THAT(Run("no system swap"), HasSubstr("[0x009c0005]"));
    EXPECT_THAT(Run("no system swap"), HasSubstr("[0x009c0008] swap area disabled"));
    EXPECT_EQ(Run("show running-config"), "");
}

// Pending until the volume comes; the file then gets its space, the header
// and swap on; it goes off before the volume is unmounted.
TEST_F(SwapTest, PendingAreaComesOnWithTheVolume)
{
    Run("system swap DISK:/swapfile 18");  // not a whole number of pages
    EXPECT_FALSE(Exists("/mnt/swapfile"));
    Mount();
    ASSERT_TRUE(WaitSwapOn("/mnt/swapfile")) << ::testing::PrintToString(host_->Journal());
    const size_t rounded = (18 * 1024 + page_ - 1) / page_ * page_;
    struct stat st;
    ASSERT_EQ(stat((dir_ + "/mnt/swapfile").c_str(), &st), 0);
    EXPECT_EQ(static_cast<size_t>(st.st_size), rounded);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(U32("/mnt/swapfile", 1024), 1u);                   // version
    EXPECT_EQ(U32("/mnt/swapfile", 1028), rounded / page_ - 1);  // last page
    EXPECT_EQ(U32("/mnt/swapfile", 1032), 0u);                   // bad pages
    EXPECT_NE(Bytes("/mnt/swapfile", 1036, 16), std::string(16, '\0'));
    EXPECT_EQ(Bytes("/mnt/swapfile", 1052, 16), std::string("ZMO_SWAP") + std::string(8, '\0'));
    EXPECT_EQ(Bytes("/mnt/swapfile", 1068, page_ - 10 - 1068), std::string(page_ - 10 - 1068, '\0'));
    EXPECT_EQ(Bytes("/mnt/swapfile", page_ - 10, 10), "SWAPSPACE2");
    // Turned on by an event: the configuration is not saved for it.
    EXPECT_FALSE(Journaled("event SaveConfiguration"));
    // At most one progress event per whole percent, from 0.
    auto progress = host_->JournalMatching("event Progress DISK:/swapfile");
    EXPECT_LE(progress.size(), 100u);
    ASSERT_FALSE(progress.empty());
    EXPECT_THAT(progress[0], HasSubstr(" 0%"));

    Run("event fs prepare name=USB0");
    EXPECT_TRUE(Journaled("swapoff /mnt/swapfile"));
    Run("event fs remove name=USB0\n");
    Mount();  // back: the file is ours already and is used as it is
    ASSERT_TRUE(WaitSwapOn("/mnt/swapfile", 2));
}

TEST_F(SwapTest, RepeatedMountEventRewritesNothing)
{
    Mount();
    Set("system swap USB0:/swapfile 16");
    ASSERT_TRUE(WaitSwapOn("/mnt/swapfile"));
    EXPECT_TRUE(Journaled("event SaveConfiguration"));
    const std::string before = File(dir_ + "/mnt/swapfile");
    host_->ClearJournal();
    // The same volume again, and another whose label the area begins with.
    Mount();
    Run("event fs add name=USB7 label=USB dir=/other");
    host_->Drain();
    usleep(50000);
    EXPECT_EQ(File(dir_ + "/mnt/swapfile"), before);
    EXPECT_FALSE(Journaled("swapon"));
    EXPECT_FALSE(Journaled("file open"));
    // That other volume going away does not turn ours off in our books.
    Run("event fs remove name=USB7");
    Run("event fs prepare name=USB0");
    EXPECT_TRUE(Journaled("swapoff /mnt/swapfile"));
}

TEST_F(SwapTest, SameSettingAgainTouchesNothing)
{
    Mount();
    Set("system swap USB0:/swapfile 16");
    ASSERT_TRUE(WaitSwapOn("/mnt/swapfile"));
    host_->ClearJournal();
    EXPECT_THAT(Run("system swap USB0:/swapfile 16"),
                HasSubstr("[0x009c0007] enabled swap area USB0:/swapfile"));
    EXPECT_FALSE(Journaled("swap"));
}

// Links and files that are not swap files are not ours to cut and stamp.
TEST_F(SwapTest, LinksAndForeignFilesAreRefusedUntouched)
{
    Mount();
    const std::string target = dir_ + "/precious";
    std::ofstream(target) << std::string(70000, 'p');
    std::filesystem::create_symlink(target, dir_ + "/mnt/link");
    std::ofstream(dir_ + "/mnt/photo.jpg") << std::string(70000, 'j');
    std::filesystem::create_directory(dir_ + "/mnt/folder");
    struct Case {
        const char *area;
        const char *why;
    } cases[] = {
        {"USB0:/link", "Too many levels of symbolic links"},
        {"USB0:/photo.jpg", "not a swap file"},
        {"USB0:/folder", ""},
    };
    for (const Case &c : cases) {
        std::string out = Run(std::string("system swap ") + c.area + " 64");
        EXPECT_THAT(out, HasSubstr(std::string("[0x809c0005] unable to initialize ") + c.area + ": " + c.why))
            << out;
        EXPECT_THAT(out, HasSubstr("(argument \"area\")"));
    }
    EXPECT_EQ(File(target), std::string(70000, 'p'));
    EXPECT_EQ(File(dir_ + "/mnt/photo.jpg"), std::string(70000, 'j'));
    EXPECT_FALSE(Journaled("swapon"));
    EXPECT_EQ(Run("show running-config"), "");
}

// An existing swap file longer than asked is cut and used at once.
TEST_F(SwapTest, LongerSwapFileIsCutWithoutBackgroundWork)
{
    Mount();
    Set("system swap USB0:/swapfile 64");
    ASSERT_TRUE(WaitSwapOn("/mnt/swapfile"));
    std::string out = Run("system swap USB0:/swapfile 32");
    EXPECT_THAT(out, HasSubstr("[0x009c0003] enabled swap area USB0:/swapfile"));
    EXPECT_EQ(std::filesystem::file_size(dir_ + "/mnt/swapfile"), 32u * 1024);
    EXPECT_EQ(U32("/mnt/swapfile", 1028), 32 * 1024 / page_ - 1);
}

TEST_F(SwapTest, InterruptLeavesNoHeader)
{
    Mount();
    std::string out = Run("system swap USB0:/swapfile 1048576\ninterrupt");
    EXPECT_THAT(out, HasSubstr("[0x409c0003] swap is being initialized in background"));
    EXPECT_THAT(out, HasSubstr("swap initialization interrupted")) << out;
    EXPECT_NE(Bytes("/mnt/swapfile", page_ - 10, 10), "SWAPSPACE2");
    EXPECT_FALSE(Journaled("swapon"));
    EXPECT_EQ(Run("show running-config"), "");
    std::filesystem::remove(dir_ + "/mnt/swapfile");
}

TEST_F(SwapTest, WriteErrorEndsTheRunWithItsReason)
{
    Mount();
    host_->InjectFailure("file.write", 1, 2);
    std::string out = Set("system swap USB0:/swapfile 64");
    EXPECT_THAT(out, HasSubstr("unable to initialize USB0:/swapfile: No space left on device")) << out;
    EXPECT_FALSE(Journaled("swapon"));
}

// The driver took the preallocation but the last byte could not be
// written: the zeros then go from the start, leaving no hole for swapon.
TEST_F(SwapTest, FailureAfterPreallocationLeavesNoHole)
{
    Mount();
    host_->InjectFailure("file.ioctl.accept");
    host_->InjectFailure("file.write");
    Set("system swap USB0:/swapfile 256");
    ASSERT_TRUE(WaitSwapOn("/mnt/swapfile"));
    struct stat st;
    ASSERT_EQ(stat((dir_ + "/mnt/swapfile").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 256 * 1024);
    EXPECT_GE(static_cast<off_t>(st.st_blocks) * 512, st.st_size);
    EXPECT_EQ(Bytes("/mnt/swapfile", page_ - 10, 10), "SWAPSPACE2");
}

TEST_F(SwapTest, RefusedSwapOnEndsTheProgress)
{
    Mount();
    host_->InjectFailure("swap.on");
    std::string out = Set("system swap USB0:/swapfile 64");
    EXPECT_THAT(out, HasSubstr("unable to turn on swap area USB0:/swapfile")) << out;
}

// A file made for a task that could not be had is not left behind (it
// would be refused later as "not a swap file").
TEST_F(SwapTest, FileOfAnInitializerThatCouldNotBeMadeGoes)
{
    Mount();
    for (int after : {3, 4}) {  // past the two arguments and the file: the task, its page buffer
        SCOPED_TRACE(after);
        host_->InjectFailure("alloc", 1, after);
        std::string out = Run("system swap USB0:/swapfile 64");
        EXPECT_THAT(out, HasSubstr("[0xcffe0")) << out;
        EXPECT_FALSE(Exists("/mnt/swapfile"));
    }
    Set("system swap USB0:/swapfile 64");
    EXPECT_TRUE(WaitSwapOn("/mnt/swapfile"));
}

class SwapStartTest : public PluginCoreTest {};

TEST_F(SwapStartTest, EveryAllocationOfInitializeFailingInTurn)
{
    for (int after = 0;; ++after) {
        SCOPED_TRACE(after);
        host_->InjectFailure("alloc", 1, after);
        ReturnT r = Load(SWAP_PLUGIN);
        if (host_->FailurePending("alloc")) {
            ASSERT_FALSE(Failed(r)) << load_output_;
            break;
        }
        EXPECT_TRUE(Failed(r)) << load_output_;
        EXPECT_EQ(Core::Core::Find_("Swap::Manager"), nullptr);
        ASSERT_LT(after, 100);
    }
}

TEST_F(SwapStartTest, RefusedSubscriptionOrCommandLeavesNothing)
{
    for (const char *op : {"event.subscribe", "command.init", "command.register"}) {
        SCOPED_TRACE(op);
        host_->InjectFailure(op);
        EXPECT_TRUE(Failed(Load(SWAP_PLUGIN))) << load_output_;
        EXPECT_EQ(Core::Core::Find_("Swap::Manager"), nullptr);
    }
}

}  // namespace
