// Loading and unloading: the hook, the control file and their order.
#include "usb_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

using namespace usbfixups_test;

namespace {

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        kstandin_log_clear();
        kstandin_kmem_fail_reset();
        kstandin_xhci_reset();
    }
    void TearDown() override { kstandin_kmem_fail_reset(); }
};

TEST_F(Lifecycle, LoadInstallsHookAndFileUnloadRemovesThem)
{
    ASSERT_EQ(init_module(), 0);
    EXPECT_EQ(kernel_log(), "<6>usbfixups: loaded\n");
    EXPECT_EQ(usb_get_os_str_desc_hook, &usb_fixups_wcid_hook);
    EXPECT_TRUE(kstandin_sysctl_exists("dev/usb/force_usb2"));

    kstandin_log_clear();
    Device d = make_device(0x216F, 0x0045, "Modem");
    answer(d.get(), ext_compat_header());
    answer(d.get(), ext_compat_descriptor(1, "MBIM"));
    EXPECT_EQ(kstandin_usb_enumerate(d.get()), 2);

    cleanup_module();
    EXPECT_EQ(usb_get_os_str_desc_hook, nullptr);
    EXPECT_FALSE(kstandin_sysctl_exists("dev/usb/force_usb2"));
    EXPECT_EQ(kernel_log(), "<6>usbfixups: found WCID device Modem in MBIM mode\n<6>usbfixups: unloaded\n");
}

TEST_F(Lifecycle, FailedRegistrationTakesTheHookBack)
{
    struct Case {
        const char *name;
        std::function<void()> make_fail;
    } cases[] = {
        {"no memory", [] { kstandin_kmem_fail_after(0); }},
        {"name taken", [] {}},
    };
    static int other = 0;
    static struct ctl_table taken[] = {
        {"force_usb2", &other, sizeof(int), 0644, nullptr, proc_dointvec, nullptr, nullptr, nullptr}, {}};
    static const struct ctl_path dev_usb[] = {{"dev"}, {"usb"}, {}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        kstandin_log_clear();
        struct ctl_table_header *holder = nullptr;
        if (std::string(c.name) == "name taken")
            holder = register_sysctl_paths(dev_usb, taken);
        c.make_fail();
        EXPECT_EQ(init_module(), -1);
        kstandin_kmem_fail_reset();
        EXPECT_EQ(usb_get_os_str_desc_hook, nullptr);
        EXPECT_EQ(kernel_log(), "<3>usbfixups: unable to register a sysctl control file\n"
                                "<3>usbfixups: unable to initialize an XHCI controller\n");
        unregister_sysctl_table(holder);
        EXPECT_FALSE(kstandin_sysctl_exists("dev/usb/force_usb2"));
    }
    // Nothing stays behind that would stop the next load.
    ASSERT_EQ(init_module(), 0);
    cleanup_module();
}

// A hook call may sleep in a control transfer for seconds; the module's code
// must stay until it returns, and no new caller may find the hook meanwhile.
TEST_F(Lifecycle, UnloadWaitsForAHookCallInAControlTransfer)
{
    ASSERT_EQ(init_module(), 0);
    Device d = make_device(0x15A9, 0x002B);
    kstandin_usb_answer_blocked(d.get(), ext_compat_header().data(), 16);
    answer(d.get(), ext_compat_descriptor(1, "MBIM"));
    auto enumeration = std::async(std::launch::async, [&] { return kstandin_usb_enumerate(d.get()); });
    ASSERT_EQ(kstandin_usb_wait_blocked(d.get(), 5000), 0);

    auto unload = std::async(std::launch::async, [] { cleanup_module(); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((kstandin_sysctl_exists("dev/usb/force_usb2") || usb_get_os_str_desc_hook) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(kstandin_sysctl_exists("dev/usb/force_usb2"));
    EXPECT_EQ(usb_get_os_str_desc_hook, nullptr);

    Device late = make_device(0x15A9, 0x002B);
    EXPECT_EQ(kstandin_usb_enumerate(late.get()), 0) << "a new device must not reach the going module";

    EXPECT_EQ(unload.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "unloading returned while the hook still ran";
    kstandin_usb_release(d.get());
    EXPECT_EQ(enumeration.get(), 2);
    EXPECT_EQ(unload.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(kernel_log().find("<6>usbfixups: unloaded\n"), std::string::npos);
}

}  // namespace
