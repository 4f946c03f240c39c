// The report of one neighbour, as the feedback file gets it.
#include "receive.h"

#include <gtest/gtest.h>

#include "fw_test/temp_dir.h"

#include <cstring>
#include <fstream>
#include <sstream>

using namespace lldp;

namespace {

class Report : public ::testing::Test {
protected:
    std::string written()
    {
        std::ifstream in(file_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fw_test::TempDir tmp_{"lldprecv_test"};
    std::string dir_ = tmp_.path(), file_ = tmp_.file("vessik.fb");
};

TEST_F(Report, KeysInOrder)
{
    Neighbour n;
    const uint8_t mac[6] = {0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0xee};
    std::memcpy(n.mac, mac, 6);
    n.ip = 16885952;
    n.desc = "Gateway";
    n.mode = "router";
    n.http_port = 80;
    n.interface_idx = 5;
    n.fw_version = "4.1";
    n.cid = "c1";
    n.controller_cid = "c2";
    ASSERT_TRUE(report_neighbour(n, false, file_.c_str()));
    EXPECT_EQ(written(), "mac=02:aa:bb:cc:dd:ee\nip=16885952\ndesc=Gateway\nmode=router\nhttp_port=80\n"
                         "interface_idx=5\nfw_version=4.1\ncid=c1\ncontroller_cid=c2");
}

TEST_F(Report, WireTextsStayInTheirLine)
{
    Neighbour n;
    n.desc = "a\nmode=forged\r";
    n.cid = std::string("x\x1b\x7f", 3);
    n.interface_idx = -1;
    ASSERT_TRUE(report_neighbour(n, false, file_.c_str()));
    EXPECT_EQ(written(), "mac=00:00:00:00:00:00\nip=0\ndesc=a_mode=forged_\nmode=\nhttp_port=0\n"
                         "interface_idx=-1\nfw_version=\ncid=x__\ncontroller_cid=");
}

TEST_F(Report, MissingFolderFails)
{
    Neighbour n;
    std::string gone = dir_ + "/none/vessik.fb";
    EXPECT_FALSE(report_neighbour(n, true, gone.c_str()));
}

}  // namespace
