// DNS messages: names with pointers (loops, hop limit, 255 characters),
// reversed names, answer records, and the answer walk bounded by the
// datagram (ids, response codes, A data length, truncation).
#include <gtest/gtest.h>

#include "cmdns.h"
#include "cmmemory.h"

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encodeName(const char *text, int *result = nullptr)
{
    Bytes out(300, 0xEE);
    CMBufferWriter w;
    cmBufferWriterInit(&w, out.data(), static_cast<uint32_t>(out.size()));
    cmBufferWriterSetByteOrder(&w, 0);
    int r = nsDnsEncodeName(&w, text);
    if (result != nullptr)
        *result = r;
    out.resize(cmBufferWriterGetDataCount(&w));
    return out;
}

TEST(DnsName, Encode)
{
    EXPECT_EQ(encodeName("a.bc"), (Bytes{0x01, 0x61, 0x02, 0x62, 0x63, 0x00}));
    EXPECT_EQ(encodeName("a.bc."), (Bytes{0x01, 0x61, 0x02, 0x62, 0x63, 0x00}));
    EXPECT_EQ(encodeName(""), (Bytes{0x00}));
    int r = 0;
    EXPECT_TRUE(encodeName((std::string(64, 'x') + ".lan").c_str(), &r).empty());
    EXPECT_EQ(r, -1);
    EXPECT_TRUE(encodeName(std::string(256, 'x').c_str(), &r).empty());
    EXPECT_EQ(encodeName((std::string(63, 'x') + ".lan").c_str(), &r).size(), 69u);
    EXPECT_EQ(r, 0);
}

// Decodes the name at offset; the text, the offset after it, and the result.
struct Decoded {
    std::string text;
    uint32_t after;
    int result;
    bool overrun;
};
Decoded decode(const Bytes &message, uint32_t offset)
{
    CMBufferReader r;
    cmBufferReaderInit(&r, message.data(), static_cast<uint32_t>(message.size()));
    cmBufferReaderSetByteOrder(&r, 0);
    cmBufferReaderSkip(&r, offset);
    char text[CM_DNS_NAME_MAX + 1];
    int result = nsDnsDecodeName(&r, text);
    return {text, cmBufferReaderGetDataCount(&r), result, cmBufferReaderIsOverrun(&r) != 0};
}

TEST(DnsName, DecodeWithPointers)
{
    // 0: "b.example" ; 11: "a" + pointer to 0 ; 15: pointer to 11 ; 17: tail byte
    Bytes m = {1, 'b', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 0, 1, 'a', 0xC0, 0, 0xC0, 11, 0x99};
    Decoded d = decode(m, 0);
    EXPECT_EQ(d.text, "b.example");
    EXPECT_EQ(d.after, 11u);
    d = decode(m, 11);
    EXPECT_EQ(d.text, "a.b.example");
    EXPECT_EQ(d.after, 15u);
    d = decode(m, 15);
    EXPECT_EQ(d.text, "a.b.example");
    EXPECT_EQ(d.after, 17u) << "after the first pointer";
    EXPECT_EQ(d.result, 0);
}

