// Bounded big-endian reading and writing of link-layer frames: claim, then
// get or put, one sticky overrun flag checked once per element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace wire {

class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    size_t left() const { return size_ - pos_; }
    size_t offset() const { return pos_; }
    bool overrun() const { return overrun_; }

    // The next n bytes, or null (and overrun) when they are not all there.
    const uint8_t *claim(size_t n)
    {
        if (n > left()) {
            overrun_ = true;
            pos_ = size_;
            return nullptr;
        }
        const uint8_t *p = data_ + pos_;
        pos_ += n;
        return p;
    }
    uint8_t u8()
    {
        const uint8_t *p = claim(1);
        return p ? p[0] : 0;
    }
    uint16_t u16()
    {
        const uint8_t *p = claim(2);
        return p ? static_cast<uint16_t>(p[0] << 8 | p[1]) : 0;
    }
    uint32_t u32()
    {
        const uint8_t *p = claim(4);
        return p ? static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                       static_cast<uint32_t>(p[2]) << 8 | p[3]
                 : 0;
    }
    std::string_view bytes(size_t n)
    {
        const uint8_t *p = claim(n);
        return p ? std::string_view(reinterpret_cast<const char *>(p), n) : std::string_view();
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

class Writer {
public:
    Writer(uint8_t *data, size_t size) : data_(data), size_(size) {}

    size_t left() const { return size_ - pos_; }
    size_t size() const { return pos_; }
    bool overrun() const { return overrun_; }

    uint8_t *claim(size_t n)
    {
        if (n > left()) {
            overrun_ = true;
            return nullptr;
        }
        uint8_t *p = data_ + pos_;
        pos_ += n;
        return p;
    }
    void u8(uint8_t v)
    {
        if (uint8_t *p = claim(1))
            p[0] = v;
    }
    void u16(uint16_t v)
    {
        if (uint8_t *p = claim(2)) {
            p[0] = static_cast<uint8_t>(v >> 8);
            p[1] = static_cast<uint8_t>(v);
        }
    }
    void u32(uint32_t v)
    {
        if (uint8_t *p = claim(4)) {
            p[0] = static_cast<uint8_t>(v >> 24);
            p[1] = static_cast<uint8_t>(v >> 16);
            p[2] = static_cast<uint8_t>(v >> 8);
            p[3] = static_cast<uint8_t>(v);
        }
    }
    void bytes(const void *src, size_t n)
    {
        if (n == 0)
            return;
        if (uint8_t *p = claim(n))
            std::memcpy(p, src, n);
    }
    void bytes(std::string_view s) { bytes(s.data(), s.size()); }

private:
    uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

}  // namespace wire
