// Small helpers shared by the library's tests.
#ifndef MIREL_TEST_UTIL_H
#define MIREL_TEST_UTIL_H

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "coap_message.h"
#include "mirel_util.h"
#include "zmo.h"

namespace mirel_test {

struct MsgDeleter {
    void operator()(struct CoAPMessage *m) const { CoAPMessage_Decref(m); }
};
using Msg = std::unique_ptr<struct CoAPMessage, MsgDeleter>;

struct MemDeleter {
    void operator()(void *p) const { Mem_free(p); }
};
template <typename T> using Mem = std::unique_ptr<T, MemDeleter>;

using Bytes = std::vector<uint8_t>;

inline struct sockaddr_storage v4(const char *ip, uint16_t port = 5683)
{
    struct sockaddr_storage ss {};
    auto *sin = reinterpret_cast<struct sockaddr_in *>(&ss);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    inet_pton(AF_INET, ip, &sin->sin_addr);
    return ss;
}

// "41 01 ab" -> bytes; blanks are ignored.
inline Bytes hex(const std::string &text)
{
    Bytes out;
    int hi = -1;
    for (char c : text) {
        int v = Str_Char2Hex(static_cast<unsigned char>(c));
        if (v < 0)
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
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

// Every line the base library logs, also from the endpoint's threads.
class LogCapture {
public:
    LogCapture() { zmo_log_set_hook(hook, this); }
    ~LogCapture()
    {
        zmo_log_set_hook(nullptr, nullptr);
        zmo_log_set_debug(0);
    }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    bool contains(const std::string &part)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string &l : lines_)
            if (l.find(part) != std::string::npos)
                return true;
        return false;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    static void hook(void *ctx, int, const char *, const char *line)
    {
        auto *self = static_cast<LogCapture *>(ctx);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->lines_.push_back(line);
    }
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace mirel_test

#endif
