#include "profile_fixture.h"

#include <cstring>
#include <fstream>

#include "cfgmgr_access.h"
#include "cli_print.h"
#include "firmware_package.h"
#include "vdsl.h"
#include "vdsl_profiles.h"

namespace proftest {

void ProfileTest::SetUp()
{
    ShellTest::SetUp();
    fakedev::reset();
    free_vdsl_profiles_fun();
    port_map_set("", "");
    package_path_ = dir_ + "/firmware_package.b";
    firmware_package_path = package_path_.c_str();
    write_package(package());
    seen_ = 0;
    // The package reader's trace lines would drown what the tests look at.
    cli_print_mask = CLI_MASK_CLEAN & ~CLI_LEVEL_TRACE;
    shelltest::take();
}

void ProfileTest::TearDown()
{
    free_vdsl_profiles_fun();
    port_map_set("", "");
    firmware_package_path = FIRMWARE_PACKAGE_PATH;
    ShellTest::TearDown();
}

pkgtest::Contents ProfileTest::package()
{
    pkgtest::Contents s;
    s.images = {pkgtest::Bytes(12, 0x11)};
    s.profiles = {
        {"SYS_a", {{"0.9.1", "000001"}}},
        {"SYS_b", {{"0.9.1", "000002"}}},
        {"BND_b40",
         {{"0.10.4", "64"}, {"0.10.5", "65"}, {"0.10.2", "fffe70"}, {"0.10.3", "fffe71"}, {"0.9.35", "40"}}},
        {"BND_b10", {{"0.10.4", "1"}, {"0.10.5", "2"}, {"0.10.2", "3"}, {"0.10.3", "4"}, {"0.9.35", "8"}}},
        {"VNS_v", {{"0.9.27", "000001"}}},
        {"PSD_p", {{"0.10.14", "5003e8"}, {"0.10.15", "5103e8"}}},
        {"RFI_r", {{"0.9.5", "000010"}}},
        {"DPB_d", {{"0.9.36", "000020"}}},
        {"IOT_0", {{"1.1.5", "000000"}}},
        {"IOT_5", {{"1.1.5", "000005"}}}};
    return s;
}

void ProfileTest::write_package(const pkgtest::Contents &contents)
{
    pkgtest::Bytes b = pkgtest::build(contents);
    std::ofstream out(package_path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

Writes ProfileTest::writes()
{
    Writes out;
    for (size_t i = seen_; i < dev.requests.size(); i++) {
        const fakedev::Request &r = dev.requests[i];
        if (r.number != VDSL_SET_DATA_LOGIC)
            continue;
        const char *oid = reinterpret_cast<const char *>(r.block.data() + 1);
        out.emplace_back(oid, reinterpret_cast<const char *>(r.block.data() + 2 + std::strlen(oid)));
    }
    seen_ = dev.requests.size();
    return out;
}

std::vector<int> ProfileTest::port_ops()
{
    std::vector<int> out;
    for (const fakedev::Request &r : dev.requests) {
        if (r.number == VDSL_CONNECT_PORT)
            out.push_back(0);
        else if (r.number == VDSL_DISCONNECT_PORT)
            out.push_back(1);
        else if (r.number == VDSL_LOOPBACK_ON)
            out.push_back(2);
        else if (r.number == VDSL_LOOPBACK_OFF)
            out.push_back(3);
    }
    return out;
}

std::string ProfileTest::stored(const std::string &key)
{
    char line[8192];
    if (cfgmgr_read(key.c_str(), line, sizeof line) != CFGMGR_READ_OK)
        return "<absent>";
    std::string v = line;
    if (!v.empty() && v.back() == '\n')
        v.pop_back();
    return v;
}

}  // namespace proftest
