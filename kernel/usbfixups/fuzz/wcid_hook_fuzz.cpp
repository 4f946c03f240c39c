// The OS-descriptor hook against whatever a device may answer: a string at
// 0xEE and two descriptor answers (bytes, short, errors), on a listed modem.
#include "usbfixups.h"

#include <kstandin/host.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = [] {
        kstandin_log_echo_fd(-1);
        return true;
    }();
    (void)quiet;
    size_t at = 0;
    auto take = [&](size_t n) {
        n = n < size - at ? n : size - at;
        const uint8_t *p = data + at;
        at += n;
        return std::string(reinterpret_cast<const char *>(p), n);
    };
    if (size < 2)
        return 0;
    uint8_t flags = data[at++];
    uint8_t strlen_ = data[at++];
    std::string os = take(strlen_ % 64);
    // The string arrives as text; a zero byte ends it as the core's copy would.
    os = os.substr(0, os.find('\0'));

    struct usb_device *dev = kstandin_usb_device_new(0x1BBB, 0x025E, (flags & 1) ? "Modem" : nullptr);
    if (flags & 2)
        kstandin_usb_set_string(dev, 0xEE, os.c_str());
    for (int i = 0; i < 2 && at < size; i++) {
        uint8_t len = data[at++];
        if (len >= 0xF0)
            kstandin_usb_answer_error(dev, -(int)(len & 0x0F) - 1);
        else {
            std::string bytes = take(len % 64);
            kstandin_usb_answer_bytes(dev, bytes.data(), bytes.size());
        }
    }
    long live = kstandin_kmem_live();
    if (flags & 4)
        kstandin_kmem_fail_after((flags >> 3) & 1);
    int rc = usb_fixups_wcid_hook(dev);
    kstandin_kmem_fail_reset();
    if (rc != 0 && rc != 1 && rc != 2 && rc != -ENOMEM)
        abort();
    if (kstandin_kmem_live() != live)
        abort();
    kstandin_usb_device_free(dev);
    kstandin_log_clear();
    return 0;
}
