// The shell test fixture with an empty profile store, a generated firmware
// package and the fake device.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fake_device.h"
#include "package_builder.h"
#include "shell_fixture.h"

namespace proftest {

using Writes = std::vector<std::pair<std::string, std::string>>;

class ProfileTest : public shelltest::ShellTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The package: SYS_a/SYS_b, BND_b40 (0.9.35 = 40), BND_b10 (0.9.35 = 8), VNS_v,
    // PSD_p, RFI_r, DPB_d, IOT_5 unless a test writes its own.
    static pkgtest::Contents package();
    void write_package(const pkgtest::Contents &contents);
    // The MIB writes sent to the device, in order, since the last call.
    Writes writes();
    // The port operations (0 connect, 1 disconnect, ...) in order.
    std::vector<int> port_ops();
    // The keys that the configuration manager now holds, as KEY=VALUE lines.
    std::string stored(const std::string &key);

    fakedev::Device &dev = fakedev::device();
    std::string package_path_;
    size_t seen_ = 0;
};

}  // namespace proftest
