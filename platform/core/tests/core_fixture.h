// One core per test, under a temporary root.
#ifndef ZMOCORE_TEST_FIXTURE_H
#define ZMOCORE_TEST_FIXTURE_H

#include <gtest/gtest.h>

#include "fw_test/matchers.h"
#include "fw_test/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "zmocore.h"
#include "zmocore/host.h"

using fw_test::HasSubstr;
using fw_test::Not;

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override { Make(false); }
    void TearDown() override { host_.reset(); }
    void Make(bool manual_clock)
    {
        host_.reset();
        if (dir_.empty()) {
            dir_ = tmp_.path();
            std::filesystem::create_directories(dir_ + "/var/run");
        }
        Core::HostOptions o;
        o.root = dir_;
        o.manual_clock = manual_clock;
        o.forwarder = ZMOCORE_BIN;
        host_.reset(new Core::Host(o));
    }
    // Runs script lines; returns what they printed.
    std::string Run(const std::string &lines, bool expect_ok = true)
    {
        std::istringstream in(lines);
        std::ostringstream out;
        std::string line;
        while (std::getline(in, line)) {
            bool ok = host_->RunLine(line, out);
            if (expect_ok) {
                EXPECT_TRUE(ok) << line << "\n" << out.str();
            }
        }
        return out.str();
    }
    bool Journaled(const std::string &prefix) { return !host_->JournalMatching(prefix).empty(); }
    std::string File(const std::string &path)
    {
        std::ifstream f(path);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    fw_test::TempDir tmp_{"zmocore-test"};
    std::string dir_;
    std::unique_ptr<Core::Host> host_;
};

#endif
