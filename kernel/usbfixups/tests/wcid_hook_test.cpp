// The OS-descriptor hook: which devices are asked, what is asked, and what
// the USB core is told.
#include "usb_fixture.h"

#include <gtest/gtest.h>

#include <functional>

using namespace usbfixups_test;

namespace {

class WcidHook : public ::testing::Test {
protected:
    void SetUp() override
    {
        kstandin_log_clear();
        kstandin_kmem_fail_reset();
        live_ = kstandin_kmem_live();
    }
    void TearDown() override
    {
        kstandin_kmem_fail_reset();
        EXPECT_EQ(kstandin_kmem_live(), live_) << "a block of the hook was not freed";
    }
    long live_ = 0;
};

TEST_F(WcidHook, EveryListedModemIsAskedAndAnUnlistedDeviceIsNot)
{
    for (const auto &m : kModems) {
        SCOPED_TRACE(testing::Message() << std::hex << m[0] << ":" << m[1]);
        Device d = make_device(m[0], m[1]);
        answer(d.get(), ext_compat_header());
        answer(d.get(), ext_compat_descriptor(1, "MBIM"));
        EXPECT_EQ(usb_fixups_wcid_hook(d.get()), 2);
        EXPECT_EQ(control_calls(d.get()).size(), 2u);
    }
    for (auto [vendor, product] : {std::pair<uint16_t, uint16_t>{0x15A9, 0x0031},
                                   {0x216F, 0x002A},
                                   {0x1BBB, 0x025F},
                                   {0x0000, 0x0000}}) {
        Device d = make_device(vendor, product);
        answer(d.get(), ext_compat_header());
        answer(d.get(), ext_compat_descriptor(1, "MBIM"));
        EXPECT_EQ(usb_fixups_wcid_hook(d.get()), 0);
        EXPECT_TRUE(control_calls(d.get()).empty());
    }
}

struct HookCase {
    const char *name;
    const char *os_string;  // null: no string at 0xEE
    std::function<void(struct usb_device *)> script;
    int result;
    size_t calls;
    const char *log;  // expected kernel log, "" for none
};

std::vector<uint8_t> cut(std::vector<uint8_t> v, size_t n)
{
    v.resize(n);
    return v;
}

const HookCase kCases[] = {
    {"no string", nullptr, [](struct usb_device *) {}, 0, 0, ""},
    {"other string", "MSFT10", [](struct usb_device *) {}, 0, 0, ""},
    {"string not at start", "xMSFT100", [](struct usb_device *) {}, 0, 0, ""},
    {"empty string", "", [](struct usb_device *) {}, 0, 0, ""},
    {"header of another index", "MSFT100\x20", [](struct usb_device *d) { answer(d, ext_compat_header(5)); },
     1, 1, ""},
    {"first request fails", "MSFT100", [](struct usb_device *d) { kstandin_usb_answer_error(d, -ETIMEDOUT); },
     1, 1, ""},
    {"first answer short", "MSFT100", [](struct usb_device *d) { answer(d, cut(ext_compat_header(), 8)); }, 1,
     1, ""},
    {"second request fails", "MSFT100",
     [](struct usb_device *d) {
         answer(d, ext_compat_header());
         kstandin_usb_answer_error(d, -EPIPE);
     },
     1, 2, ""},
    {"second answer is the header only", "MSFT100",
     [](struct usb_device *d) {
         answer(d, ext_compat_header());
         answer(d, ext_compat_header());
     },
     1, 2, ""},
    {"second answer short of the ids", "MSFT100",
     [](struct usb_device *d) {
         answer(d, ext_compat_header());
         answer(d, cut(ext_compat_descriptor(1, "RNDIS"), 30));
     },
     1, 2, ""},
    {"section without byte 17 or id", "MSFT100",
     [](struct usb_device *d) {
         answer(d, ext_compat_header());
         answer(d, ext_compat_descriptor(0, ""));
     },
     1, 2, ""},
    {"byte 17 set, no id", "MSFT100",
     [](struct usb_device *d) {
         answer(d, ext_compat_header());
         answer(d, ext_compat_descriptor(1, ""));
     },
     2, 2, "<6>usbfixups: found WCID device Modem in  mode\n"},
    {"id without byte 17", "MSFT100",
     [](struct usb_device *d) {
         answer(d, ext_compat_header());
         answer(d, ext_compat_descriptor(0, "RNDIS", "5162001"));
     },
     2, 2, "<6>usbfixups: found WCID device Modem in RNDIS mode\n"},
    {"answer longer than asked", "MSFT100",
     [](struct usb_device *d) {
         std::vector<uint8_t> big = ext_compat_descriptor(1, "MBIM");
         big.resize(64, 0x41);
         answer(d, big);
         answer(d, big);
     },
     2, 2, "<6>usbfixups: found WCID device Modem in MBIM mode\n"},
};

TEST_F(WcidHook, ListedModemAnswers)
{
    for (const HookCase &c : kCases) {
        SCOPED_TRACE(c.name);
        kstandin_log_clear();
        Device d = make_device(0x216F, 0x0043, "Modem", c.os_string);
        c.script(d.get());
        EXPECT_EQ(usb_fixups_wcid_hook(d.get()), c.result);
        EXPECT_EQ(control_calls(d.get()).size(), c.calls);
        EXPECT_EQ(kernel_log(), c.log);
        EXPECT_EQ(kstandin_kmem_live(), live_);
    }
}

TEST_F(WcidHook, RequestsAskForTheExtendedCompatIdOfTheDevice)
{
    Device d = make_device(0x15A9, 0x0030);
    answer(d.get(), ext_compat_header());
    answer(d.get(), ext_compat_descriptor(1, "MBIM"));
    ASSERT_EQ(usb_fixups_wcid_hook(d.get()), 2);
    std::vector<kstandin_usb_ctrl_call> calls = control_calls(d.get());
    ASSERT_EQ(calls.size(), 2u);
    const uint16_t lengths[] = {16, 40};
    for (size_t i = 0; i < 2; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].pipe, usb_rcvctrlpipe(d.get(), 0));
        EXPECT_TRUE(usb_pipein(calls[i].pipe));
        EXPECT_EQ(usb_pipetype(calls[i].pipe), unsigned(PIPE_CONTROL));
        EXPECT_EQ(usb_pipeendpoint(calls[i].pipe), 0u);
        EXPECT_EQ(calls[i].request, 0x20);
        EXPECT_EQ(calls[i].requesttype, 0xC0);
        EXPECT_EQ(calls[i].value, 0);
        EXPECT_EQ(calls[i].index, 4);
        EXPECT_EQ(calls[i].size, lengths[i]);
        EXPECT_EQ(calls[i].timeout, 5000);
    }
}

