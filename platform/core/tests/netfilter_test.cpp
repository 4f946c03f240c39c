// Firewall tables as the plug-ins change them, journaled as iptables-save text.
#include "core_fixture.h"

namespace {

class NetfilterTest : public CoreTest {
protected:
    Netfilter::Manager &Nf()
    {
        return *static_cast<Netfilter::Manager *>(Core::Core::Find_(Netfilter::Manager::IDENT));
    }
};

// The LLMNR drop entry of one interface, as a plug-in would test for it.
struct LlmnrDrop : Netfilter::Base::Predicate<Netfilter::Entry> {
    bool operator()(const Netfilter::Entry &e) const override
    {
        return e.target == Netfilter::Target::Standard::DROP && e.destination_set &&
               e.destination == Network::IpBlock(Network::IpAddress(0xe00000fc), 32) && e.protocol == 17 &&
               e.destination_ports.from == 5355 && e.destination_ports.to == 5355;
    }
};

TEST_F(NetfilterTest, EntriesRenderAsIptablesSaveAndCommitJournalsTheTable)
{
    Netfilter::Table *t;
    ASSERT_FALSE(Failed(Nf().Acquire(Netfilter::Table::FILTER, &t)));
    ASSERT_FALSE(Failed(t->CreateChain("_ZMO_NBNS_OUTPUT_FILTER")));
    Netfilter::Entry jump;
    jump.protocol = 17;
    jump.target = "_ZMO_NBNS_OUTPUT_FILTER";
    ASSERT_FALSE(Failed(t->Prepend(Netfilter::Table::CHAIN_ZMO_OUTPUT, jump)));
    Netfilter::Entry drop;
    drop.protocol = 17;
    drop.out_interface = "ppp+";
    drop.source_ports = {137, 138};
    drop.target = Netfilter::Target::Standard::DROP;
    ASSERT_FALSE(Failed(t->Append("_ZMO_NBNS_OUTPUT_FILTER", drop)));
    Netfilter::Entry llmnr;
    llmnr.protocol = 17;
    llmnr.in_interface = "eth1";
    llmnr.SetDestination(Network::IpBlock(Network::IpAddress(0xe00000fc), 32));
    llmnr.destination_ports = {5355, 5355};
    llmnr.target = Netfilter::Target::Standard::DROP;
    ASSERT_FALSE(Failed(t->Prepend(Netfilter::Table::CHAIN_ZMO_MULTICAST_INPUT, llmnr)));
    ASSERT_FALSE(Failed(t->Commit()));
    Nf().Release(t);
    const std::string save = Nf().Save(Netfilter::Table::FILTER);
    EXPECT_THAT(save, HasSubstr(":_ZMO_NBNS_OUTPUT_FILTER - [0:0]\n")) << save;
    EXPECT_THAT(save, HasSubstr("-A _ZMO_OUTPUT -p udp -j _ZMO_NBNS_OUTPUT_FILTER\n")) << save;
    EXPECT_THAT(save, HasSubstr("-A _ZMO_NBNS_OUTPUT_FILTER -o ppp+ -p udp -m udp --sport 137:138 -j DROP\n"))
        << save;
    EXPECT_THAT(
        save, HasSubstr("-A _ZMO_MCAST_INPUT -d 224.0.0.252/32 -i eth1 -p udp -m udp --dport 5355 -j DROP\n"))
        << save;
    EXPECT_TRUE(Journaled("netfilter commit filter\n*filter\n"));

    // Removal by predicate, then the chain and the jumps to it.
    ASSERT_FALSE(Failed(Nf().Acquire(Netfilter::Table::FILTER, &t)));
    EXPECT_FALSE(Failed(t->Remove(Netfilter::Table::CHAIN_ZMO_MULTICAST_INPUT, LlmnrDrop())));
    EXPECT_TRUE(t->Entries(Netfilter::Table::CHAIN_ZMO_MULTICAST_INPUT).empty());
    t->Commit();
    Nf().Release(t);
    ASSERT_FALSE(Failed(Nf().RemoveChain(Netfilter::Table::FILTER, "_ZMO_NBNS_OUTPUT_FILTER")));
    EXPECT_THAT(Nf().Save(Netfilter::Table::FILTER), Not(HasSubstr("NBNS")));
}

TEST_F(NetfilterTest, NatRedirectAndRepeatLeavesTheChain)
{
    Netfilter::Table *t;
    ASSERT_FALSE(Failed(Nf().Acquire(Netfilter::Table::NAT, &t)));
    t->CreateChain("_ZMO_AG_REDIRECT");
    Netfilter::Entry skip;
    skip.protocol = 17;
    skip.in_interface = "br0";
    skip.SetSource(Network::IpBlock(Network::IpAddress(0xc0a8010a), 32));
    skip.destination_ports = {53, 53};
    skip.target = Netfilter::Target::Standard::REPEAT;
    Netfilter::Entry redirect;
    redirect.protocol = 17;
    redirect.in_interface = "br0";
    redirect.destination_ports = {5353, 5353};
    redirect.SetDestination(Network::IpBlock(Network::IpAddress(0xe0000000), 4), true);
    redirect.SetRedirect(53);
    EXPECT_FALSE(Failed(t->Append("_ZMO_AG_REDIRECT", skip)));
    EXPECT_FALSE(Failed(t->Append("_ZMO_AG_REDIRECT", redirect)));
    Netfilter::Entry jump;
    jump.target = "_ZMO_AG_REDIRECT";
    EXPECT_FALSE(Failed(t->Prepend(Netfilter::Table::CHAIN_ZMO_DNS_REDIRECT, jump)));
    EXPECT_FALSE(Failed(t->Commit()));
    Nf().Release(t);
    const std::string save = Nf().Save(Netfilter::Table::NAT);
    EXPECT_THAT(
        save, HasSubstr("-A _ZMO_AG_REDIRECT -s 192.168.1.10/32 -i br0 -p udp -m udp --dport 53 -j RETURN\n"))
        << save;
    EXPECT_THAT(
        save, HasSubstr("-A _ZMO_AG_REDIRECT ! -d 224.0.0.0/4 -i br0 -p udp -m udp --dport 5353 -j REDIRECT "
                        "--to-ports 53\n"))
        << save;
    EXPECT_THAT(save, HasSubstr("-A _ZMO_DNS_REDIRECT -j _ZMO_AG_REDIRECT\n")) << save;
}

TEST_F(NetfilterTest, RefusalsAndUncommittedChanges)
{
    Netfilter::Table *t;
    ASSERT_FALSE(Failed(Nf().Acquire(Netfilter::Table::FILTER, &t)));
    Netfilter::Entry e;
    e.target = "_NO_SUCH_CHAIN";
    EXPECT_TRUE(Failed(t->Append(Netfilter::Table::CHAIN_ZMO_OUTPUT, e)));  // jump nowhere
    e.target = "DROP";
    EXPECT_TRUE(Failed(t->Append("_MISSING", e)));
    EXPECT_FALSE(Failed(t->CreateChain("_ZMO_X")));
    EXPECT_TRUE(Failed(t->CreateChain("_ZMO_X")));
    EXPECT_TRUE(Failed(t->RemoveChain("INPUT")));
    Nf().Release(t);  // never committed: dropped
    EXPECT_THAT(Nf().Save(Netfilter::Table::FILTER), Not(HasSubstr("_ZMO_X")));
    host_->InjectFailure("netfilter.commit");
    ASSERT_FALSE(Failed(Nf().Acquire(Netfilter::Table::FILTER, &t)));
    t->CreateChain("_ZMO_Y");
    EXPECT_TRUE(Failed(t->Commit()));
    Nf().Release(t);
    EXPECT_THAT(Nf().Save(Netfilter::Table::FILTER), Not(HasSubstr("_ZMO_Y")));
    EXPECT_TRUE(Failed(Nf().ClearChain(Netfilter::Table::NAT, "_MISSING")));
}

}  // namespace
