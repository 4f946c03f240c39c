// Test fixture: captures what the shell writes, resets its process-wide
// state and gives it a private configuration manager store.
#pragma once

#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>
#include <string>

namespace shelltest {

// Everything written through cli_print and the line editor since the last take().
std::string &captured();
std::string take();

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs one line through the executor from a writable copy.
    int run(const std::string &line);
    // Writes a key into the private store through the stand-in.
    void store(const std::string &key, const std::string &value);
    std::string argv_log() const;
    std::string write_file(const std::string &name, const std::string &text) const;

    fw_test::TempDir tmp_{"druvel_test"};
    std::string dir_ = tmp_.path();
};

}  // namespace shelltest
