// Devices and descriptor answers for the module's tests.
#ifndef USBFIXUPS_TESTS_USB_FIXTURE_H
#define USBFIXUPS_TESTS_USB_FIXTURE_H

#include "usbfixups.h"

#include <kstandin/host.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usbfixups_test {

struct DeviceFree {
    void operator()(struct usb_device *d) const { kstandin_usb_device_free(d); }
};
using Device = std::unique_ptr<struct usb_device, DeviceFree>;

inline Device make_device(uint16_t vendor, uint16_t product, const char *name = "Modem",
                          const char *os_string = "MSFT100\x20")
{
    Device d(kstandin_usb_device_new(vendor, product, name));
    if (os_string)
        kstandin_usb_set_string(d.get(), 0xEE, os_string);
    return d;
}

// Extended Compat ID header: 40 bytes long, index `index`, one section.
inline std::vector<uint8_t> ext_compat_header(uint8_t index = 4)
{
    return {40, 0, 0, 0, 0x00, 0x01, index, 0, 1, 0, 0, 0, 0, 0, 0, 0};
}

// Header and one function section with byte 17 and the two ids.
inline std::vector<uint8_t> ext_compat_descriptor(uint8_t byte17, const std::string &compat,
                                                  const std::string &sub = "")
{
    std::vector<uint8_t> d = ext_compat_header();
    d.resize(40, 0);
    d[16] = 0;
    d[17] = byte17;
    for (size_t i = 0; i < compat.size() && i < 8; i++)
        d[18 + i] = static_cast<uint8_t>(compat[i]);
    for (size_t i = 0; i < sub.size() && i < 8; i++)
        d[26 + i] = static_cast<uint8_t>(sub[i]);
    return d;
}

inline void answer(struct usb_device *d, const std::vector<uint8_t> &bytes)
{
    kstandin_usb_answer_bytes(d, bytes.data(), bytes.size());
}

inline std::string kernel_log()
{
    std::string s(kstandin_log_read(nullptr, 0) + 1, '\0');
    s.resize(kstandin_log_read(&s[0], s.size()));
    return s;
}

inline std::vector<kstandin_usb_ctrl_call> control_calls(struct usb_device *d)
{
    std::vector<kstandin_usb_ctrl_call> calls(kstandin_usb_calls(d, nullptr, 0));
    kstandin_usb_calls(d, calls.data(), calls.size());
    return calls;
}

// The nine listed modems.
constexpr std::array<std::array<uint16_t, 2>, 9> kModems = {{{0x15A9, 0x002A},
                                                             {0x15A9, 0x002B},
                                                             {0x15A9, 0x002C},
                                                             {0x15A9, 0x0030},
                                                             {0x216F, 0x0042},
                                                             {0x216F, 0x0043},
                                                             {0x216F, 0x0044},
                                                             {0x216F, 0x0045},
                                                             {0x1BBB, 0x025E}}};

}  // namespace usbfixups_test

#endif
