// The device and its request set: load, blocks, texts, unknown numbers,
// the simple setters and the request lock.
#include "fw_test/matchers.h"
#include "vdsl_fixture.hpp"

#include <atomic>
#include <thread>

using fw_test::HasSubstr;
using fw_test::Not;

namespace vdsltest {
namespace {

using Ioctl = Driver;

TEST_F(Ioctl, LoadPrintsVersionAndRegistersMajor109)
{
    EXPECT_THAT(log(), HasSubstr("<6>xDSL device driver 1.7.9-37 loaded\n"));
    EXPECT_TRUE(kstandin_chrdev_registered(VDSL_MAJOR));
}

TEST_F(Ioctl, VersionAnswersVersionAndStamp)
{
    Block b = block(VDSL_BLOCK_HEAD);
    std::fill(b.begin(), b.end(), 0xEE);
    EXPECT_EQ(ioctl(VDSL_DRIVER_VERSION, b), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(b.data()), "1.7.9-37;201904102211");
    EXPECT_EQ(b[63], 0);  // the whole 64-byte copy comes back
}

TEST_F(Ioctl, UnknownNumbersAnswerMinus25AndAreLogged)
{
    for (unsigned cmd : {0x7612u, 0x7634u, 0x7652u, 0x1234u, 0x76020u}) {
        Block b = block(VDSL_BLOCK_HEAD);
        EXPECT_EQ(ioctl(cmd, b), -25) << std::hex << cmd;
        char want[40];
        snprintf(want, sizeof want, "no such ioctl case 0x%x\n", cmd);
        EXPECT_THAT(log(), HasSubstr(want)) << want;
    }
}

TEST_F(Ioctl, BlocksAndTextsStayInsideTheCallersMemory)
{
    struct Case {
        const char *what;
        unsigned cmd;
        size_t size;
        std::string oid;
        long want;
    } cases[] = {
        {"block shorter than the 64-byte head", VDSL_DRIVER_VERSION, 63, "", -14},
        {"OID of 511 characters is taken", VDSL_GET_DATA_LOGIC, VDSL_BLOCK_SIZE,
         "2.1.5" + std::string(506, 'x'), 100},
        {"OID of 512 characters", VDSL_GET_DATA_LOGIC, VDSL_BLOCK_SIZE, "2.1.5" + std::string(507, 'x'),
         -117},
        {"OID without zero byte in the block", VDSL_GET_DATA_LOGIC, VDSL_BLOCK_HEAD, std::string(63, '1'),
         -14},
        {"answer larger than the block", VDSL_GET_DATA_LOGIC, VDSL_BLOCK_HEAD, "2.1.5", -14},
    };
    for (const Case &c : cases) {
        Block b = block(c.size);
        std::copy(c.oid.begin(), c.oid.end(), b.begin() + 1);
        EXPECT_EQ(ioctl(c.cmd, b), c.want) << c.what;
    }
    // A null argument dispatches with a zero head; answers and texts fault.
    EXPECT_EQ(ioctl_null(VDSL_DRIVER_VERSION), -14);
    EXPECT_EQ(ioctl_null(VDSL_GET_DATA_LOGIC), -14);
    EXPECT_EQ(ioctl_null(VDSL_SET_DEBUG_LEVEL), 0);
}

TEST_F(Ioctl, WriteValueMustEndInsideTheBlock)
{
    Block b = block();
    std::string oid = "2.1.5";
    std::copy(oid.begin(), oid.end(), b.begin() + 1);
    std::fill(b.begin() + 7, b.end(), 'a');  // value text without a zero byte
    EXPECT_EQ(ioctl(VDSL_SET_DATA_LOGIC, b), -117);
}

TEST_F(Ioctl, AutoResetSetAndQuery)
{
    struct Step {
        unsigned char op;
        bool answers;
        unsigned char b0;
    } steps[] = {{2, true, 1}, {0, false, 0}, {2, true, 0}, {7, false, 7}, {1, false, 1}, {2, true, 1}};
    for (const Step &s : steps) {
        Block b = block(VDSL_BLOCK_HEAD);
        b[0] = s.op;
        b[5] = 0x55;
        EXPECT_EQ(ioctl(VDSL_AUTO_RESET, b), 0);
        EXPECT_EQ(b[0], s.b0) << int(s.op);
    }
}

TEST_F(Ioctl, SettersStoreTheirNumbers)
{
    Block b = block(VDSL_BLOCK_HEAD);
    std::memcpy(b.data(), "250", 4);
    EXPECT_EQ(ioctl(VDSL_SET_THREAD_DELAY, b), 0);
    EXPECT_EQ(thread_delay, 250u);
    // Digits to the very end of the head: no zero byte to run past.
    std::fill(b.begin(), b.end(), '7');
    EXPECT_EQ(ioctl(VDSL_SET_THREAD_DELAY, b), 0);

    b = block(VDSL_BLOCK_HEAD);
    b[0] = 0x12;
    b[1] = 0x34;
    b[2] = 0x56;
    b[3] = 0x78;
    EXPECT_EQ(ioctl(VDSL_SET_DEBUG_LEVEL, b), 0);
    EXPECT_EQ(debug_level, 0x12345678u);
    b[0] = 42;
    EXPECT_EQ(ioctl(VDSL_SET_DELAY, b), 0);
    EXPECT_EQ(DELAY, 42u);
}

TEST_F(Ioctl, PortChecksAndDebugPrint)
{
    Block b = block(VDSL_BLOCK_HEAD);
    b[0] = 0;
    EXPECT_EQ(ioctl(VDSL_OP_STATUS, b), 0);
    EXPECT_EQ(b[0], VDSL_STATE_DISABLE);

    b[0] = 1;
    EXPECT_EQ(ioctl(VDSL_OP_STATUS, b), 100);
    EXPECT_THAT(log(), Not(HasSubstr("Invalid portid")));  // debug mask 0: silent
    Block mask = block(VDSL_BLOCK_HEAD);
    mask[3] = 8;
    ioctl(VDSL_SET_DEBUG_LEVEL, mask);
    b[0] = 1;
    EXPECT_EQ(ioctl(VDSL_OP_STATUS, b), 100);
    EXPECT_THAT(log(), HasSubstr("Invalid portid=1\n"));
}

TEST_F(Ioctl, FirmwarePhaseForPortTwoAnswersOneAndLeavesDriverUsable)
{
    Block b = block();
    b[0] = 2;
    b[1] = 1;
    EXPECT_EQ(ioctl(VDSL_DOWNLOAD_FIRMWARE, b), 1);
    Block v = block(VDSL_BLOCK_HEAD);
    EXPECT_EQ(ioctl(VDSL_DRIVER_VERSION, v), 0);
}

TEST_F(Ioctl, InterruptedWaitForTheRequestLockAnswersMinus512)
{
    down(&vdsl_req_sem);  // another request holds the device
    std::atomic<task_struct *> task{nullptr};
    long rc = 0;
    std::thread t([&] {
        task = kstandin_task_self();
        Block b = block(VDSL_BLOCK_HEAD);
        rc = ioctl(VDSL_DRIVER_VERSION, b);
    });
    while (!task)
        std::this_thread::yield();
    kstandin_task_interrupt(task);
    t.join();
    up(&vdsl_req_sem);
    EXPECT_EQ(rc, -512);
    Block b = block(VDSL_BLOCK_HEAD);
    EXPECT_EQ(ioctl(VDSL_DRIVER_VERSION, b), 0);  // the lock was not lost
}

TEST_F(Ioctl, UnloadPrintsAndRemovesTheDevice)
{
    kstandin_module_exit();
    EXPECT_THAT(log(), HasSubstr("<6>xDSL device driver 1.7.9-37 unloaded\n"));
    EXPECT_FALSE(kstandin_chrdev_registered(VDSL_MAJOR));
    ASSERT_EQ(kstandin_module_init(), 0);  // for TearDown
}

}  // namespace
}  // namespace vdsltest
