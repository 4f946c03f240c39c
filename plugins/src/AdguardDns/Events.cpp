// What the core tells the client: WAN, known hosts, neighbours, interfaces.
// Each handler runs with the client's mutex held by the core.
#include "AdguardDns/Client.h"

namespace AdguardDns {

bool Client::RecordInterface_(const String &id, const String &system_name)
{
    Network::Interface::IpInfo info;
    if (!interfaces_.FindIp(id, info))
        return true;  // not an IP interface: nothing to keep
    Interface_ *i = Core::New<Interface_>();
    if (!i)
        return false;
    try {
        i->system_name = system_name;
        i->level = info.level;
        i->address = info.block;
        i->initialized = true;
        interfaces_map_[id].reset(i);
    } catch (...) {
        delete i;
        return false;
    }
    return true;
}

void Client::OnWan_(const Event::Wan &e)
{
    const bool present = !e.id.empty();
    if (present == ((flags_ & WAN) != 0))
        return;
    if (present)
        flags_ |= WAN;
    else
        flags_ &= ~WAN;
    if (flags_ & ENABLED)
        EnableImpl_(true);
}

void Client::OnKnownHost_(const Event::KnownHost &e)
{
    if (e.action == 1) {
        if (FindEntry_(e.mac))
            DeleteHostToken_(e.mac);
    } else if (e.action == 2) {
        hosts_.clear();
        if (flags_ & ENABLED)
            EnableImpl_(true);
    }
}

void Client::OnNeighbour_(const Event::Neighbour &e)
{
    if (e.address_type != 0)
        return;
    if (e.action == 1 && e.update_kind != 1)
        return;
    UpdateNetfilter_();
}

void Client::OnIfCreated_(const Event::IfCreated &e)
{
    if (interfaces_map_.count(e.id))
        return;
    Network::Interface::IpInfo info;
    if (!interfaces_.FindIp(e.id, info))
        return;
    if (!RecordInterface_(e.id, e.system_name)) {
        interfaces_map_.erase(e.id);
        StatusLog(SOURCE_).SetOom(0x0169);
        return;
    }
    UpdateNetfilter_();
}

void Client::OnIfDestroyed_(const Event::IfDestroyed &e)
{
    if (interfaces_map_.erase(e.id) == 0)
        return;
    UpdateNetfilter_();
}

void Client::OnIfIpChanged_(const Event::IfIpChanged &e)
{
    auto it = interfaces_map_.find(e.id);
    if (it == interfaces_map_.end() || it->second->address == e.block)
        return;
    it->second->address = e.block;
    UpdateNetfilter_();
}

void Client::OnIfPrivateChanged_(const Event::IfPrivateChanged &e)
{
    auto it = interfaces_map_.find(e.id);
    if (it == interfaces_map_.end() || it->second->level == e.level)
        return;
    it->second->level = e.level;
    UpdateNetfilter_();
}

}  // namespace AdguardDns
