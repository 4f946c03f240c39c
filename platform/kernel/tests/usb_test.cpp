#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

namespace {

struct Dev {
    struct usb_device *d = kstandin_usb_device_new(0x1234, 0x5678, "Thing");
    ~Dev() { kstandin_usb_device_free(d); }
};

TEST(Usb, StringsByIndexAreCopiesForTheCaller)
{
    Dev dev;
    EXPECT_EQ(le16_to_cpu(dev.d->descriptor.idVendor), 0x1234);
    EXPECT_STREQ(dev.d->product, "Thing");
    EXPECT_EQ(usb_cache_string(dev.d, 0xEE), nullptr);
    kstandin_usb_set_string(dev.d, 0xEE, "MSFT100!");
    long live = kstandin_kmem_live();
    char *s = usb_cache_string(dev.d, 0xEE);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "MSFT100!");
    EXPECT_EQ(kstandin_kmem_live(), live + 1);
    kfree(s);
    kstandin_usb_set_string(dev.d, 0xEE, nullptr);
    EXPECT_EQ(usb_cache_string(dev.d, 0xEE), nullptr);
}

TEST(Usb, ControlTransfersFollowTheScriptAndAreRecorded)
{
    Dev dev;
    const unsigned char bytes[] = {1, 2, 3, 4, 5};
    kstandin_usb_answer_bytes(dev.d, bytes, sizeof bytes);
    kstandin_usb_answer_bytes(dev.d, bytes, sizeof bytes);
    kstandin_usb_answer_error(dev.d, -ETIMEDOUT);
    unsigned char buf[8] = {};
    unsigned int pipe = usb_rcvctrlpipe(dev.d, 0);
    EXPECT_EQ(usb_control_msg(dev.d, pipe, 0x20, 0xC0, 0, 4, buf, 3, 5000), 3) << "cut to the length";
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(usb_control_msg(dev.d, pipe, 0x20, 0xC0, 0, 4, buf, 8, 5000), 5) << "a short answer";
    EXPECT_EQ(usb_control_msg(dev.d, pipe, 0x20, 0xC0, 0, 4, buf, 8, 5000), -ETIMEDOUT);
    EXPECT_EQ(usb_control_msg(dev.d, pipe, 0x21, 0xC1, 1, 2, buf, 8, 100), -EPIPE) << "nothing scripted";
    kstandin_usb_ctrl_call calls[8];
    ASSERT_EQ(kstandin_usb_calls(dev.d, calls, 8), 4u);
    EXPECT_EQ(calls[3].pipe, pipe);
    EXPECT_EQ(calls[3].request, 0x21);
    EXPECT_EQ(calls[3].requesttype, 0xC1);
    EXPECT_EQ(calls[3].value, 1);
    EXPECT_EQ(calls[3].index, 2);
    EXPECT_EQ(calls[3].size, 8);
    EXPECT_EQ(calls[3].timeout, 100);
    EXPECT_TRUE(usb_pipein(pipe));
    EXPECT_FALSE(usb_pipein(usb_sndctrlpipe(dev.d, 0)));
}

TEST(Usb, BlockedAnswerWaitsForRelease)
{
    Dev dev;
    const unsigned char bytes[] = {9};
    kstandin_usb_answer_blocked(dev.d, bytes, 1);
    unsigned char buf[1] = {};
    auto call = std::async(std::launch::async, [&] {
        return usb_control_msg(dev.d, usb_rcvctrlpipe(dev.d, 0), 0, 0x80, 0, 0, buf, 1, 5000);
    });
    ASSERT_EQ(kstandin_usb_wait_blocked(dev.d, 5000), 0);
    EXPECT_EQ(call.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    kstandin_usb_release(dev.d);
    EXPECT_EQ(call.get(), 1);
    EXPECT_EQ(buf[0], 9);
}

int hook_calls;
int counting_hook(struct usb_device *) { return ++hook_calls; }

TEST(Usb, EnumerationAsksTheHookWhenOneIsSet)
{
    Dev dev;
    usb_get_os_str_desc_hook = nullptr;
    EXPECT_EQ(kstandin_usb_enumerate(dev.d), 0);
    usb_get_os_str_desc_hook = counting_hook;
    EXPECT_EQ(kstandin_usb_enumerate(dev.d), 1);
    usb_get_os_str_desc_hook = nullptr;
}

TEST(Xhci, RestartsFollowTheScript)
{
    kstandin_xhci_reset();
    kstandin_xhci_script_restart(-EBUSY);
    EXPECT_EQ(xhci_hub_restart(1), -EBUSY);
    EXPECT_EQ(xhci_hub_restart(0), 0);
    int modes[4];
    ASSERT_EQ(kstandin_xhci_restarts(modes, 4), 2u);
    EXPECT_EQ(modes[0], 1);
    EXPECT_EQ(modes[1], 0);
    kstandin_xhci_reset();
    EXPECT_EQ(kstandin_xhci_restarts(modes, 4), 0u);
}

}  // namespace
