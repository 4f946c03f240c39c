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
        {"poke x 0x10000 1", "err unknown command"}, // address beyond the memory
        {"poke q 1 1", "err unknown command"},
        {"fault delay 500 2", "ok"},
        {"fault delay", "err fault none|silent [N]|dup [N]|badfcs [N]|delay MS [N]"},
        {"fault silent x", "err bad count"},
        {"fault none", "ok"},
        {"reset low", "ok held"},
        {"peek x 0x6c32", "ok 000000"}, // the reset lost the memories
        {"reset high", "ok boot"},
        {"reset sideways", "err reset high|low|pulse"},
        {"", "err unknown command"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(chip.control(c.command), c.answer) << c.command;
}

} // namespace
} // namespace chipsim
