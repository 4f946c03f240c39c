// Address texts.
#include "core_impl.h"
#include "zmo.h"

#include <algorithm>

#include <cstdio>

namespace Network {

// The base library's text, so the core and the programs write MACs alike.
bool MacAddress::Parse(const String &text)
{
    zmo_mac_addr_t m;
    if (!zmo_mac_addr_parse(&m, text.c_str()))
        return false;
    std::copy(m.bytes, m.bytes + 6, bytes_.begin());
    return true;
}

String MacAddress::ToString() const
{
    zmo_mac_addr_t m;
    std::copy(bytes_.begin(), bytes_.end(), m.bytes);
    char buf[ZMO_MAC_ADDR_STRLEN];
    return zmo_mac_addr_as_string(&m, buf);
}

bool MacAddress::IsZero() const
{
    for (uint8_t b : bytes_)
        if (b)
            return false;
    return true;
}

bool IpAddress::Parse(const String &text)
{
    uint32_t v = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        uint32_t n = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            n = n * 10 + static_cast<uint32_t>(text[i] - '0');
            if (++digits > 3 || n > 255)
                return false;
            ++i;
        }
        v = (v << 8) | n;
        if (part < 3) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.size())
        return false;
    v_ = v;
    return true;
}

String IpAddress::ToString() const
{
    return std::to_string(v_ >> 24) + "." + std::to_string((v_ >> 16) & 255) + "." +
           std::to_string((v_ >> 8) & 255) + "." + std::to_string(v_ & 255);
}

bool IpBlock::Parse(const String &text)
{
    size_t slash = text.find('/');
    IpAddress a;
    if (!a.Parse(text.substr(0, slash)))
        return false;
    unsigned prefix = 32;
    if (slash != String::npos) {
        String p = text.substr(slash + 1);
        if (p.empty() || p.size() > 2)
            return false;
        prefix = 0;
        for (char c : p) {
            if (c < '0' || c > '9')
                return false;
            prefix = prefix * 10 + static_cast<unsigned>(c - '0');
        }
        if (prefix > 32)
            return false;
    }
    address_ = a;
    prefix_ = prefix;
    return true;
}

String IpBlock::ToString() const { return address_.ToString() + "/" + std::to_string(prefix_); }

}  // namespace Network
