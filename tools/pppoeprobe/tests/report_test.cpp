// Report lines and the feedback text.
#include "report.h"

#include "frames.h"

#include <gtest/gtest.h>

#include "fw_test/memory_file.h"

using namespace pppoe;

namespace {

using pppoe_test::offer;

std::string printed(const std::function<void(FILE *)> &print)
{
    fw_test::MemoryFile f;
    print(f.get());
    return f.text();
}

TEST(Report, OfferLines)
{
    EXPECT_EQ(printed([](FILE *f) {
                  print_offer(f, offer("ac1", "02:aa:00:00:00:01", {"isp", ""}));
              }),
              "\nAC name   : ac1\nHW address: 02:aa:00:00:00:01\n   Service: isp\n   Service: \n");
    EXPECT_EQ(printed([](FILE *f) {
                  print_offer(f, offer("ac1", "02:aa:00:00:00:01", {}, "unknown service name error"));
              }),
              "\nAC name   : ac1 [unknown service name error]\nHW address: 02:aa:00:00:00:01\n");
    EXPECT_EQ(
        printed([](FILE *f) { print_offer(f, offer("a\nb", "02:aa:00:00:00:01", {"x\r\x1b[2J"}, "e\n")); }),
        "\nAC name   : a_b [e_]\nHW address: 02:aa:00:00:00:01\n   Service: x__[2J\n");
}

TEST(Report, Summary)
{
    OfferList l;
    EXPECT_EQ(printed([&](FILE *f) { print_summary(f, l); }), "No access concentrators found.\n");
    l.add(offer("a", "02:00:00:00:00:01", {}));
    EXPECT_EQ(printed([&](FILE *f) { print_summary(f, l); }), "\n");
}

TEST(Report, FeedbackLines)
{
    OfferList l;
    l.add(offer("first", "02:00:00:00:00:01", {"s0", "s1"}));
    l.add(offer("bad", "02:00:00:00:00:02", {}, "unknown service name error"));
    EXPECT_EQ(feedback_text("eth1", l), "PPPOE_INTERFACE=eth1\n"
                                        "PPPOE_AC0_NAME=first\n"
                                        "PPPOE_AC0_HW_ADDR=02:00:00:00:00:01\n"
                                        "PPPOE_AC0_SERVICE0=s0\n"
                                        "PPPOE_AC0_SERVICE1=s1\n"
                                        "PPPOE_AC1_NAME=bad\n"
                                        "PPPOE_AC1_HW_ADDR=02:00:00:00:00:02\n"
                                        "PPPOE_AC1_ERROR=unknown service name error\n");
}

// A name from the wire must not add a line of its own.
TEST(Report, WireTextsCannotAddVariables)
{
    OfferList l;
    l.add(offer("x\nPPPOE_AC9_NAME=evil", "02:00:00:00:00:01", {"s\nPPPOE_FORGED=1", std::string("n\0ul", 4)},
                "e\r\nPPPOE_X=1\x7f"));
    std::string text = feedback_text("eth1", l);
    EXPECT_EQ(text, std::string("PPPOE_INTERFACE=eth1\n"
                                "PPPOE_AC0_NAME=x_PPPOE_AC9_NAME=evil\n"
                                "PPPOE_AC0_HW_ADDR=02:00:00:00:00:01\n"
                                "PPPOE_AC0_ERROR=e__PPPOE_X=1_\n"
                                "PPPOE_AC0_SERVICE0=s_PPPOE_FORGED=1\n"
                                "PPPOE_AC0_SERVICE1=n_ul\n"));
}

}  // namespace
