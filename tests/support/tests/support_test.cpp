// The shared test helpers themselves.
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <zmo.h>

#include "fw_test/bytes.h"
#include "fw_test/log_capture.h"
#include "fw_test/matchers.h"
#include "fw_test/memory_file.h"
#include "fw_test/temp_dir.h"

using namespace fw_test;

TEST(TempDir, MadeEmptyAndRemovedWithWhatItHolds)
{
    std::string kept;
    {
        TempDir dir("support-test");
        kept = dir.path();
        ASSERT_TRUE(std::filesystem::is_directory(kept));
        EXPECT_THAT(kept, HasSubstr("support-test-"));
        EXPECT_TRUE(std::filesystem::is_empty(kept));
        EXPECT_EQ(dir.file("a"), kept + "/a");
        std::filesystem::create_directories(dir.file("sub/deeper"));
        std::ofstream(dir.file("sub/deeper/f")) << "x";
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(TempDir, TwoAreDistinct)
{
    TempDir a, b;
    EXPECT_NE(a.path(), b.path());
}

TEST(LogCapture, SeesLinesWhileItLives)
{
    zmo_log(ZMO_LOG_INFO, "before");
    std::vector<std::string> outside;
    {
        LogCapture log;
        zmo_log(ZMO_LOG_ERROR, "one %d", 1);
        zmo_log_debug(1, "hidden");
        ASSERT_EQ(log.entries().size(), 1u);
        EXPECT_EQ(log.entries()[0].level, ZMO_LOG_ERROR);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"one 1"});
        log.clear();
        EXPECT_TRUE(log.lines().empty());
    }
    zmo_log(ZMO_LOG_INFO, "after");  // no hook left behind
    EXPECT_EQ(zmo_log_get_debug(), 0);
}

// Lines logged by other threads while the test reads.
TEST(LogCapture, LinesFromOtherThreads)
{
    LogCapture log;
    std::thread t([] {
        for (int i = 0; i < 1000; i++)
            zmo_log(ZMO_LOG_INFO, "line %d", i);
    });
    while (!log.contains("line 999"))
        (void)log.lines();
    t.join();
    EXPECT_EQ(log.lines().size(), 1000u);
}

TEST(LogCapture, DebugVerbosity)
{
    LogCapture log(2);
    zmo_log_debug(2, "shown");
    zmo_log_debug(3, "not shown");
    EXPECT_THAT(log.lines(), ElementsAre("shown"));
    EXPECT_EQ(log.entries()[0].level, ZMO_LOG_DEBUG);
}

TEST(Bytes, HexBothWays)
{
    EXPECT_EQ(hex("41 01 ab"), (Bytes{0x41, 0x01, 0xab}));
    EXPECT_EQ(hex("DEAD:beef"), (Bytes{0xde, 0xad, 0xbe, 0xef}));
    EXPECT_EQ(hex(""), Bytes{});
    EXPECT_EQ(hex("abc"), Bytes{0xab}) << "an odd last digit is dropped";
    EXPECT_EQ(to_hex(Bytes{0x00, 0x0f, 0xf0, 0xff}), "000ff0ff");
    EXPECT_EQ(to_hex(hex("0123456789abcdef")), "0123456789abcdef");
    EXPECT_EQ(text_bytes("Az"), (Bytes{'A', 'z'}));
}

TEST(Bytes, LittleEndianNumbers)
{
    Bytes b;
    put_le16(b, 0x1234);
    put_le32(b, 0x89abcdef);
    EXPECT_EQ(b, hex("3412 efcdab89"));
    EXPECT_EQ(get_le16(b.data()), 0x1234);
    EXPECT_EQ(get_le32(b.data() + 2), 0x89abcdefu);
}

TEST(MemoryFile, HoldsWhatIsPrinted)
{
    fw_test::MemoryFile f;
    ASSERT_NE(f.get(), nullptr);
    EXPECT_EQ(f.text(), "");
    std::fprintf(f.get(), "a=%d\n", 1);
    EXPECT_EQ(f.text(), "a=1\n");
    std::fputs("b", f.get());
    EXPECT_EQ(f.text(), "a=1\nb");
}

TEST(Matchers, HexIsAndSubstrings)
{
    EXPECT_THAT((Bytes{1, 2, 0xff}), HexIs("01 02 ff"));
    EXPECT_THAT((Bytes{1, 2}), Not(HexIs("01 03")));
    EXPECT_THAT(std::string("ready on port 53"),
                AllOf(HasSubstr("port"), StartsWith("ready"), EndsWith("53")));
    EXPECT_THAT(std::string("x"), Not(HasSubstr("y")));
    testing::StringMatchResultListener listener;
    EXPECT_FALSE(testing::ExplainMatchResult(HexIs("01"), Bytes{2}, &listener));
    EXPECT_EQ(listener.str(), "which is 02");
}
