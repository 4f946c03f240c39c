// Puts what the library encodes on a wire a peer can read:
//   wire_samples pcap FILE          sample datagrams into a capture file
//   wire_samples ask ADDR PORT PATH a confirmable GET to a peer, the decoded answer printed
//   wire_samples serve PORT TEXT    answers one request on 127.0.0.1 with 2.05 and TEXT,
//                                   the decoded request printed
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "coap_message.h"
#include "coap_uri.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(struct CoAPMessage *m)
{
    uint32_t len = 0;
    uint8_t *p = CoAPMessage_ToBytes(m, &len);
    Bytes out(p, p + len);
    Mem_free(p);
    CoAPMessage_Decref(m);
    return out;
}

std::vector<Bytes> samples()
{
    std::vector<Bytes> out;
    const uint8_t ab = 0xAB;

    struct CoAPMessage *m = CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 0x1234);
    CoAPMessage_SetToken(m, &ab, 1);
    CoAPMessage_AddOptionString(m, COAP_OPTION_URI_PATH, "info");
    out.push_back(encode(m));

    m = CoAPMessage(COAP_TYPE_NON, 69, 0x0001);
    CoAPMessage_SetPayload(m, "hi", 2);
    out.push_back(encode(m));

    // A request block with the protocol's own options around it.
    m = CoAPMessage(COAP_TYPE_CON, COAP_CODE_POST, 0x0102);
    const uint8_t tok[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CoAPMessage_SetToken(m, tok, 8);
    CoAPMessage_SetUri(m, "coaps://192.0.2.1/zmo/login?a=1&b=x y", 0);
    CoAPMessage_AddOptionUint(m, COAP_OPTION_CONTENT_FORMAT, 50);
    struct CoAPMessage_Block blk = {5, 6, 1};
    CoAPMessage_AddOptionBlock(m, COAP_OPTION_BLOCK1, &blk);
    CoAPMessage_AddOptionUint(m, COAP_OPTION_SR_WINDOW_SIZE, 70);
    std::string body(1024, 'z');
    CoAPMessage_SetPayload(m, body.data(), body.size());
    out.push_back(encode(m));

    // Its acknowledgement.
    m = CoAPMessage(COAP_TYPE_ACK, 95, 0x0102);
    blk = {5, 6, 0};
    CoAPMessage_AddOptionBlock(m, COAP_OPTION_BLOCK1, &blk);
    CoAPMessage_AddOptionUint(m, COAP_OPTION_SR_WINDOW_SIZE, 70);
    out.push_back(encode(m));

    m = CoAPMessage(COAP_TYPE_RST, COAP_CODE_EMPTY, 7);
    out.push_back(encode(m));

    // One- and two-byte extensions of deltas and lengths.
    m = CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 8);
    CoAPMessage_AddOptionString(m, COAP_OPTION_URI_HOST, "thirteen-char");
    CoAPMessage_AddOptionString(m, COAP_OPTION_PROXY_URI, ("coap://h/" + std::string(260, 'p')).c_str());
    out.push_back(encode(m));
    return out;
}

void put32(FILE *f, uint32_t v) { fwrite(&v, 4, 1, f); }

