// The deferred apply: port choice, the nat chain, the proxy's safety file.
#include "AdguardDns/Client.h"

#include <fcntl.h>

namespace AdguardDns {

namespace {
const char *const kTempSuffix = ".__temp__";
}

ReturnT Client::Apply()
{
    Mutex::Guard g(mutex_);
    if (!(flags_ & ENABLED))
        return static_cast<ReturnT>(Code::DONE | 0x0443);
    const uint16_t port = GetDnsPort_();
    dns_port_ = port;
    if (Failed(UpdateNetfilter_())) {
        Disable_();
        return StatusLog(0x8020012cu, 2, SOURCE_, "failed to create AdGuard DNS redirection rules");
    }
    if (flags_ & WAN) {
        if (Failed(WriteSafetyFile_(port))) {
            Disable_();
            return StatusLog(0x80200190u, 2, SOURCE_, "failed to create AdGuard DNS configuration");
        }
        flags_ |= FILE_WRITTEN;
    } else if (flags_ & FILE_WRITTEN) {
        Io::File::Remove(AG_CONF_FILE_);
        flags_ &= ~FILE_WRITTEN;
    }
    if (Failed(dns_.ReinitProxy(0))) {
        Disable_();
        return StatusLog(0x80200258u, 2, SOURCE_, "failed to apply AdGuard DNS configuration");
    }
    return static_cast<ReturnT>(Code::DONE | 0x02d4);
}

// The proxy may reload at any moment: it reads either the old file or the
// whole new one, never a half-written one.
ReturnT Client::WriteSafetyFile_(uint16_t port)
{
    const String path = AG_CONF_FILE_;
    const String temp = path + kTempSuffix;
    Io::File f;
    if (Failed(f.Open(temp, O_WRONLY | O_CREAT | O_TRUNC, Io::EOL_LF, 16384)))
        return static_cast<ReturnT>(Code::FAIL);
    f << "profile " << static_cast<int>(STANDARD) << " safe-access" << Io::Endl;
    f << "profile " << static_cast<int>(FAMILY) << " safe-access" << Io::Endl;
    for (const char *a : AG_CONF_STANDARD_DNS_LIST_)
        f << "profile-set-server " << static_cast<int>(STANDARD) << " " << a << ":" << static_cast<int>(port)
          << Io::Endl;
    for (const char *a : AG_CONF_FAMILY_DNS_LIST_)
        f << "profile-set-server " << static_cast<int>(FAMILY) << " " << a << ":" << static_cast<int>(port)
          << Io::Endl;
    for (const auto &e : hosts_)
        f << "set-profile " << e->Host().ToString() << " " << static_cast<int>(e->DnsType()) << Io::Endl;
    f << "set-profile mac_default " << static_cast<int>(default_type_) << Io::Endl;
    const bool written = !f.Error();
    const bool closed = f.Close();
    if (!written || !closed || !Io::File::Rename(temp, path)) {
        Io::File::Remove(temp);
        return static_cast<ReturnT>(Code::FAIL);
    }
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT Client::UpdateNetfilter_()
{
    if (!(flags_ & ENABLED))
        return static_cast<ReturnT>(Code::DONE | 0x01bf);
    Netfilter::Table *t = nullptr;
    if (Failed(netfilter_.Acquire(Netfilter::Table::NAT, &t)))
        return StatusLog(SOURCE_).SetFail(0x01c9);
    struct Release {
        Netfilter::Manager &m;
        Netfilter::Table *t;
        ~Release() { m.Release(t); }
    } release{netfilter_, t};
    if (Failed(t->ClearChain(CHAIN_)))
        return StatusLog(SOURCE_).SetFail(0x01c9);

    // Any server on 53, a unicast one on 5353: both end at our own proxy.
    Netfilter::Entry t53;
    t53.protocol = 17;
    t53.destination_ports = {53, 53};
    t53.SetRedirect(53);
    Netfilter::Entry t5353;
    t5353.protocol = 17;
    t5353.destination_ports = {5353, 5353};
    t5353.SetDestination(Network::IpBlock(Network::IpAddress(0xe0000000u), 4), true);
    t5353.SetRedirect(53);

    for (const auto &it : interfaces_map_) {
        const Interface_ &i = *it.second;
        if ((i.level != 0 && i.level != 2) || i.address.Address().IsZero())
            continue;
        t53.in_interface = t5353.in_interface = i.system_name;
        for (const auto &e : hosts_) {
            if (e->DnsType() != DEFAULT)
                continue;
            Network::IpAddress ip = neighbours_.GetLatestIp(e->Host());
            if (ip.IsZero() || !i.address.Contains(ip))
                continue;
            // This host's DNS is left alone.
            for (const Netfilter::Entry *tpl : {&t53, &t5353}) {
                Netfilter::Entry x = *tpl;
                x.target = Netfilter::Target::Standard::REPEAT;
                x.redirect_port = 0;
                x.SetSource(Network::IpBlock(ip, 32));
                if (Failed(t->Append(CHAIN_, x)))
                    return StatusLog(SOURCE_).SetFail(0x0215);
            }
        }
        if (Failed(t->Append(CHAIN_, t53)) || Failed(t->Append(CHAIN_, t5353)))
            return StatusLog(SOURCE_).SetFail(0x021c);
    }
    if (Failed(t->Commit()))
        return StatusLog(SOURCE_).SetFail(0x0222);
    return static_cast<ReturnT>(Code::DONE | 0x0225);
}

bool Client::IsBlockedNameResolved_(const char *server, uint16_t port)
{
    Network::IpAddress addr;
    if (!addr.Parse(server))
        return false;
    std::vector<Network::IpAddress> found;
    ReturnT r = Dns::Resolver::GetAddresses(RESOLVER_NAME_, found, 1000, Log::QUIET, addr, port);
    return !Failed(r) && !found.empty();
}

uint16_t Client::GetDnsPort_()
{
    if (IsBlockedNameResolved_(AG_CONF_STANDARD_DNS_LIST_[0], 53))
        return 53;
    if (IsBlockedNameResolved_(AG_CONF_STANDARD_DNS_LIST_[1], 53))
        return 53;
    return 5353;
}

ReturnT Client::CheckAvailability(Log::VerboseT verbose)
{
    const Log::VerboseT control = verbose == Log::VERBOSE ? Log::VERBOSE : Log::QUIET;
    for (uint16_t port : {53, 5353})
        for (const char *server : AG_CONF_STANDARD_DNS_LIST_)
            if (IsBlockedNameResolved_(server, port))
                return StatusLog(0x00200320u, 0, SOURCE_, "AdGuard DNS is available").Control(control);
    return StatusLog(0x802001f4u, 2, SOURCE_, "AdGuard DNS is not available").Control(control);
}

ReturnT Client::AttachAvailabilityTo(Xml::Node &node)
{
    Mutex::Guard g(mutex_);
    const Time::Span now = Time::Span::Now();
    if (now >= availability_deadline_) {
        if (Failed(CheckAvailability(Log::QUIET)))
            flags_ &= ~AVAILABLE;
        else
            flags_ |= AVAILABLE;
        dns_port_ = GetDnsPort_();
        availability_deadline_ = Time::Span::Now() + Time::Span(1, 0);
    }
    node.Add("available", (flags_ & AVAILABLE) ? 1 : 0);
    node.Add("port", static_cast<int>(dns_port_));
    if (!node.Valid())
        return StatusLog(SOURCE_).SetOom(0x03fe);
    return static_cast<ReturnT>(Code::DONE | 0x0401);
}

ReturnT Client::AttachProfilesTo(Xml::Node &node)
{
    Mutex::Guard g(mutex_);
    Xml::Node *profiles = node.AddChild("profiles");
    if (!profiles)
        return StatusLog(SOURCE_).SetOom(0x03d8);
    for (int t = DEFAULT; t <= FAMILY; ++t) {
        Xml::Node *p = profiles->AddArrayItem("profile");
        if (!p)
            return StatusLog(SOURCE_).SetOom(0x03e1);
        p->SetValue(NameOf(t));
    }
    if (!node.Valid())
        return StatusLog(SOURCE_).SetOom(0x03e7);
    return static_cast<ReturnT>(Code::DONE | 0x03eb);
}

}  // namespace AdguardDns
