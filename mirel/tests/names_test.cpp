#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fw_test/matchers.h"
#include "../src/layers.h"
#include "coap_uri.h"
#include "test_util.h"
#include "zmo.h"

using fw_test::HasSubstr;
using fw_test::Not;

using namespace mirel_test;

namespace {

TEST(Names, CodeText)
{
    char buf[64];
    struct Case {
        int code, mode;
        const char *text;
    } cases[] = {
        {69, COAP_CODESTR_BOTH, "2.05 (Content)"},
        {69, COAP_CODESTR_NAME, "Content"},
        {69, COAP_CODESTR_TEXT, "2.05"},
        {70, COAP_CODESTR_BOTH, "2.06"},
        {70, COAP_CODESTR_NAME, "2.06"},
        {0, COAP_CODESTR_BOTH, "0.00 (Empty)"},
        {95, COAP_CODESTR_NAME, "Continue"},
        {132, COAP_CODESTR_BOTH, "4.04 (Not Found)"},
        {165, COAP_CODESTR_NAME, "Proxying not supported"},
        {255, COAP_CODESTR_BOTH, "7.31"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(CoAPMessage_CodeStr(c.code, buf, sizeof buf, c.mode), buf);
        EXPECT_STREQ(buf, c.text) << c.code << "/" << c.mode;
    }
    char small[5];
    EXPECT_STREQ(CoAPMessage_CodeStr(69, small, sizeof small, COAP_CODESTR_BOTH), "2.05");
    errno = 0;
    EXPECT_EQ(CoAPMessage_CodeStr(69, nullptr, 5, 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(CoAPMessage_CodeStr(69, buf, 0, 0), nullptr);
}

TEST(Names, OptionAndTypeNames)
{
    char buf[16];
    EXPECT_STREQ(CoAPMessage_OptionCodeStr(9, buf, sizeof buf), "0x9");
    EXPECT_STREQ(CoAPMessage_OptionCodeStr(2111, buf, sizeof buf), "Uri-Scheme");
    EXPECT_STREQ(CoAPMessage_OptionCodeStr(4005, buf, sizeof buf), "Coaps-Uri");
    EXPECT_STREQ(CoAPMessage_OptionCodeStr(3001, buf, sizeof buf), "Selective-Repea") << "cut to the buffer";
    const char *types[] = {"CON", "NON", "ACK", "RST"};
    for (int t = 0; t < 4; t++) {
        Msg m(CoAPMessage(t, 0, 0));
        EXPECT_STREQ(CoAPMessage_GetTypeStr(m.get()), types[t]);
    }
    EXPECT_EQ(CoAPMessage_GetTypeStr(nullptr), nullptr);
}

std::string to_text(struct CoAPMessage *m)
{
    struct Buf *b = Buf();
    EXPECT_EQ(CoAPMessage_ToBuf(m, b), 0);
    std::string s(reinterpret_cast<char *>(b->data));
    EXPECT_EQ(b->data[b->len - 1], 0) << "ends with a NUL";
    Buf_Free(b);
    return s;
}

TEST(Names, MultiLineText)
{
    Msg m(CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 513));
    CoAPMessage_SetToken(m.get(), "tk", 2);
    CoAPMessage_AddOptionString(m.get(), COAP_OPTION_URI_PATH, "info");
    CoAPMessage_AddOptionEmpty(m.get(), COAP_OPTION_IF_NONE_MATCH);
    CoAPMessage_AddOptionUint(m.get(), COAP_OPTION_CONTENT_FORMAT, 0x0102);
    CoAPMessage_SetPayload(m.get(), "\x01\xff", 2);
    EXPECT_EQ(to_text(m.get()), "CON 0.01 (Get) [id513]\n"
                                "Token: \"tk\"\n"
                                "Code 11: \"info\"\n"
                                "Code 5: empty\n"
                                "Code 12: 01 02 \n"
                                "Payload: 01 ff \n");
    const uint8_t raw[] = {0, 0xAB};
    CoAPMessage_SetToken(m.get(), raw, 2);
    CoAPMessage_SetPayload(m.get(), "ok", 2);
    std::string t = to_text(m.get());
    EXPECT_THAT(t, HasSubstr("Token: 00 ab \n")) << t;
    EXPECT_THAT(t, HasSubstr("Payload: \"ok\"\n")) << t;

    char *out = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&out, &size);
    EXPECT_EQ(CoAPMessage_Print(m.get(), f), 0);
    fclose(f);
    EXPECT_EQ(std::string(out), t);
    free(out);
    EXPECT_EQ(CoAPMessage_ToBuf(nullptr, nullptr), -1);
}

Msg request_to(const char *uri, int type = COAP_TYPE_CON, int code = COAP_CODE_GET, int id = 7)
{
    Msg m(CoAPMessage(type, code, id));
    EXPECT_EQ(CoAPMessage_SetUri(m.get(), uri, 0), 0);
    return m;
}

TEST(LogLayer, SummaryLines)
{
    LogCapture log;
    zmo_log_set_debug(1);
    Msg m = request_to("coaps://192.0.2.1/info");
    const uint8_t tok[] = {1, 2};
    CoAPMessage_SetToken(m.get(), tok, 2);
    EXPECT_EQ(LogLayer_OnSend(nullptr, m.get(), 0, nullptr), LAYER_CONTINUE);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "[7] S $ CON 0.01 (Get) /info to 192.0.2.1, Token: 01 02");

    // Blocks, window, payload, query and a port other than 5683.
    Msg b = request_to("coap://192.0.2.9:5684/up?x=1", COAP_TYPE_CON, COAP_CODE_POST, 9);
    struct CoAPMessage_Block b1 = {3, 6, 1}, b2 = {0, 2, 0};
    CoAPMessage_AddOptionBlock(b.get(), COAP_OPTION_BLOCK1, &b1);
    CoAPMessage_AddOptionBlock(b.get(), COAP_OPTION_BLOCK2, &b2);
    CoAPMessage_AddOptionUint(b.get(), COAP_OPTION_SR_WINDOW_SIZE, 70);
    CoAPMessage_SetPayload(b.get(), "abc", 3);
    CoAPMessage_SetToken(b.get(), "T", 1);
    LogLayer_OnReceive(nullptr, b.get(), 0, nullptr);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[1], "[9] R CON 0.02 (Post) /up ?x=1, 1:3/1/1024, 2:0/0/64, W:70, [3b] "
                              "from 192.0.2.9:5684, Token: \"T\"");

