// The offer list: repeats, changes and order.
#include "offers.h"

#include "frames.h"

#include <gtest/gtest.h>

using namespace pppoe;

namespace {

using pppoe_test::offer;

std::vector<std::string> names(const OfferList &l)
{
    std::vector<std::string> v;
    for (const Offer &o : l.offers()) {
        char mac[ZMO_MAC_ADDR_STRLEN];
        v.push_back(o.ac_name + "@" + zmo_mac_addr_as_string(&o.mac, mac));
    }
    return v;
}

TEST(Offers, RepeatsReplaceAndMoveToTheEnd)
{
    OfferList l;
    using A = OfferList::Added;
    EXPECT_EQ(l.add(offer("a", "02:00:00:00:00:01", {"s"})), A::New);
    EXPECT_EQ(l.add(offer("a", "02:00:00:00:00:02", {"s"})), A::New) << "same name, other address";
    EXPECT_EQ(l.add(offer("b", "02:00:00:00:00:01")), A::New) << "same address, other name";
    EXPECT_EQ(l.add(offer("a", "02:00:00:00:00:01", {"s"})), A::Same);
    EXPECT_EQ(names(l), (std::vector<std::string>{"a@02:00:00:00:00:02", "b@02:00:00:00:00:01",
                                                  "a@02:00:00:00:00:01"}));
    EXPECT_EQ(l.add(offer("b", "02:00:00:00:00:01", {"new"})), A::Changed);
    EXPECT_EQ(l.add(offer("b", "02:00:00:00:00:01", {"new"}, "busy")), A::Changed);
    EXPECT_EQ(l.add(offer("b", "02:00:00:00:00:01", {"new"}, "busy")), A::Same);
    EXPECT_EQ(l.add(offer("b", "02:00:00:00:00:01", {"new"}, "down")), A::Changed);
    EXPECT_EQ(l.add(offer("b", "02:00:00:00:00:01", {"new", ""}, "down")), A::Changed);
    ASSERT_EQ(l.offers().size(), 3u);
    EXPECT_EQ(l.offers().back().services, (std::vector<std::string>{"new", ""}));
}

TEST(Offers, UnnamedOffersAreComparedByTheEmptyName)
{
    OfferList l;
    EXPECT_EQ(l.add(offer("", "02:00:00:00:00:01")), OfferList::Added::New);
    EXPECT_EQ(l.add(offer("", "02:00:00:00:00:01")), OfferList::Added::Same);
    EXPECT_EQ(l.offers().size(), 1u);
}

}  // namespace

namespace {

TEST(Offers, NewOffersFindNoRoomOnceTheListIsFull)
{
    OfferList l;
    for (size_t i = 0; i < kMaxOffers; i++)
        ASSERT_EQ(l.add(offer(("ac" + std::to_string(i)).c_str(), "02:00:00:00:00:01")),
                  OfferList::Added::New);
    EXPECT_EQ(l.add(offer("one-more", "02:00:00:00:00:01")), OfferList::Added::Full);
    EXPECT_EQ(l.offers().size(), kMaxOffers);
    // Those kept still change and move.
    EXPECT_EQ(l.add(offer("ac0", "02:00:00:00:00:01", {"s"})), OfferList::Added::Changed);
    EXPECT_EQ(l.offers().back().ac_name, "ac0");
    EXPECT_EQ(l.offers().size(), kMaxOffers);
}

}  // namespace
