// "adguard-dns" and "show adguard-dns": the commands of the AdGuard DNS client.
#ifndef ADGUARDDNS_COMMAND_COMMANDS_H
#define ADGUARDDNS_COMMAND_COMMANDS_H

#include "AdguardDns/Client.h"

namespace AdguardDns {
namespace Command {

class DnsTypeListMaker : public ::Command::Argument::ListMaker {
public:
    bool Produce(StringVector &out) override { return Client::GetTypeNames(out); }
};

class AdguardDns : public ::Command::Setting {
public:
    AdguardDns()
        : Setting("", "adguard-dns", 14, "configure AdGuard DNS profiles", 0, nullptr, "(adguard-dns)")
    {
    }
};

class AdguardDnsAssign : public ::Command::Setting {
public:
    static constexpr const char *ARG_HOST_ = "host";
    static constexpr const char *ARG_DNS_TYPE_ = "type";
    explicit AdguardDnsAssign(Client *client)
        : Setting("adguard-dns", "assign", 2, "assign a type to a host (MAC address)", 129), client_(client)
    {
    }
    bool Initialized() const { return Setting::Initialized() && host_.Initialized(); }
    ReturnT Execute(::Command::Request &req, ::Command::Response &resp) override;
    ReturnT GetConfig(::Command::Config &out) override;
    bool GetArgumentParser(::Command::Argument::Parser &p) override;
    bool GetArgumentParserNo(::Command::Argument::Parser &p) override;

private:
    Client *client_;
    ThreadSpecific<Network::MacAddress> host_;
    DnsTypeListMaker types_;
};

class AdguardDnsEnable : public ::Command::Setting {
public:
    explicit AdguardDnsEnable(Client *client)
        : Setting("adguard-dns", "enable", 1, "enable AdGuard DNS", 1), client_(client)
    {
    }
    ReturnT Execute(::Command::Request &req, ::Command::Response &resp) override;
    ReturnT GetConfig(::Command::Config &out) override;

private:
    Client *client_;
};

class AdguardDnsCheckAvailability : public ::Command::Action {
public:
    explicit AdguardDnsCheckAvailability(Client *client)
        : Action("adguard-dns", "check-availability", 3, "check AdGuard DNS availability", 32),
          client_(client)
    {
    }
    ReturnT Execute(::Command::Request &req, ::Command::Response &resp) override;

private:
    Client *client_;
};

class ShowAdguardDns : public ::Command::Action {
public:
    ShowAdguardDns() : Action("show", "adguard-dns", 740, "display AdGuard DNS parameters", 32) {}
};

class ShowAdguardDnsProfiles : public ::Command::Action {
public:
    explicit ShowAdguardDnsProfiles(Client *client)
        : Action("show adguard-dns", "profiles", 4, "list AdGuard DNS profiles", 32), client_(client)
    {
    }
    ReturnT Execute(::Command::Request &req, ::Command::Response &resp) override;

private:
    Client *client_;
};

class ShowAdguardDnsAvailability : public ::Command::Action {
public:
    explicit ShowAdguardDnsAvailability(Client *client)
        : Action("show adguard-dns", "availability", 10, "check and show AdGuard DNS availability", 32),
          client_(client)
    {
    }
    ReturnT Execute(::Command::Request &req, ::Command::Response &resp) override;

private:
    Client *client_;
};

}  // namespace Command
}  // namespace AdguardDns

#endif
