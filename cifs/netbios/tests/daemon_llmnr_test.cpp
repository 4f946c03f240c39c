// LLMNR answers: A for own names, PTR for the adapter's address; the answer
// holds one question and one answer whatever the query's other counts.
#include "daemon_env.h"

#include "cmdns.h"
#include "nschannel.h"

namespace ndtest {
namespace {

class Llmnr : public DaemonTest {
protected:
    void SetUp() override
    {
        DaemonTest::SetUp();
        if (IsSkipped())
            return;
        CMNetBiosNameInfo n = nbtest::name("WIDGET", 0x00);
        uint8_t buffer[ND_BUFFER_SIZE];
        int len = frameInternalNameRegistrationRequest(buffer, &n);
        ASSERT_GT(len, 0);
        arrive(&requester, Bytes(buffer, buffer + len), ip("127.0.0.1"), portOf(client));
        ASSERT_EQ(ndNameProcessInternalMessage(&requester), 0);
        peer = udp("127.1.0.7", 0);
        ndLLMNRSetSocket(daemonName);
    }
    void TearDown() override
    {
        if (peer >= 0)
            close(peer);
        ndLLMNRSetSocket(-1);
        DaemonTest::TearDown();
    }
    // A query of one question, with an EDNS OPT record when edns is set.
    static Bytes query(const char *name, uint16_t type, bool edns)
    {
        uint8_t buffer[512];
        CMBufferWriter w;
        cmBufferWriterInit(&w, buffer, sizeof buffer);
        cmBufferWriterSetByteOrder(&w, 0);
        CMDnsHeader h{};
        h.id = 0x4242;
        h.questions = 1;
        h.additional = edns ? 1 : 0;
        nsWriteDnsHeader(&w, &h);
        nsDnsEncodeName(&w, name);
        cmBufferWriteUint16(&w, type);
        cmBufferWriteUint16(&w, 1);
        if (edns) {
            const uint8_t opt[] = {0, 0, 41, 0x10, 0, 0, 0, 0, 0, 0, 0};
            cmBufferWriteBytes(&w, opt, sizeof opt);
        }
        return Bytes(buffer, buffer + cmBufferWriterGetDataCount(&w));
    }
    Bytes ask(const Bytes &q)
    {
        NDAdapter *a = adapter(ip("127.1.0.1"));
        arrive(a, q, ip("127.1.0.7"), portOf(peer));
        ndLLMNRProcessExternalMessage(a);
        return receive(peer, 100);
    }
    int peer = -1;
};

TEST_F(Llmnr, AnAQuestionForAnOwnNameIsAnsweredWithOneQuestionAndOneAnswer)
{
    for (const char *name : {"WIDGET", "widget"}) {
        Bytes answer = ask(query(name, 1, true));
        ASSERT_GE(answer.size(), 12u) << name;
        EXPECT_EQ(be16(answer, 0), 0x4242);
        EXPECT_EQ(be16(answer, 2), 0x8000);
        EXPECT_EQ(be16(answer, 4), 1);
        EXPECT_EQ(be16(answer, 6), 1);
        EXPECT_EQ(be16(answer, 8), 0);
        EXPECT_EQ(be16(answer, 10), 0) << "the query's OPT record is not echoed as a count";
        EXPECT_EQ(Bytes(answer.end() - 4, answer.end()), (Bytes{127, 1, 0, 1}));
        // The message ends with the answer: nothing promised is missing.
        uint32_t addresses[4];
        uint32_t count = 0;
        EXPECT_EQ(nsDnsParseAnswers(answer.data(), static_cast<uint32_t>(answer.size()), 0x4242, 1, addresses,
                                    4, &count, nullptr, 0),
                  0);
        EXPECT_EQ(count, 1u);
    }
}

TEST_F(Llmnr, QuestionsThatAreNotOursGetNoAnswer)
{
    const struct {
        const char *what;
        Bytes query;
    } cases[] = {
        {"16 characters", query("WIDGETWIDGETWIDG", 1, false)},
        {"unknown name", query("STRANGER", 1, false)},
        {"AAAA", query("WIDGET", 28, false)},
        {"PTR of another address", query("9.0.1.127.in-addr.arpa", 12, false)},
    };
    for (const auto &c : cases)
        EXPECT_TRUE(ask(c.query).empty()) << c.what;
}

TEST_F(Llmnr, APtrQuestionForTheAdapterGetsTheHostName)
{
    Bytes answer = ask(query("1.0.1.127.in-addr.arpa", 12, false));
    ASSERT_GE(answer.size(), 12u);
    char names[300] = {};
    uint32_t count = 0;
    ASSERT_EQ(nsDnsParseAnswers(answer.data(), static_cast<uint32_t>(answer.size()), 0x4242, 12, nullptr, 0,
                                &count, names, sizeof names),
              0);
    EXPECT_STREQ(names, "NAS");
}

}  // namespace
}  // namespace ndtest