// Sixteen id bytes without a zero: the text stops after the compatible id
// instead of running into the sub-compatible id and past the buffer.
TEST_F(WcidHook, CompatibleIdIsPrintedToEightCharactersAtMost)
{
    Device d = make_device(0x1BBB, 0x025E, "LTE Stick");
    answer(d.get(), ext_compat_header());
    std::vector<uint8_t> full = ext_compat_descriptor(1, "ABCDEFGH", "IJKLMNOP");
    for (size_t i = 34; i < 40; i++)
        full[i] = 'Q';
    answer(d.get(), full);
    EXPECT_EQ(usb_fixups_wcid_hook(d.get()), 2);
    EXPECT_EQ(kernel_log(), "<6>usbfixups: found WCID device LTE Stick in ABCDEFGH mode\n");
}

TEST_F(WcidHook, NoBufferIsOutOfMemory)
{
    Device d = make_device(0x15A9, 0x002A);
    answer(d.get(), ext_compat_header());
    kstandin_kmem_fail_after(1);  // the cached string, then the buffer
    EXPECT_EQ(usb_fixups_wcid_hook(d.get()), -ENOMEM);
    EXPECT_TRUE(control_calls(d.get()).empty());
}

TEST_F(WcidHook, NoMemoryForTheStringIsNoString)
{
    Device d = make_device(0x15A9, 0x002A);
    kstandin_kmem_fail_after(0);
    EXPECT_EQ(usb_fixups_wcid_hook(d.get()), 0);
    EXPECT_TRUE(control_calls(d.get()).empty());
}

}  // namespace