    // A response never shows a path.
    Msg r = request_to("coap://192.0.2.1/info", COAP_TYPE_ACK, 69, 10);
    LogLayer_OnReceive(nullptr, r.get(), 0, nullptr);
    ASSERT_EQ(log.lines().size(), 3u);
    EXPECT_EQ(log.lines()[2], "[10] R ACK 2.05 (Content) from 192.0.2.1");
}

TEST(LogLayer, LevelsDecideWhatIsShown)
{
    LogCapture log;
    Msg m = request_to("coap://192.0.2.1/a");
    CoAPMessage_AddOptionEmpty(m.get(), COAP_OPTION_IF_NONE_MATCH);
    const uint8_t pl[] = {0, 1};
    CoAPMessage_SetPayload(m.get(), pl, 2);

    zmo_log_set_debug(0);
    LogLayer_OnSend(nullptr, m.get(), 0, nullptr);
    EXPECT_TRUE(log.lines().empty());

    zmo_log_set_debug(1);
    LogLayer_OnSend(nullptr, m.get(), 0, nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0], Not(HasSubstr(", Options: [")));
    EXPECT_THAT(log.lines()[0], Not(HasSubstr(", Payload: ")));

    zmo_log_set_debug(2);
    LogLayer_OnSend(nullptr, m.get(), 0, nullptr);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[1], "[7] S CON 0.01 (Get) /a, [2b] to 192.0.2.1, Payload: 00 01 , "
                              "Options: [Uri-Path:\"a\", If-None-Match:(empty)]");
    EXPECT_EQ(LogLayer_OnSend(nullptr, nullptr, 0, nullptr), LAYER_CONTINUE);
}

}  // namespace