TEST(DnsName, DecodeRefusesWhatWouldRunAway)
{
    Bytes chain;  // nine pointers, each to the one before, then a name
    chain = {1, 'x', 0};
    for (int i = 0; i < 9; ++i) {
        uint8_t target = static_cast<uint8_t>(i == 0 ? 0 : chain.size() - 2);
        chain.push_back(0xC0);
        chain.push_back(target);
    }
    Bytes long256;
    for (int i = 0; i < 4; ++i) {
        long256.push_back(63);
        long256.insert(long256.end(), 63, 'a');
    }
    long256.push_back(0);  // 4 * 63 + 3 dots = 255: fits
    Bytes long259 = long256;
    long259.pop_back();
    long259.push_back(3);
    long259.insert(long259.end(), {'a', 'b', 'c', 0});
    const struct {
        const char *what;
        Bytes message;
        uint32_t offset;
    } cases[] = {
        {"pointer to itself", {0xC0, 0x00}, 0},
        {"two pointers in a loop", {0xC0, 0x02, 0xC0, 0x00}, 0},
        {"nine pointer hops", chain, static_cast<uint32_t>(chain.size() - 2)},
        {"pointer past the message", {0xC0, 0x40}, 0},
        {"half a pointer", {1, 'a', 0xC0}, 0},
        {"label past the message", {5, 'a', 'b'}, 0},
        {"no terminating label", {1, 'a'}, 0},
        {"reserved label kind", {0x41, 'a', 0}, 0},
        {"name over 255", long259, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Decoded d = decode(c.message, c.offset);
        EXPECT_EQ(d.result, -1);
        EXPECT_TRUE(d.overrun);
        EXPECT_EQ(d.text, "");
    }
    Decoded ok = decode(long256, 0);
    EXPECT_EQ(ok.result, 0);
    EXPECT_EQ(ok.text.size(), 255u);
    // Eight hops are still followed.
    Bytes eight(chain.begin(), chain.end() - 2);
    EXPECT_EQ(decode(eight, static_cast<uint32_t>(eight.size() - 2)).text, "x");
}

TEST(DnsReversedName, RoundTrip)
{
    const char *cases[] = {"192.168.1.10", "10.0.0.1", "255.255.255.255", "0.0.0.0"};
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        uint32_t address = inet_addr(text);
        char *name = nsDnsCreateReversedName(&address);
        ASSERT_NE(name, nullptr);
        uint32_t *back = nsDnsParseReversedName(name, 4);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(*back, address);
        cmMemoryFreeNonDebug(back);
        cmMemoryFreeNonDebug(name);
    }
    uint32_t address = inet_addr("192.168.1.10");
    char *name = nsDnsCreateReversedName(&address);
    EXPECT_STREQ(name, "10.1.168.192.in-addr.arpa");
    EXPECT_EQ(nsDnsParseReversedName(name, 16), nullptr);
    cmMemoryFreeNonDebug(name);
    const char *bad[] = {"10.1.168.in-addr.arpa", "10.1.168.192.in-addr.arp", "300.1.1.1.in-addr.arpa",
                         ".in-addr.arpa",         "a.b.c.d.in-addr.arpa",     ""};
    for (const char *b : bad) {
        SCOPED_TRACE(b);
        EXPECT_EQ(nsDnsParseReversedName(b, 4), nullptr);
    }
    uint32_t *upper = nsDnsParseReversedName("4.3.2.1.IN-ADDR.ARPA", 4);
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(*upper, inet_addr("1.2.3.4"));
    cmMemoryFreeNonDebug(upper);
}

// A response built with the writers themselves.
class Response {
public:
    Response(uint16_t id, uint8_t rcode = 0, uint8_t flags1 = 0x81)
    {
        cmBufferWriterInit(&w_, data_.data(), static_cast<uint32_t>(data_.size()));
        cmBufferWriterSetByteOrder(&w_, 0);
        CMDnsHeader h{id, flags1, static_cast<uint8_t>(0x80 | rcode), 1, 0, 0, 0};
        nsWriteDnsHeader(&w_, &h);
        nsDnsEncodeName(&w_, "host.lan");
        cmBufferWriteUint16(&w_, 1);
        cmBufferWriteUint16(&w_, 1);
    }
    Response &record(const char *name, uint16_t type, const Bytes &rdata)
    {
        nsDnsEncodeName(&w_, name);
        cmBufferWriteUint16(&w_, type);
        cmBufferWriteUint16(&w_, 1);
        cmBufferWriteUint32(&w_, 300);
        cmBufferWriteUint16(&w_, static_cast<uint16_t>(rdata.size()));
        cmBufferWriteBytes(&w_, rdata.data(), static_cast<uint32_t>(rdata.size()));
        ++answers_;
        data_[6] = 0;
        data_[7] = static_cast<uint8_t>(answers_);
        return *this;
    }
    Response &a(const char *address)
    {
        uint32_t ip = inet_addr(address);
        return record("host.lan", CM_DNS_TYPE_A,
                      Bytes(reinterpret_cast<uint8_t *>(&ip), reinterpret_cast<uint8_t *>(&ip) + 4));
    }
    Response &srv(const char *target)
    {
        Bytes rdata = {0, 0, 0, 100, 0x01, 0x85};
        Bytes name = encodeName(target);
        rdata.insert(rdata.end(), name.begin(), name.end());
        return record("_ldap._tcp.dc._msdcs.corp.lan", CM_DNS_TYPE_SRV, rdata);
    }
    Bytes bytes() const { return Bytes(data_.begin(), data_.begin() + cmBufferWriterGetDataCount(&w_)); }
    void setAnswerCount(uint16_t n)
    {
        data_[6] = static_cast<uint8_t>(n >> 8);
        data_[7] = static_cast<uint8_t>(n);
    }

private:
    std::vector<uint8_t> data_ = std::vector<uint8_t>(1500, 0);
    CMBufferWriter w_;
    int answers_ = 0;
};

struct Parsed {
    int result;
    std::vector<uint32_t> addresses;
    std::vector<std::string> names;
};
Parsed parse(const Bytes &m, uint16_t id, uint16_t type)
{
    uint32_t addresses[10];
    char names[600];
    uint32_t count = 0;
    Parsed p;
    p.result = nsDnsParseAnswers(m.data(), static_cast<uint32_t>(m.size()), id, type, addresses, 10, &count,
                                 names, sizeof names);
    if (type == CM_DNS_TYPE_A) {
        p.addresses.assign(addresses, addresses + count);
    } else {
        const char *n = names;
        for (uint32_t i = 0; i < count; ++i, n += std::strlen(n) + 1)
            p.names.push_back(n);
    }
    return p;
}

