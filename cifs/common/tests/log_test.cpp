// The error log: level 2, one line, cut at 1023 characters.
#include "syerror.h"

#include <zmo.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Line {
    int level;
    std::string text;
};

void capture(void *ctx, int level, const char *, const char *line) {
    static_cast<std::vector<Line> *>(ctx)->push_back({level, line});
}

TEST(LogError, OneLineAtErrorLevel) {
    std::vector<Line> lines;
    zmo_log_set_hook(capture, &lines);
    logError("No more %s slots", "session");
    logError("%s", std::string(2000, 'x').c_str());
    logError("100%% of %d", 5);
    zmo_log_set_hook(nullptr, nullptr);

    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].text, "No more session slots");
    EXPECT_EQ(lines[1].text, std::string(1023, 'x'));
    EXPECT_EQ(lines[2].text, "100% of 5") << "the text is not formatted twice";
}

}  // namespace
