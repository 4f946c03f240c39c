// NetBIOS and LLMNR traffic kept off public interfaces: the interface
// records and the rules rebuilt from them after every interface change.
#include "Cifs/ServerVX.h"

namespace Cifs {

namespace {

const char *const kAlwaysDropped[] = {"ppp+", "ovpn_br+"};
constexpr uint16_t LLMNR_PORT = 5355;
constexpr uint32_t LLMNR_GROUP = 0xe00000fcu;  // 224.0.0.252

// The LLMNR drop entries this component puts into the multicast input chain.
class HasLlmnrInputDropEntry_ : public Netfilter::Base::Predicate<Netfilter::Entry> {
public:
    bool operator()(const Netfilter::Entry &e) const override
    {
        return e.target == Netfilter::Target::Standard::DROP && e.destination_set &&
               e.destination.Address().Value() == LLMNR_GROUP && e.destination.IsHost() && e.protocol == 17 &&
               e.destination_ports.from == LLMNR_PORT && e.destination_ports.to == LLMNR_PORT;
    }
};

Netfilter::Entry UdpDrop(const String &out_interface)
{
    Netfilter::Entry e;
    e.protocol = 17;
    e.out_interface = out_interface;
    e.target = Netfilter::Target::Standard::DROP;
    return e;
}

// Two entries: NetBIOS datagrams from and to the name/datagram ports.
bool AppendNetbiosDrops(Netfilter::Table &t, Netfilter::Entry e)
{
    e.source_ports = {137, 138};
    if (Failed(t.Append(NBNS_CHAIN, e)))
        return false;
    e.source_ports = {};
    e.destination_ports = {137, 138};
    return !Failed(t.Append(NBNS_CHAIN, e));
}

}  // namespace

bool ServerVX::RecordInterface_(const String &id, const String *system_name)
{
    Network::Interface::IpInfo info;
    if (!core_.interfaces->FindIp(id, info))
        return true;
    try {
        Interface_ rec;
        rec.level = info.level;
        rec.system_name = system_name ? *system_name : info.system_name;
        rec.block = info.block;
        rec.created = Time::Span::Now();
        rec.valid = true;
        interfaces_[id] = rec;
    } catch (...) {
        return false;
    }
    return true;
}

void ServerVX::RebuildFirewall_()
{
    Netfilter::Table *t = nullptr;
    if (Failed(core_.netfilter->Acquire(Netfilter::Table::FILTER, &t))) {
        Log::Fail(Ident(), 20);
        return;
    }
    if (Failed(t->Remove(Netfilter::Table::CHAIN_ZMO_MULTICAST_INPUT, HasLlmnrInputDropEntry_())))
        Log::Fail(Ident(), 21);
    if (Failed(t->ClearChain(NBNS_CHAIN))) {
        Log::Fail(Ident(), 22);
        core_.netfilter->Release(t);
        return;
    }
    for (const char *mask : kAlwaysDropped)
        if (!AppendNetbiosDrops(*t, UdpDrop(mask)))
            Log::Fail(Ident(), 23);
    for (const auto &it : interfaces_) {
        const Interface_ &i = it.second;
        if (!i.valid || i.level != 1 || i.block.Address().IsZero() || i.system_name.empty())
            continue;
        Netfilter::Entry bcast = UdpDrop(i.system_name);
        bcast.SetDestination(Network::IpBlock(i.block.Broadcast(), 32));
        if (!AppendNetbiosDrops(*t, bcast))
            Log::Fail(Ident(), 24);
        Netfilter::Entry llmnr = UdpDrop(i.system_name);
        llmnr.source_ports = {LLMNR_PORT, LLMNR_PORT};
        llmnr.SetDestination(i.block.Network());
        if (Failed(t->Append(NBNS_CHAIN, llmnr)))
            Log::Fail(Ident(), 25);
        Netfilter::Entry in;
        in.protocol = 17;
        in.in_interface = i.system_name;
        in.SetDestination(Network::IpBlock(Network::IpAddress(LLMNR_GROUP), 32));
        in.destination_ports = {LLMNR_PORT, LLMNR_PORT};
        in.target = Netfilter::Target::Standard::DROP;
        if (Failed(t->Prepend(Netfilter::Table::CHAIN_ZMO_MULTICAST_INPUT, in)))
            Log::Fail(Ident(), 26);
    }
    if (Failed(t->Commit()))
        Log::Fail(Ident(), 27);
    core_.netfilter->Release(t);
}

void ServerVX::OnIfStateChanged_(const Event::IfStateChanged &e)
{
    if ((e.change == 2 || e.change == 3) && initialized_)
        controller_->ConfigurationChanged();
}

void ServerVX::OnIfIpChanged_(const Event::IfIpChanged &e)
{
    if (initialized_)
        controller_->ConfigurationChanged();
    auto it = interfaces_.find(e.id);
    if (it == interfaces_.end() || it->second.block == e.block)
        return;
    it->second.block = e.block;
    RebuildFirewall_();
}

void ServerVX::OnIfCreated_(const Event::IfCreated &e)
{
    if (initialized_)
        controller_->InterfaceCreated();
    if (interfaces_.count(e.id))
        return;
    if (!RecordInterface_(e.id, &e.system_name)) {
        Log::Oom(Ident(), 28);
        return;
    }
    if (interfaces_.count(e.id))
        RebuildFirewall_();
}

void ServerVX::OnIfDestroyed_(const Event::IfDestroyed &e)
{
    auto it = interfaces_.find(e.id);
    if (it == interfaces_.end())
        return;
    // A record made after the event was raised belongs to a newer interface.
    if (it->second.created >= e.RaiseTime())
        return;
    interfaces_.erase(it);
    RebuildFirewall_();
}

void ServerVX::OnIfPrivateChanged_(const Event::IfPrivateChanged &e)
{
    auto it = interfaces_.find(e.id);
    if (it == interfaces_.end() || it->second.level == e.level)
        return;
    it->second.level = e.level;
    RebuildFirewall_();
}

}  // namespace Cifs
