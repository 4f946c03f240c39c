// The error log: level 2, one line, cut at 1023 characters.
#include "syerror.h"

#include "fw_test/log_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(LogError, OneLineAtErrorLevel)
{
    std::vector<fw_test::LogLine> lines;
    {
        fw_test::LogCapture log;
        logError("No more %s slots", "session");
        logError("%s", std::string(2000, 'x').c_str());
        logError("100%% of %d", 5);
        lines = log.entries();
    }

    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].line, "No more session slots");
    EXPECT_EQ(lines[1].line, std::string(1023, 'x'));
    EXPECT_EQ(lines[2].line, "100% of 5") << "the text is not formatted twice";
}

}  // namespace