uint16_t ip_checksum(const uint8_t *p, size_t n)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// Raw-IPv4 capture (link type 101): 127.0.0.1:40000 -> 127.0.0.1:5683.
int write_pcap(const char *path)
{
    FILE *f = fopen(path, "wb");
    if (!f) {
        perror(path);
        return 1;
    }
    put32(f, 0xa1b2c3d4);
    uint16_t ver[2] = {2, 4};
    fwrite(ver, 2, 2, f);
    put32(f, 0);
    put32(f, 0);
    put32(f, 65535);
    put32(f, 101);
    uint32_t sec = 1700000000;
    for (const Bytes &d : samples()) {
        Bytes pkt(28, 0);
        size_t total = 28 + d.size();
        pkt[0] = 0x45;
        pkt[2] = static_cast<uint8_t>(total >> 8);
        pkt[3] = static_cast<uint8_t>(total);
        pkt[8] = 64;
        pkt[9] = 17;
        const uint8_t lo[4] = {127, 0, 0, 1};
        memcpy(&pkt[12], lo, 4);
        memcpy(&pkt[16], lo, 4);
        uint16_t cs = ip_checksum(pkt.data(), 20);
        pkt[10] = static_cast<uint8_t>(cs >> 8);
        pkt[11] = static_cast<uint8_t>(cs);
        pkt[20] = 40000 >> 8;
        pkt[21] = 40000 & 0xFF;
        pkt[22] = 5683 >> 8;
        pkt[23] = 5683 & 0xFF;
        size_t udp = 8 + d.size();
        pkt[24] = static_cast<uint8_t>(udp >> 8);
        pkt[25] = static_cast<uint8_t>(udp);
        pkt.insert(pkt.end(), d.begin(), d.end());
        put32(f, sec++);
        put32(f, 0);
        put32(f, static_cast<uint32_t>(pkt.size()));
        put32(f, static_cast<uint32_t>(pkt.size()));
        fwrite(pkt.data(), 1, pkt.size(), f);
    }
    return fclose(f) == 0 ? 0 : 1;
}

int ask(const char *addr, int port, const char *path)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (s < 0 || inet_pton(AF_INET, addr, &to.sin_addr) != 1) {
        fprintf(stderr, "bad address\n");
        return 1;
    }
    struct CoAPMessage *req = CoAPMessage(COAP_TYPE_CON, COAP_CODE_GET, 0x4242);
    const uint8_t tok[4] = {0xde, 0xad, 0xbe, 0xef};
    CoAPMessage_SetToken(req, tok, 4);
    CoAPMessage_SetUriPath(req, path);
    Bytes d = encode(req);
    for (int attempt = 0; attempt < 3; attempt++) {
        sendto(s, d.data(), d.size(), 0, reinterpret_cast<struct sockaddr *>(&to), sizeof to);
        struct pollfd p = {s, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1)
            continue;
        uint8_t buf[1500];
        ssize_t n = recv(s, buf, sizeof buf, 0);
        struct CoAPMessage *ans = n > 0 ? CoAPMessage_FromBytes(buf, static_cast<size_t>(n)) : nullptr;
        if (!ans) {
            fprintf(stderr, "answer does not decode\n");
            return 1;
        }
        CoAPMessage_Print(ans, stdout);
        CoAPMessage_Decref(ans);
        close(s);
        return 0;
    }
    fprintf(stderr, "no answer\n");
    return 1;
}

int serve(int port, const char *text)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || bind(s, reinterpret_cast<struct sockaddr *>(&at), sizeof at) != 0) {
        perror("bind");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    uint8_t buf[1500];
    struct sockaddr_in from {};
    socklen_t from_len = sizeof from;
    ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<struct sockaddr *>(&from), &from_len);
    struct CoAPMessage *req = n > 0 ? CoAPMessage_FromBytes(buf, static_cast<size_t>(n)) : nullptr;
    if (!req) {
        fprintf(stderr, "request does not decode\n");
        return 1;
    }
    CoAPMessage_Print(req, stdout);
    // Piggybacked answer: same id and token, plain text.
    struct CoAPMessage *ans = CoAPMessage(COAP_TYPE_ACK, 69, CoAPMessage_GetId(req));
    CoAPMessage_CopyToken(ans, req);
    CoAPMessage_AddOptionUint(ans, COAP_OPTION_CONTENT_FORMAT, 0);
    CoAPMessage_SetPayload(ans, text, strlen(text));
    CoAPMessage_Decref(req);
    Bytes d = encode(ans);
    sendto(s, d.data(), d.size(), 0, reinterpret_cast<struct sockaddr *>(&from), from_len);
    close(s);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "pcap")
        return write_pcap(argv[2]);
    if (argc == 5 && std::string(argv[1]) == "ask")
        return ask(argv[2], atoi(argv[3]), argv[4]);
    if (argc == 4 && std::string(argv[1]) == "serve")
        return serve(atoi(argv[2]), argv[3]);
    fprintf(stderr, "usage: %s pcap FILE | ask ADDR PORT PATH | serve PORT TEXT\n", argv[0]);
    return 2;
}
