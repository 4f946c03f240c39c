// "cifs", "service cifs", "show cifs" and the settings of the context.
#include "Cifs/Command/Commands.h"

#include "Cifs/ServerVX.h"

namespace Cifs {
namespace Command {

namespace {

namespace Arg = ::Command::Argument;
using ::Command::Config;
using ::Command::Request;
using ::Command::Response;

ReturnT Done() { return static_cast<ReturnT>(::Code::DONE); }

// An "enabled" entry when the flag is on.
ReturnT ShowFlag(Config &out, bool on)
{
    if (!on)
        return Done();
    out.Set("enabled", 1);
    out.End();
    return Done();
}

class Cifs : public ::Command::Setting {
public:
    Cifs() : Setting("", "cifs", 251, "manage CIFS service", 0, nullptr, "(config-cifs)") {}
};

class ServiceCifs : public ::Command::Setting {
public:
    explicit ServiceCifs(Server &s) : Setting("service", "cifs", 18, "enable CIFS server", 1), server_(s) {}
    ReturnT Execute(Request &req, Response &) override
    {
        return req.No() ? server_.Disable() : server_.Enable();
    }
    ReturnT GetConfig(Config &out) override { return ShowFlag(out, server_.IsEnabled()); }

private:
    Server &server_;
};

class ShowCifs : public ::Command::Action {
public:
    explicit ShowCifs(Server &s) : Action("show", "cifs", 151, "display cifs server status", 32), server_(s)
    {
    }
    ReturnT Execute(Request &, Response &resp) override
    {
        if (resp.Node() && !server_.AttachTo(*resp.Node()))
            return StatusLog("Cifs::ServerVX").SetOom(40);
        return Done();
    }

private:
    Server &server_;
};

// The labels of the current shares, for the "label" argument.
class ShareListMaker_ : public Arg::ListMaker {
public:
    explicit ShareListMaker_(Server &s) : server_(s) {}
    bool Produce(StringVector &out) override
    {
        std::vector<Share> shares;
        if (!server_.GetShares(shares))
            return false;
        try {
            for (const Share &s : shares)
                out.push_back(s.label);
        } catch (...) {
            return false;
        }
        return true;
    }

private:
    Server &server_;
};

class CifsShare : public ::Command::Setting {
public:
    CifsShare(Server &s, FileSystem::Repository &files)
        : Setting("cifs", "share", 10, "management of CIFS shares", 129), server_(s), files_(files),
          labels_(s)
    {
    }
    ReturnT Execute(Request &req, Response &) override
    {
        if (req.No())
            return req.Has("label") ? server_.RemoveShare(req.Get("label")) : server_.RemoveAllShares();
        return server_.AddShare(req.Get("label"), req.Get("mount"), req.Has("timemachine"),
                                req.Get("description"));
    }
    ReturnT GetConfig(Config &out) override
    {
        std::vector<Share> shares;
        if (!server_.GetShares(shares))
            return StatusLog("Cifs::ServerVX").SetOom(41);
        for (const Share &s : shares) {
            out.Set("label", s.label);
            out.Set("mount", s.mount);
            if (s.timemachine)
                out.Set("timemachine", 1);
            if (!s.description.empty())
                out.Set("description", s.description);
            out.End();
        }
        return Done();
    }
    bool GetArgumentParser(Arg::Parser &p) override
    {
        return p.Add(Core::New<Arg::List>("label", &labels_, 1)) &&
               p.Add(Core::New<Arg::Filename>("mount", &files_, 2, true)) &&
               p.Add(Core::New<Arg::Keyword>("timemachine")) &&
               p.Add(Core::New<Arg::Text>("description", Arg::Base::OPTIONAL));
    }
    bool GetArgumentParserNo(Arg::Parser &p) override
    {
        return p.Add(Core::New<Arg::List>("label", &labels_, 0, Arg::Base::OPTIONAL));
    }

private:
    Server &server_;
    FileSystem::Repository &files_;
    ShareListMaker_ labels_;
};

// The four on/off settings of the context.
class Flag : public ::Command::Setting {
public:
    typedef ReturnT (Server::*SetT)(bool);
    typedef bool (Server::*IsT)() const;
    Flag(Server &s, const char *keyword, unsigned number, const char *help, SetT set, IsT is)
        : Setting("cifs", keyword, number, help, 1), server_(s), set_(set), is_(is)
    {
    }
    ReturnT Execute(Request &req, Response &) override { return (server_.*set_)(!req.No()); }
    ReturnT GetConfig(Config &out) override { return ShowFlag(out, (server_.*is_)()); }

private:
    Server &server_;
    SetT set_;
    IsT is_;
};

class CifsAutomount : public Flag {
public:
    explicit CifsAutomount(Server &s)
        : Flag(s, "automount", 15, "automount of USB devices into CIFS server", &Server::SetAutomount,
               &Server::IsAutomount)
    {
    }
};

// Refused by the server whatever the argument; never shown.
class CifsMaster : public Flag {
public:
    explicit CifsMaster(Server &s)
        : Flag(s, "master", 1, "management of CIFS master browser function", &Server::SetMaster,
               &Server::IsMaster)
    {
    }
};

class CifsPermissive : public Flag {
public:
    explicit CifsPermissive(Server &s)
        : Flag(s, "permissive", 20, "manage permissive mode", &Server::SetPermissive, &Server::IsPermissive)
    {
    }
};

class CifsMapHidden : public Flag {
public:
    explicit CifsMapHidden(Server &s)
        : Flag(s, "map-hidden", 30, "support hidden attribute", &Server::SetMapHidden, &Server::IsMapHidden)
    {
    }
};

}  // namespace

bool RegisterAll(Core::Module::Object &module, Server &server, FileSystem::Repository &files)
{
    return module.Register(Core::New<Cifs>()) && module.Register(Core::New<ServiceCifs>(server)) &&
           module.Register(Core::New<ShowCifs>(server)) &&
           module.Register(Core::New<CifsShare>(server, files)) &&
           module.Register(Core::New<CifsAutomount>(server)) &&
           module.Register(Core::New<CifsMaster>(server)) &&
           module.Register(Core::New<CifsPermissive>(server)) &&
           module.Register(Core::New<CifsMapHidden>(server));
}

}  // namespace Command
}  // namespace Cifs