TEST(DnsAnswers, Addresses)
{
    Bytes cname = encodeName("real.lan");
    Bytes m = Response(7).record("host.lan", CM_DNS_TYPE_CNAME, cname).a("10.0.0.1").a("10.0.0.2").bytes();
    Parsed p = parse(m, 7, CM_DNS_TYPE_A);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.addresses, (std::vector<uint32_t>{inet_addr("10.0.0.1"), inet_addr("10.0.0.2")}));

    // A data of any other length than 4 is no address.
    m = Response(7).record("host.lan", CM_DNS_TYPE_A, Bytes{10, 0, 0, 1, 9}).a("10.0.0.3").bytes();
    EXPECT_EQ(parse(m, 7, CM_DNS_TYPE_A).addresses, (std::vector<uint32_t>{inet_addr("10.0.0.3")}));
    m = Response(7).record("host.lan", CM_DNS_TYPE_A, Bytes{10, 0}).bytes();
    EXPECT_EQ(parse(m, 7, CM_DNS_TYPE_A).result, -1);
}

TEST(DnsAnswers, NamesAndServiceTargets)
{
    Bytes m = Response(9).srv("dc1.corp.lan").srv("dc2.corp.lan").bytes();
    Parsed p = parse(m, 9, CM_DNS_TYPE_SRV);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.names, (std::vector<std::string>{"dc1.corp.lan", "dc2.corp.lan"}));
    m = Response(9).record("10.1.168.192.in-addr.arpa", CM_DNS_TYPE_PTR, encodeName("nas.lan")).bytes();
    p = parse(m, 9, CM_DNS_TYPE_PTR);
    EXPECT_EQ(p.names, (std::vector<std::string>{"nas.lan"}));
}

TEST(DnsAnswers, WhatIsNoAnswer)
{
    Bytes good = Response(5).a("10.0.0.1").bytes();
    Bytes truncated(good.begin(), good.end() - 2);
    Response lying(5);
    lying.a("10.0.0.1");
    lying.setAnswerCount(40);
    Bytes shortHeader(good.begin(), good.begin() + 11);
    const struct {
        const char *what;
        Bytes message;
        uint16_t id;
        int result;
        size_t taken;
    } cases[] = {
        {"the answer", good, 5, 0, 1},
        {"another id", good, 6, -1, 0},
        {"a question, not a response", Response(5, 0, 0x01).a("10.0.0.1").bytes(), 5, -1, 0},
        {"name error", Response(5, 3).a("10.0.0.1").bytes(), 5, -1, 0},
        {"refused", Response(5, 5).a("10.0.0.1").bytes(), 5, CM_DNS_ERR_REFUSED, 0},
        {"no answers", Response(5).bytes(), 5, -1, 0},
        {"data cut short", truncated, 5, -1, 0},
        {"more answers counted than sent", lying.bytes(), 5, 0, 1},
        {"short header", shortHeader, 5, -1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Parsed p = parse(c.message, c.id, CM_DNS_TYPE_A);
        EXPECT_EQ(p.result, c.result);
        EXPECT_EQ(p.addresses.size(), c.taken);
    }
}

TEST(DnsAnswers, WriteAnswerReadsBack)
{
    Bytes out(200, 0);
    CMBufferWriter w;
    cmBufferWriterInit(&w, out.data(), static_cast<uint32_t>(out.size()));
    cmBufferWriterSetByteOrder(&w, 0);
    CMDnsHeader h{3, 0x84, 0x00, 0, 2, 0, 0};
    nsWriteDnsHeader(&w, &h);
    uint32_t ip = inet_addr("192.168.19.7");
    nsDnsWriteAnswer(&w, "nas", CM_DNS_TYPE_A, &ip, 4);
    nsDnsWriteAnswer(&w, "7.19.168.192.in-addr.arpa", CM_DNS_TYPE_PTR, "nas.lan", 0);
    out.resize(cmBufferWriterGetDataCount(&w));
    EXPECT_EQ(parse(out, 3, CM_DNS_TYPE_A).addresses, (std::vector<uint32_t>{ip}));
    EXPECT_EQ(parse(out, 3, CM_DNS_TYPE_PTR).names, (std::vector<std::string>{"nas.lan"}));
    CMBufferReader r;
    cmBufferReaderInit(&r, out.data(), static_cast<uint32_t>(out.size()));
    cmBufferReaderSetByteOrder(&r, 0);
    CMDnsHeader back{};
    nsReadDnsHeader(&r, &back);
    EXPECT_EQ(back.id, 3);
    EXPECT_EQ(back.flags1, 0x84);
    EXPECT_EQ(back.answers, 2);
}

}  // namespace
