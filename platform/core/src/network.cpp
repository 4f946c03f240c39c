// Address texts.
#include "core_impl.h"

#include <cstdio>

namespace Network {

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool MacAddress::Parse(const String &text) {
  if (text.size() != 17) return false;
  std::array<uint8_t, 6> b{};
  const char sep = text[2];
  if (sep != ':' && sep != '-') return false;
  for (size_t i = 0; i < 6; ++i) {
    int hi = HexDigit(text[i * 3]), lo = HexDigit(text[i * 3 + 1]);
    if (hi < 0 || lo < 0) return false;
    if (i < 5 && text[i * 3 + 2] != sep) return false;
    b[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  bytes_ = b;
  return true;
}

String MacAddress::ToString() const {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", bytes_[0], bytes_[1], bytes_[2], bytes_[3],
                bytes_[4], bytes_[5]);
  return buf;
}

bool MacAddress::IsZero() const {
  for (uint8_t b : bytes_)
    if (b) return false;
  return true;
}

bool IpAddress::Parse(const String &text) {
  uint32_t v = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    uint32_t n = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      n = n * 10 + static_cast<uint32_t>(text[i] - '0');
      if (++digits > 3 || n > 255) return false;
      ++i;
    }
    v = (v << 8) | n;
    if (part < 3) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  v_ = v;
  return true;
}

String IpAddress::ToString() const {
  return std::to_string(v_ >> 24) + "." + std::to_string((v_ >> 16) & 255) + "." + std::to_string((v_ >> 8) & 255) +
         "." + std::to_string(v_ & 255);
}

bool IpBlock::Parse(const String &text) {
  size_t slash = text.find('/');
  IpAddress a;
  if (!a.Parse(text.substr(0, slash))) return false;
  unsigned prefix = 32;
  if (slash != String::npos) {
    String p = text.substr(slash + 1);
    if (p.empty() || p.size() > 2) return false;
    prefix = 0;
    for (char c : p) {
      if (c < '0' || c > '9') return false;
      prefix = prefix * 10 + static_cast<unsigned>(c - '0');
    }
    if (prefix > 32) return false;
  }
  address_ = a;
  prefix_ = prefix;
  return true;
}

String IpBlock::ToString() const { return address_.ToString() + "/" + std::to_string(prefix_); }

}  // namespace Network
