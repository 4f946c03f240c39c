#include "chipsim/chip.hpp"

#include <gtest/gtest.h>

namespace chipsim {
namespace {

TEST(Control, CommandsAndTheirAnswers)
{
    Chip chip;
    struct Case {
        const char *command;
        const char *answer;
    } cases[] = {
        {"state", "ok boot"},
        {"poke x 0x6c32 0x123456", "ok"},
        {"peek x 0x6c32", "ok 123456"},
        {"peek y 0x6c32", "ok 000000"},
        {"poke x 0x10000 1", "err unknown command"},  // address beyond the memory
        {"poke q 1 1", "err unknown command"},
        {"fault delay 500 2", "ok"},
        {"fault delay", "err fault none|silent [N]|dup [N]|badfcs [N]|delay MS [N]"},
        {"fault silent x", "err bad count"},
        {"fault none", "ok"},
        {"reset low", "ok held"},
        {"peek x 0x6c32", "ok 000000"},  // the reset lost the memories
        {"reset high", "ok boot"},
        {"reset sideways", "err reset high|low|pulse"},
        {"fill y 0xfffe 3 0xabcdef", "ok"},
        {"peek y 0xffff", "ok abcdef"},
        {"peek y 0x0000", "ok 000000"},         // a run ends at the memory's end
        {"fill y 0 2", "err unknown command"},  // no value
        {"delt sideways", "err delt done|fail|silent|time MS"},
        {"selt flags 0x800000", "err unknown command"},  // bit 23 is the run's own
        {"", "err unknown command"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(chip.control(c.command), c.answer) << c.command;
}

TEST(Control, ServiceRecord)
{
    Chip chip;
    ASSERT_NE(chip.service_record(), nullptr);
    auto text = [&](size_t offset) {
        return std::string(reinterpret_cast<const char *>(chip.service_record()->data() + offset));
    };
    EXPECT_EQ(text(0), "SIM0001");
    EXPECT_EQ(text(112), "ZMO-SIM-01");
    EXPECT_EQ(chip.control("service host h.example"), "ok");
    EXPECT_EQ(text(32), "h.example");
    // A value longer than its field is cut at the width: the next field stays.
    EXPECT_EQ(chip.control("service tag " + std::string(40, 't')), "ok");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(chip.service_record()->data()), 32),
              std::string(32, 't'));
    EXPECT_EQ(text(32), "h.example");
    EXPECT_EQ(chip.control("service pass -"), "ok");
    EXPECT_EQ(text(80), "");
    std::string hex = chip.control("service");
    ASSERT_EQ(hex.size(), 3 + 2 * kServiceRecordSize);
    EXPECT_EQ(hex.substr(0, 3 + 8), "ok 74747474");
    EXPECT_EQ(chip.control("service refuse on"), "ok");
    EXPECT_EQ(chip.service_record(), nullptr);
    EXPECT_EQ(chip.control("service"), "err refused");
    EXPECT_EQ(chip.control("service refuse off"), "ok");
    EXPECT_EQ(chip.control("service nothing x"),
              "err service [tag|host|pass|hwid|checksum TEXT | refuse on|off]");
}

}  // namespace
}  // namespace chipsim
