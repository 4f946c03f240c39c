// Addresses as the core passes them around.
#ifndef ZMOCORE_NETWORK_H
#define ZMOCORE_NETWORK_H

#include "zmocore/base.h"

#include <array>

namespace Network {

class ZMOCORE_API MacAddress {
public:
    MacAddress() { bytes_.fill(0); }
    explicit MacAddress(const std::array<uint8_t, 6> &b) : bytes_(b) {}
    // "00:11:22:aa:bb:cc" (also '-' separated); false on anything else.
    bool Parse(const String &text);
    // The text the base library writes: lower-case hex, ':' between bytes.
    String ToString() const;
    bool IsZero() const;
    const std::array<uint8_t, 6> &Bytes() const { return bytes_; }
    bool operator==(const MacAddress &o) const { return bytes_ == o.bytes_; }
    bool operator!=(const MacAddress &o) const { return bytes_ != o.bytes_; }
    bool operator<(const MacAddress &o) const { return bytes_ < o.bytes_; }

private:
    std::array<uint8_t, 6> bytes_;
};

// IPv4 in host byte order.
class ZMOCORE_API IpAddress {
public:
    IpAddress() = default;
    explicit IpAddress(uint32_t host_order) : v_(host_order) {}
    bool Parse(const String &text);
    String ToString() const;
    uint32_t Value() const { return v_; }
    bool IsZero() const { return v_ == 0; }
    bool operator==(const IpAddress &o) const { return v_ == o.v_; }
    bool operator!=(const IpAddress &o) const { return v_ != o.v_; }

private:
    uint32_t v_ = 0;
};

// An address and a prefix length (the mask).
class ZMOCORE_API IpBlock {
public:
    IpBlock() = default;
    IpBlock(IpAddress a, unsigned prefix) : address_(a), prefix_(prefix > 32 ? 32 : prefix) {}
    // "192.168.1.1/24"; without "/N" a host block (/32).
    bool Parse(const String &text);
    String ToString() const;
    IpAddress Address() const { return address_; }
    unsigned Prefix() const { return prefix_; }
    uint32_t Mask() const { return prefix_ == 0 ? 0 : 0xffffffffu << (32 - prefix_); }
    IpBlock Network() const { return IpBlock(IpAddress(address_.Value() & Mask()), prefix_); }
    IpAddress Broadcast() const { return IpAddress(address_.Value() | ~Mask()); }
    bool Contains(IpAddress a) const { return (a.Value() & Mask()) == (address_.Value() & Mask()); }
    bool IsHost() const { return prefix_ == 32; }
    bool operator==(const IpBlock &o) const { return address_ == o.address_ && prefix_ == o.prefix_; }
    bool operator!=(const IpBlock &o) const { return !(*this == o); }

private:
    IpAddress address_;
    unsigned prefix_ = 32;
};

}  // namespace Network

#endif
