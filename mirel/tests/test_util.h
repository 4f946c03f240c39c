// Small helpers shared by the library's tests.
#ifndef MIREL_TEST_UTIL_H
#define MIREL_TEST_UTIL_H

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "coap_message.h"
#include "fw_test/bytes.h"
#include "fw_test/log_capture.h"
#include "mirel_util.h"

namespace mirel_test {

struct MsgDeleter {
    void operator()(struct CoAPMessage *m) const { CoAPMessage_Decref(m); }
};
using Msg = std::unique_ptr<struct CoAPMessage, MsgDeleter>;

struct MemDeleter {
    void operator()(void *p) const { Mem_free(p); }
};
template <typename T> using Mem = std::unique_ptr<T, MemDeleter>;

// The suites' shared helpers (tests/support), under the names used here.
using fw_test::Bytes;
using fw_test::hex;
using fw_test::LogCapture;

inline struct sockaddr_storage v4(const char *ip, uint16_t port = 5683)
{
    struct sockaddr_storage ss {};
    auto *sin = reinterpret_cast<struct sockaddr_in *>(&ss);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    inet_pton(AF_INET, ip, &sin->sin_addr);
    return ss;
}

inline Bytes encode(struct CoAPMessage *m)
{
    uint32_t len = 0;
    Mem<uint8_t> bytes(CoAPMessage_ToBytes(m, &len));
    if (!bytes)
        return {};
    return Bytes(bytes.get(), bytes.get() + len);
}

inline std::vector<uint32_t> option_numbers(const struct CoAPMessage *m)
{
    std::vector<uint32_t> out;
    CoAPMessage_IterOptions(
        m,
        [](uint32_t number, const uint8_t *, uint32_t, int, void *ctx) {
            static_cast<std::vector<uint32_t> *>(ctx)->push_back(number);
            return 1;
        },
        &out);
    return out;
}

}  // namespace mirel_test

#endif
