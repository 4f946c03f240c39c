#include "fake_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vdsl.h"
#include "boot_if_device.h"
#include "vdsl_device.h"

namespace fakedev {

namespace {

Device *dev = new Device;

unsigned word_at(unsigned long key)
{
    auto it = device().words.find(key);
    return it == device().words.end() ? 0 : it->second;
}

int builtin(unsigned long number, unsigned char *b, std::size_t size)
{
    Device &d = device();
    const std::string oid = size > 1 ? reinterpret_cast<const char *>(b + 1) : "";
    auto mib_answer = [&](const std::string &text) {
        std::memset(b, 0, size);
        b[1] = static_cast<unsigned char>(text.size() / 6);
        std::memcpy(b + 2, text.c_str(), text.size() + 1);
    };
    switch (number) {
    case VDSL_GET_MIB:
    case VDSL_GET_DATA:
    case VDSL_GET_MIB32_B: {
        auto f = d.failures.find(oid);
        if (f != d.failures.end())
            return f->second;
        auto v = d.values.find(oid);
        mib_answer(v == d.values.end() ? "000000" : v->second);
        return 0;
    }
    case VDSL_SET_DATA_LOGIC:
    case VDSL_SET_DATA: {
        auto f = d.failures.find(oid);
        if (f != d.failures.end())
            return f->second;
        d.values[oid] = reinterpret_cast<const char *>(b + 2 + oid.size());
        return 0;
    }
    case VDSL_PHY_STATUS:
        b[0] = d.state;
        return 0;
    case VDSL_TRANS_MIB_ADDR: {
        char key[32];
        std::snprintf(key, sizeof key, "%d.%d.%d", b[0], b[1], b[3]);
        auto l = d.lengths.find(key);
        uint32_t out[2] = {l == d.lengths.end() ? 0xFFFFFFFFu : l->second, 0x1000};
        std::memcpy(b, out, sizeof out);
        return 0;
    }
    case VDSL_MIB2_INFO: {
        std::string name = reinterpret_cast<const char *>(b);
        auto l = d.lengths.find(name);
        if (l == d.lengths.end())
            return VDSL_ERR_NOT_FOUND;
        auto a = d.addresses.find(name);
        uint32_t out[3] = {a == d.addresses.end() ? 0x1000u : a->second, l->second, 0};
        std::memcpy(b, out, sizeof out);
        return 0;
    }
    case VDSL_GET_MEM:
    case VDSL_GET_MEM_SK: {
        unsigned long key = static_cast<unsigned long>(b[4]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
        if (d.failures.count("mem"))
            return d.failures["mem"];
        unsigned w = word_at(key);
        b[0] = static_cast<unsigned char>(w >> 16);
        b[1] = static_cast<unsigned char>(w >> 8);
        b[2] = static_cast<unsigned char>(w);
        return 0;
    }
    default:
        return 0;
    }
}

}  // namespace

int builtin_answer(unsigned long number, unsigned char *block, std::size_t size)
{
    return builtin(number, block, size);
}

Device &device() { return *dev; }

void reset() { *dev = Device{}; }

std::vector<unsigned long> Device::numbers() const
{
    std::vector<unsigned long> n;
    for (const Request &r : requests)
        n.push_back(r.number);
    return n;
}

}  // namespace fakedev

namespace vdsl_device {

int open_device()
{
    fakedev::Device &d = fakedev::device();
    if (d.open_fails)
        return -1;
    d.opens++;
    d.open_now++;
    return 7;
}

int request(int fd, unsigned long number, void *block, std::size_t size)
{
    fakedev::Device &d = fakedev::device();
    if (fd != 7 || d.open_now != 1)
        return -9;  // a request outside one open and close
    auto *b = static_cast<unsigned char *>(block);
    d.requests.push_back({number, std::vector<unsigned char>(b, b + size)});
    return d.handler ? d.handler(number, b, size) : fakedev::builtin(number, b, size);
}

void close_device(int)
{
    fakedev::device().closes++;
    fakedev::device().open_now--;
}

}  // namespace vdsl_device

namespace boot_if {

int private_request(int, const char *ifname, unsigned long request)
{
    fakedev::device().resets.emplace_back(ifname, request);
    return 0;
}

int service_record(int, const char *ifname, unsigned char *record, unsigned long size)
{
    fakedev::Device &d = fakedev::device();
    d.service_asked.emplace_back(ifname);
    if (d.service_answer < 0)
        return d.service_answer;
    std::memcpy(record, d.service.data(), std::min<std::size_t>(size, d.service.size()));
    return d.service_answer;
}

}  // namespace boot_if
