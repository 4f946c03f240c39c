// The hook-file reader: chunk boundaries, end marks, token readers.
#include "udparse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

class ParserTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        parseStop(&ctx);
        if (!path.empty())
            unlink(path.c_str());
    }

    void open(const std::string &text)
    {
        char tmpl[] = "/tmp/cfgparseXXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        path = tmpl;
        ASSERT_NE(parseInit(&ctx, path.c_str()), 0);
    }

    // Reads every remaining character.
    std::string drain()
    {
        std::string out;
        for (int c; (c = parseGet(&ctx)) != PARSE_EOF;)
            out.push_back(static_cast<char>(c));
        return out;
    }

    ParseContext ctx{};
    std::string path;
};

TEST_F(ParserTest, MissingFileIsNotOpened)
{
    EXPECT_EQ(parseInit(&ctx, "/nonexistent/dir/file.txt"), 0);
    EXPECT_EQ(ctx.fd, -1);
    EXPECT_EQ(parseAtFileEnd(&ctx), 1);
    EXPECT_EQ(parseGet(&ctx), PARSE_EOF);
}

TEST_F(ParserTest, ExactMultipleOfChunkEndsAtNextChunkStart)
{
    std::string text(1024, 'a');
    open(text);
    EXPECT_EQ(drain(), text);
    EXPECT_EQ(ctx.position, 0u);
    EXPECT_EQ(ctx.buffer[0], 0xFF);
    EXPECT_EQ(ctx.fd, -1);
    EXPECT_EQ(parseAtFileEnd(&ctx), 1);
}

TEST_F(ParserTest, TextAcrossChunksReadsWhole)
{
    std::string text;
    for (int i = 0; i < 700; ++i)
        text.push_back(static_cast<char>('a' + i % 26));
    open(text);
    EXPECT_EQ(drain(), text);
}

TEST_F(ParserTest, ByteFFEndsTheFile)
{
    open(std::string("ab\xff"
                     "cd",
                     5));
    EXPECT_EQ(drain(), "ab");
    EXPECT_EQ(parseAtFileEnd(&ctx), 1);
}

TEST_F(ParserTest, HighBytesComeOutNegative)
{
    open("\x80\xfe");
    EXPECT_EQ(parseGet(&ctx), -128);
    EXPECT_EQ(parseGet(&ctx), -2);
    EXPECT_EQ(parseGet(&ctx), PARSE_EOF);
}

TEST_F(ParserTest, NameStopsAtNonNameCharacters)
{
    struct Case {
        const char *text;
        const char *name;
        int next;
    };
    const Case cases[] = {
        {"j-smith", "j", '-'},
        {"bob:pw", "bob", ':'},
        {"a b!#$%&'().^_`z@", "a b!#$%&'().^_`z", '@'},
        {"caf\xc3\xa9", "caf", -61},
        {"semi;colon", "semi", ';'},
        {"tab\there", "tab", '\t'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TearDown();
        open(c.text);
        char buf[64];
        parseName(&ctx, buf, sizeof buf);
        EXPECT_STREQ(buf, c.name);
        EXPECT_EQ(parseGet(&ctx), c.next);
    }
}

TEST_F(ParserTest, NameLongerThanBufferIsCutAndDrained)
{
    open("abcdefghij:x");
    char buf[5];
    parseName(&ctx, buf, sizeof buf);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(parseGet(&ctx), ':');
}

TEST_F(ParserTest, ValueCutKeepsDelimiterNext)
{
    open("123456789012345:x");
    char buf[11];
    parseValue(&ctx, buf, sizeof buf, ':');
    EXPECT_STREQ(buf, "1234567890");
    EXPECT_EQ(parseGet(&ctx), ':');
}

TEST_F(ParserTest, ValueKeepsTabsAndStopsAtLineEndOrHighByte)
{
    const struct {
        const char *text;
        int delim;
        const char *value;
    } cases[] = {
        {"a\tb;c\n", ';', "a\tb"},
        {"a\tb;c\r\n", 0, "a\tb;c"},
        {"abc\xc3z", 0, "abc"},
        {"to the end", 0, "to the end"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TearDown();
        open(c.text);
        char buf[32];
        parseValue(&ctx, buf, sizeof buf, c.delim);
        EXPECT_STREQ(buf, c.value);
    }
}

TEST_F(ParserTest, DelimiterSkipsBlanksAroundIt)
{
    open("  =  value");
    EXPECT_EQ(parseDelimiter(&ctx, ':'), 0);
    EXPECT_EQ(parseDelimiter(&ctx, '='), 1);
    char buf[16];
    parseValue(&ctx, buf, sizeof buf, 0);
    EXPECT_STREQ(buf, "value");
}

TEST_F(ParserTest, SkipLineEatsCrLfAndBlankLines)
{
    open("first line\r\n\r\n\nsecond");
    parseSkipLine(&ctx);
    char buf[16];
    parseValue(&ctx, buf, sizeof buf, 0);
    EXPECT_STREQ(buf, "second");
    parseSkipLine(&ctx);
    EXPECT_EQ(parseAtFileEnd(&ctx), 1);
}

TEST_F(ParserTest, SkipLineGoesToTheRealLineEnd)
{
    const struct {
        const char *text;
        int next;  // the first character after parseSkipLine
    } cases[] = {
        {"caf\xc3\xa9x;/mnt;c\nnext", 'n'}, {"\xc3\xa9\nnext", 'n'},
        {"a\n\xc3\xa9;x\n", -61},  // a line may start with a high byte
        {"ab\tc\r\n\r\nnext", 'n'},         {"last\xc3", PARSE_EOF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        open(c.text);
        parseSkipLine(&ctx);
        EXPECT_EQ(parseGet(&ctx), c.next);
        parseStop(&ctx);
        unlink(path.c_str());
        path.clear();
    }
}

TEST_F(ParserTest, LastLineOfOneCharacterWithoutLineEndIsKept)
{
    open("a:1\nb");
    parseSkipLine(&ctx);
    EXPECT_EQ(parseAtFileEnd(&ctx), 0);
    EXPECT_EQ(parseGet(&ctx), 'b');
    EXPECT_EQ(parseAtFileEnd(&ctx), 1);
}

TEST_F(ParserTest, AtLineEndLooksAtTheBuffer)
{
    open("x\ny");
    EXPECT_EQ(parseAtLineEnd(&ctx), 0);
    parseGet(&ctx);
    EXPECT_EQ(parseAtLineEnd(&ctx), 1);
}

}  // namespace
