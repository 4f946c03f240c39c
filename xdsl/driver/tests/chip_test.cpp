// Chip reset, board hooks and self tests.
#include "fw_test/matchers.h"
#include "vdsl_fixture.hpp"

using fw_test::HasSubstr;

namespace vdsltest {
namespace {

class Chip : public Driver {
protected:
    void SetUp() override
    {
        Driver::SetUp();
        ASSERT_EQ(set_mgt(), 0);
        ASSERT_EQ(firmware_phase(3), 0);
        sent.clear();
        kstandin_log_clear();
    }
    long req(unsigned cmd, std::initializer_list<unsigned char> head)
    {
        Block b = block(VDSL_BLOCK_HEAD);
        std::copy(head.begin(), head.end(), b.begin());
        return ioctl(cmd, b);
    }
};

TEST_F(Chip, ResetRequestsAndPortState)
{
    struct Case {
        unsigned cmd;
        unsigned char port;
        uint8_t state;
    } cases[] = {
        {VDSL_RESET_CHIP, 2, VDSL_STATE_IDLE},       // port 2: nothing
        {VDSL_RESET_CHIP_HIGH, 1, VDSL_STATE_IDLE},  // port 1 has no record
        {VDSL_RESET_CHIP_LOW, 1, VDSL_STATE_IDLE},
        {VDSL_RESET_CHIP, 1, VDSL_STATE_DISABLE},  // one chip: port 0 is reset
        {VDSL_RESET_CHIP_HIGH, 0, VDSL_STATE_DISABLE},
        {VDSL_RESET_CHIP_LOW, 0, VDSL_STATE_DISABLE},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(firmware_phase(3), 0);
        EXPECT_EQ(req(c.cmd, {c.port}), 0);
        EXPECT_EQ(op_state(), c.state) << std::hex << c.cmd << " port " << int(c.port);
    }
    // A disabled port reaches no chip word.
    sent.clear();
    Block a;
    EXPECT_EQ(mib_read("2.1.5", a), 100);
    uint32_t v;
    EXPECT_EQ(word_read(VDSL_GET_MEM, 0x6C36, 0, v), 100);
    EXPECT_TRUE(sent.empty());
}

TEST_F(Chip, GpioTestPrintsAndChecksItsArguments)
{
    struct Case {
        unsigned char pin, type, value;
        const char *printed;
    } cases[] = {
        {3, 2, 1, "vdsl_gpio_test: pin=3 hex=8, type=2, value=1\n"},
        {3, 4, 1, "vdsl_gpio_test: invalid type\n"},
        {0, 1, 2, "vdsl_gpio_test: invalid value\n"},
        {31, 3, 0, "vdsl_gpio_test: pin=31 hex=80000000, type=3, value=0\n"},
        {32, 2, 1, "vdsl_gpio_test: invalid pin\n"},
    };
    for (const Case &c : cases) {
        kstandin_log_clear();
        EXPECT_EQ(req(VDSL_GPIO_TEST, {c.pin, c.type, c.value}), 0);
        EXPECT_THAT(log(), HasSubstr(c.printed)) << c.printed << " in " << log();
    }
}

TEST_F(Chip, HpiTestsWithoutAWindow)
{
    EXPECT_EQ(req(VDSL_HPI_TEST, {0}), 0);
    EXPECT_EQ(req(VDSL_HPI_TEST_WRITE, {0}), 0);
    EXPECT_EQ(log(), "HPI test\nHPI test\n");
    EXPECT_EQ(req(VDSL_HPI_TEST_READ_FIXSIZE, {0}), 0);
    EXPECT_THAT(log(), HasSubstr("hpi_test_read_only_fixsize: Reading 16 bytes\n"));
    EXPECT_TRUE(sent.empty());
    // The read-only test reads X word 0 over EBM.
    EXPECT_EQ(req(VDSL_HPI_TEST_READ, {}), 0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][17], 0);
    EXPECT_EQ(sent[0][18], 0);
    EXPECT_EQ(req(VDSL_BUS_MARK_1, {}), 0);
    EXPECT_EQ(req(VDSL_BUS_MARK_2, {}), 0);
}

}  // namespace
}  // namespace vdsltest
