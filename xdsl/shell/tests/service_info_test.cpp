// The service record's commands: the record's fields as the boot
// interface's driver hands them out, and the failures before it.
#include <cstring>
#include <string>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "service_info.h"
#include "shell_fixture.h"

namespace {

using shelltest::take;

class ServiceInfo : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        take();
    }
    void field(size_t offset, const std::string &text)
    {
        fakedev::device().service.replace(offset, text.size(), text);
    }
};

TEST_F(ServiceInfo, WholeRecordRightAlignedIn15Columns)
{
    store("EBM_BOOT_IF_P1", "eth1");
    field(0, "TAG1");
    field(32, "host.example");
    field(80, "secret");
    field(112, "HW-01");
    field(144, std::string(32, 'c'));  // fills its width, no zero byte
    field(176, "trailing");
    EXPECT_EQ(run("show serviceinfo"), 0);
    EXPECT_EQ(take(), "     servicetag: TAG1\n    servicehost: host.example\n    servicepass: secret\n"
                      "        zmohwid: HW-01\n       checksum: " +
                          std::string(32, 'c') + "\n\n");
    ASSERT_EQ(fakedev::device().service_asked.size(), 1u);
    EXPECT_EQ(fakedev::device().service_asked[0], "eth1");
}

TEST_F(ServiceInfo, SingleFields)
{
    store("EBM_BOOT_IF_P1", "eth1");
    field(0, "TAG1");
    field(32, std::string(48, 'h'));
    field(80, "secret");
    field(112, "HW-01");
    struct {
        const char *line, *want;
    } cases[] = {
        {"show servicetag", "TAG1\n"}, {"show servicepass", "secret\n"}, {"show zmohwid", "HW-01\n"}};
    for (const auto &c : cases) {
        EXPECT_EQ(run(c.line), 0) << c.line;
        EXPECT_EQ(take(), c.want) << c.line;
    }
    // A field that fills its width ends there, not in the next one.
    EXPECT_EQ(run("show servicehost"), 0);
    EXPECT_EQ(take(), std::string(48, 'h') + "\n");
}

TEST_F(ServiceInfo, FailuresAnswer100)
{
    // Without the trace level only the missing key and the failure show.
    cli_print_mask = CLI_MASK_INTERACTIVE;
    for (const char *line :
         {"show serviceinfo", "show servicetag", "show servicehost", "show servicepass", "show zmohwid"}) {
        EXPECT_EQ(run(line), CLI_FAILED) << line;
        EXPECT_EQ(take(), "stream reading failed\nError getting Service Info\n\n") << line;
    }
    EXPECT_TRUE(fakedev::device().service_asked.empty());

    cli_print_mask = CLI_MASK_CLEAN;
    EXPECT_EQ(run("show servicetag"), CLI_FAILED);
    EXPECT_EQ(
        take(),
        "stream reading failed\nget_service_info: Can not get EBM_BOOT_IF\n\nError getting Service Info\n\n");

    store("EBM_BOOT_IF_P1", "eth1");
    fakedev::device().service_answer = -1;
    EXPECT_EQ(run("show serviceinfo"), CLI_FAILED);
    EXPECT_EQ(take(), "get_service_info: IOCTL error\n\nError getting Service Info\n\n");
}

}  // namespace
