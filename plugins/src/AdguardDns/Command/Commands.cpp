// The bodies of the AdGuard DNS commands.
#include "AdguardDns/Command/Commands.h"

namespace AdguardDns {
namespace Command {

namespace Arg = ::Command::Argument;

ReturnT AdguardDnsAssign::Execute(::Command::Request &req, ::Command::Response &)
{
    const bool with_host = req.Has(ARG_HOST_);
    Network::MacAddress *host = with_host ? host_.Get() : nullptr;
    if (with_host && !host)
        return StatusLog(SOURCE_).SetOom(0x0500);
    if (req.No()) {
        if (with_host)
            return client_->DeleteHostToken(*host);
        return client_->ResetDefaultType();
    }
    if (with_host)
        return client_->SetHostProfile(*host, req.Get(ARG_DNS_TYPE_));
    return client_->SetDefaultType(req.Get(ARG_DNS_TYPE_));
}

ReturnT AdguardDnsAssign::GetConfig(::Command::Config &out)
{
    AutoPVector<Client::Entry> hosts;
    if (!Failed(client_->GetHostDnsTypeList(hosts))) {
        for (const auto &e : hosts) {
            out.Set(ARG_HOST_, e->Host().ToString());
            out.Set(ARG_DNS_TYPE_, e->TypeName());
            out.End();
        }
    }
    const Client::DnsT def = client_->GetDefaultType();
    if (def != Client::STANDARD) {
        out.Set(ARG_DNS_TYPE_, Client::NameOf(def));
        out.End();
    }
    return static_cast<ReturnT>(Code::DONE);
}

bool AdguardDnsAssign::GetArgumentParser(Arg::Parser &p)
{
    return p.Add(
               Core::New<Arg::MacAddress>(ARG_HOST_, &host_, Arg::Base::OPTIONAL | Arg::Base::INTRODUCED)) &&
           p.Add(Core::New<Arg::List>(ARG_DNS_TYPE_, &types_, 0, Arg::Base::OPTIONAL | Arg::Base::INTRODUCED,
                                      ""));
}

bool AdguardDnsAssign::GetArgumentParserNo(Arg::Parser &p)
{
    return p.Add(Core::New<Arg::MacAddress>(ARG_HOST_, &host_, Arg::Base::OPTIONAL | Arg::Base::INTRODUCED));
}

ReturnT AdguardDnsEnable::Execute(::Command::Request &req, ::Command::Response &)
{
    return client_->Enable(!req.No());
}

ReturnT AdguardDnsEnable::GetConfig(::Command::Config &out)
{
    if (client_->IsEnabled()) {
        out.Set("enabled", 1);
        out.End();
    }
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT AdguardDnsCheckAvailability::Execute(::Command::Request &, ::Command::Response &)
{
    return client_->CheckAvailability(Log::VERBOSE);
}

ReturnT ShowAdguardDnsProfiles::Execute(::Command::Request &, ::Command::Response &resp)
{
    if (!resp.Node())
        return static_cast<ReturnT>(Code::DONE);
    return client_->AttachProfilesTo(*resp.Node());
}

ReturnT ShowAdguardDnsAvailability::Execute(::Command::Request &, ::Command::Response &resp)
{
    if (!resp.Node())
        return static_cast<ReturnT>(Code::DONE);
    return client_->AttachAvailabilityTo(*resp.Node());
}

}  // namespace Command
}  // namespace AdguardDns
