// libzmoToy: a small plug-in that uses what the real ones use (a component
// with its lock, events, a chain, ports, a dashboard key, a context with a
// setting, a progress action and a show action), for the tests and as an
// example. Initialize undoes everything when a step fails.
#include "zmocore.h"

#include <cstdlib>

namespace Toy {

constexpr const char *SOURCE = "lib::libzmoToy";
constexpr const char *CHAIN = "_ZMO_TOY";

class Component : public Core::Module::Component, public Task::Apply::Owner {
public:
    Component() : lock_(40), apply_(*this, Core::Core::TaskQueue(), &lock_) {}
    ~Component() override { Undo_(); }
    const char *Ident() const override { return "Toy::Component"; }

    ReturnT Setup()
    {
        auto *nf = static_cast<Netfilter::Manager *>(Core::Core::Find_(Netfilter::Manager::IDENT));
        auto *ports = static_cast<Network::PortAllocator *>(Core::Core::Find_(Network::PortAllocator::IDENT));
        if (!nf || !ports)
            return StatusLog(SOURCE).SetFail(1);
        nf_ = nf;
        ports_ = ports;
        Mutex::Guard g(lock_);
        // Chain with a jump from the core's output chain.
        Netfilter::Table *t = nullptr;
        if (Failed(nf_->Acquire(Netfilter::Table::FILTER, &t)))
            return StatusLog(SOURCE).SetFail(2);
        Netfilter::Entry jump;
        jump.protocol = 17;
        jump.target = CHAIN;
        bool ok = !Failed(t->CreateChain(CHAIN)) &&
                  !Failed(t->Prepend(Netfilter::Table::CHAIN_ZMO_OUTPUT, jump)) && !Failed(t->Commit());
        nf_->Release(t);
        if (!ok)
            return StatusLog(0x80770002u, 2, SOURCE, "failed to create \"%1\"") << CHAIN;
        chain_ = true;
        for (uint16_t port : {8080, 8081}) {
            auto proto = port == 8080 ? Network::PortAllocator::TCP : Network::PortAllocator::UDP;
            if (Failed(ports_->Reserve(Ident(), proto, port, 0)))
                return StatusLog(0x80770003u, 2, SOURCE, "port %1 is taken") << static_cast<int>(port);
            ports_held_ = true;
        }
        subscribed_ = true;  // a refusal half-way must still drop the first
        if (Failed(Event::Subscribe(Event::Type::Fs,
                                    Event::Delegate::Make(Ident(), this, &Component::OnFs_, &lock_))) ||
            Failed(
                Event::Subscribe(Event::Type::ServiceUp,
                                 Event::Delegate::Make(Ident(), this, &Component::OnServiceUp_, &lock_)))) {
            return StatusLog(0x80770004u, 2, SOURCE, "failed to subscribe");
        }
        if (Failed(keys_.RegisterKey("TOY_VALUE", 0, 2)))
            return StatusLog(0x80770005u, 2, SOURCE, "no dashboard key");
        return StatusLog(SOURCE).SetDone(1);
    }

    ReturnT SetValue(const String &v)
    {
        Mutex::Guard g(lock_);
        value_ = v;
        keys_.SetKey("TOY_VALUE", static_cast<int64_t>(v.size()));
        if (v == "bad")
            return StatusLog(0x80770010u, 2, SOURCE, "value \"%1\" refused") << v;
        return StatusLog(0x00770010u, 0, SOURCE, "value set to \"%1\"") << v;
    }
    String Value()
    {
        Mutex::Guard g(lock_);
        return value_;
    }
    // Runs PROGRAM MODE "/var/run/toy.pid" "/tmp/toy log; x" as "Toy daemon".
    ReturnT StartDaemon(const String &program, const String &mode)
    {
        Mutex::Guard g(lock_);
        StopDaemon_();
        auto up = Event::Delegate::Make(Ident(), this, &Component::OnServiceUp_, &lock_);
        auto down = Event::Delegate::Make(Ident(), this, &Component::OnServiceDown_, &lock_);
        daemon_.reset(Service::New(program.c_str(), "Toy daemon",
                                   {mode, "/var/run/toy.pid", "/tmp/toy log; x"}, true, 1, Time::Span(1000),
                                   Time::Span(500), up, down, "/var/run/toy.pid", Time::Span(5000), 2000));
        if (!daemon_)
            return StatusLog(0x80770030u, 2, SOURCE, "no daemon");
        daemon_->Start();
        return StatusLog(0x00770030u, 0, SOURCE, "daemon %1 started") << program;
    }
    // Keeps the service: its down event still comes, once we let go of the lock.
    ReturnT StopDaemon()
    {
        Mutex::Guard g(lock_);
        if (daemon_)
            daemon_->StopWait();
        return StatusLog(0x00770031u, 0, SOURCE, "daemon stopped");
    }
    // Asks for Apply() 1500 ms later; a request while one is pending joins it.
    ReturnT RequestApply()
    {
        Mutex::Guard g(lock_);
        ++requests_;
        return apply_.Enqueue(1500);
    }
    ReturnT Apply() override
    {
        Log::Write(Ident(), 0, "applied " + std::to_string(requests_) + " request(s)");
        requests_ = 0;
        return static_cast<ReturnT>(Code::DONE);
    }
    ReturnT ReloadDaemon()
    {
        Mutex::Guard g(lock_);
        if (!daemon_ || Failed(daemon_->Signal(1)))
            return StatusLog(0x80770032u, 2, SOURCE, "nothing to reload");
        return StatusLog(0x00770032u, 0, SOURCE, "reloaded");
    }
    int FsEvents()
    {
        Mutex::Guard g(lock_);
        return fs_events_;
    }

private:
    void OnFs_(const Event::Fs &e)
    {
        ++fs_events_;
        Log::Write(Ident(), 0, "file system " + e.name + " action " + std::to_string(e.action));
    }
    void OnServiceUp_(const Event::ServiceUp &e) { Log::Write(Ident(), 0, "service " + e.id + " up"); }
    // Takes the lock that StopDaemon holds over StopWait.
    void OnServiceDown_(const Event::ServiceDown &e) { Log::Write(Ident(), 0, "service " + e.id + " down"); }
    void StopDaemon_()
    {
        if (!daemon_)
            return;
        daemon_->StopWait();
        daemon_.reset();
    }
    void Undo_()
    {
        apply_.Cleanup();
        StopDaemon_();
        if (subscribed_)
            Event::Unsubscribe(Ident());
        keys_.UnregisterKeys();
        if (ports_held_)
            ports_->Clear(Ident());
        if (chain_)
            nf_->RemoveChain(Netfilter::Table::FILTER, CHAIN);
        subscribed_ = ports_held_ = chain_ = false;
    }

    Mutex lock_;
    Netfilter::Manager *nf_ = nullptr;
    Network::PortAllocator *ports_ = nullptr;
    Core::Dashboard::KeyHolder keys_;
    bool chain_ = false, ports_held_ = false, subscribed_ = false;
    String value_;
    int fs_events_ = 0;
    std::unique_ptr<Service> daemon_;
    Task::Apply apply_;
    int requests_ = 0;
};

// A USB modem interface: what the factory, feedback and interface lines do.
class Modem : public Network::Interface::Usb,
              public Network::Interface::Wireless,
              public Network::Interface::Ethernet,
              public FeedbackListener {
public:
    explicit Modem(unsigned index) : Network::Interface::Base("ToyModem", index, nullptr) {}
    ~Modem() override { Network::Interface::Base::Unregister(Ident()); }
    const char *Ident() const override { return "Toy::Modem"; }
    const char *Type() const override { return "ToyModem"; }
    ReturnT Initialize(Network::Interface::InitT init) override
    {
        ReturnT r = Usb::Initialize(init);
        if (!Failed(r))
            r = Base::Initialize(init);
        if (!Failed(r))
            r = Ethernet::Initialize(init);
        if (Failed(r))
            return r;
        SetSystemName("toy" + std::to_string(Index()));
        r = FeedbackListener::Register("/var/run/toymodem-" + SystemName());
        if (Failed(r))
            return r;
        Network::Interface::IP::SetGlobal(*this);
        SetState(1);
        return StatusLog(SOURCE).SetDone(0x40);
    }
    bool AttachTo(Xml::Node &node) override
    {
        bool ok = Usb::AttachTo(node) && Ethernet::AttachTo(node);
        node.Add("ifup", ifup_);
        node.Add("link", link_);
        if (GetSsid().IsSet())
            node.Add("ssid", GetSsid().Value());
        if (!rssi_.empty())
            node.Add("rssi", rssi_);
        return ok && node.Valid();
    }
    ReturnT GetLink(Network::Interface::LinkT &l) const override
    {
        l = link_;
        return static_cast<ReturnT>(Code::DONE);
    }
    ReturnT GetIfUp(Network::Interface::IfUpT &u) const override
    {
        u = ifup_;
        return static_cast<ReturnT>(Code::DONE);
    }
    ReturnT SetIfUp(Network::Interface::IfUpT u) override
    {
        ifup_ = u;
        return StatusLog(0x00770040u, 0, SOURCE, "%1 is %2") << Id() << (u ? "up" : "down");
    }
    void Cleanup() override { FeedbackListener::Unregister(); }
    ReturnT SetSsid_(const Network::Interface::Ssid &ssid) override
    {
        if (ssid.Value().find('@') != 0)
            return StatusLog(0x80770041u, 2, SOURCE, "bad SSID \"%1\"") << ssid.Value();
        return StatusLog(0x00770041u, 0, SOURCE, "SSID %1") << ssid.Value();
    }
    void OnFeedback(const Feedback &f) override
    {
        if (f.Word(1) != SystemName())
            return;
        if (f.Word(0) == "if-up") {
            link_ = 1;
            Event::Raise(Event::IfStateChanged(0, Id(), SystemName(), 1, 1, static_cast<int>(ifup_)));
        } else if (f.Word(0) == "stats") {
            rssi_ = f.Get("RSSI");
        }
    }

private:
    Network::Interface::IfUpT ifup_ = 0;
    Network::Interface::LinkT link_ = 0;
    String rssi_;
};

const char *const kModems[] = {"1234", "5678", nullptr, nullptr};
const char *const kTypes[] = {"ToyModem", nullptr};

class ModemCreator : public Network::Interface::Factory::NoParentCreator<Modem> {
public:
    ReturnT Create(Network::Interface::Base *parent, unsigned index,
                   AutoPtr<Network::Interface::Base> &out) override
    {
        ReturnT r = CheckCreate_(parent, index);
        if (Failed(r))
            return r;
        auto *m = Core::New<Modem>(index);
        if (!m)
            return StatusLog(SOURCE).SetOom(0x41);
        if (Failed(m->Network::Interface::Base::Register("Toy::Modem", "ToyModem"))) {
            delete m;
            return StatusLog(SOURCE).SetFail(0x42);
        }
        out.reset(m);
        return static_cast<ReturnT>(Code::DONE);
    }
    const char *Ident() const override { return "Toy::Modem"; }
    const char *Type() const override { return "ToyModem"; }
    unsigned Priority() const override { return 7; }
    unsigned MaxIndex() const override { return Network::Interface::Base::MAX_INDEX; }
    bool Matches(const Event::Device &d) const override
    {
        return (d.subsystem == "usb_device" || d.subsystem == "usb_endpoint") &&
               Network::Interface::Usb::DeviceIndex(kModems, d.Vendor(), d.Model()) >= 0 &&
               Network::Interface::Usb::Matches(d);
    }
    const char *const *Types_() const override { return kTypes; }
};

Component *g_component = nullptr;

namespace Command {

// "toy": the context.
class Toy : public ::Command::Setting {
public:
    Toy() : Setting("", "toy", 300, "toy settings", 0, nullptr, "(config-toy)") {}
};

const ::Command::ErrorCodeEntry kValueErrors[] = {{0x80770010u, "value"}, {0, nullptr}};

// "toy value TEXT [loud]"; "no toy value".
class ToyValue : public ::Command::Setting {
public:
    ToyValue() : Setting("toy", "value", 10, "a value", 1, kValueErrors) {}
    ReturnT Execute(::Command::Request &req, ::Command::Response &) override
    {
        return g_component->SetValue(req.No() ? String() : req.Get("value"));
    }
    ReturnT GetConfig(::Command::Config &out) override
    {
        String v = g_component->Value();
        if (v.empty())
            return static_cast<ReturnT>(Code::DONE);
        out.Set("value", v);
        out.Set("enabled", 1);
        out.End();
        return static_cast<ReturnT>(Code::DONE);
    }
    bool GetArgumentParser(::Command::Argument::Parser &p) override
    {
        return p.Add(Core::New<::Command::Argument::Text>("value")) &&
               p.Add(Core::New<::Command::Argument::Keyword>("loud"));
    }
};

// "toy count N": counts to N, one step per Continue, with progress.
class ToyCount : public ::Command::Action {
public:
    ToyCount() : Action("toy", "count", 20, "count slowly", 32) {}
    ReturnT Execute(::Command::Request &req, ::Command::Response &resp) override
    {
        int n = std::atoi(req.Get("steps").c_str());
        auto *st = steps_.Get();
        if (!st)
            return StatusLog(SOURCE).SetOom(3);
        *st = {0, n};
        resp.Continue();
        return StatusLog(0x00770020u, 0, SOURCE, "counting to %1") << n;
    }
    ReturnT Continue(::Command::Request &, ::Command::Response &resp) override
    {
        auto *st = steps_.Get();
        if (!st)
            return StatusLog(SOURCE).SetOom(4);
        ++st->first;
        Event::Raise(Event::Progress("toy", st->first * 100 / (st->second ? st->second : 1), 0));
        if (resp.Node())
            resp.Node()->Add("step", st->first);
        if (st->first < st->second) {
            resp.Continue();
            return static_cast<ReturnT>(Code::DONE);
        }
        return StatusLog(0x00770021u, 0, SOURCE, "counted to %1") << st->second;
    }
    ReturnT Terminate(::Command::Request &, ::Command::Response &) override
    {
        auto *st = steps_.Get();
        return StatusLog(0x40770022u, 1, SOURCE, "counting interrupted at %1") << (st ? st->first : 0);
    }
    bool GetArgumentParser(::Command::Argument::Parser &p) override
    {
        return p.Add(Core::New<::Command::Argument::Number>("steps", 1, 1000));
    }

private:
    ThreadSpecific<std::pair<int, int>> steps_;
};

// "toy daemon PROGRAM MODE"; "no toy daemon"; "toy reload".
class ToyDaemon : public ::Command::Setting {
public:
    ToyDaemon() : Setting("toy", "daemon", 40, "run a daemon", 1) {}
    ReturnT Execute(::Command::Request &req, ::Command::Response &) override
    {
        if (req.No())
            return g_component->StopDaemon();
        return g_component->StartDaemon(req.Get("program"), req.Get("mode"));
    }
    bool GetArgumentParser(::Command::Argument::Parser &p) override
    {
        return p.Add(Core::New<::Command::Argument::Text>("program")) &&
               p.Add(Core::New<::Command::Argument::Text>("mode"));
    }
};
class ToyReload : public ::Command::Action {
public:
    ToyReload() : Action("toy", "reload", 50, "reload the daemon", 32) {}
    ReturnT Execute(::Command::Request &, ::Command::Response &) override
    {
        return g_component->ReloadDaemon();
    }
};

// "toy apply".
class ToyApply : public ::Command::Action {
public:
    ToyApply() : Action("toy", "apply", 60, "apply later", 32) {}
    ReturnT Execute(::Command::Request &, ::Command::Response &) override
    {
        return g_component->RequestApply();
    }
};

// "show toy".
class ShowToy : public ::Command::Action {
public:
    ShowToy() : Action("show", "toy", 30, "show the toy", 32) {}
    ReturnT Execute(::Command::Request &, ::Command::Response &resp) override
    {
        if (resp.Node()) {
            resp.Node()->Add("value", g_component->Value());
            resp.Node()->Add("fs-events", g_component->FsEvents());
        }
        return static_cast<ReturnT>(Code::DONE);
    }
};

}  // namespace Command

class Module : public Core::Module::Object {
public:
    Module() : Object("libzmoToy", "\"Toy plug-in\"", "libzmoCorePack", "libzmoCore", 15) {}
    ReturnT Initialize() override
    {
        auto *c = Core::New<Component>();
        if (!c)
            return StatusLog(SOURCE).SetOom(1);
        ReturnT r = c->Setup();
        if (Failed(r)) {
            delete c;
            return r;
        }
        g_component = c;
        if (!Register(c)) {
            g_component = nullptr;
            return StatusLog(SOURCE).SetFail(5);
        }
        if (!Register(Core::New<Command::Toy>()) || !Register(Core::New<Command::ToyValue>()) ||
            !Register(Core::New<Command::ToyCount>()) || !Register(Core::New<Command::ShowToy>()) ||
            !Register(Core::New<Command::ToyDaemon>()) || !Register(Core::New<Command::ToyReload>()) ||
            !Register(Core::New<Command::ToyApply>()) || !Register(Core::New<ModemCreator>())) {
            Cleanup();
            g_component = nullptr;
            return StatusLog(SOURCE).SetFail(6);
        }
        return StatusLog(SOURCE).SetDone(7);
    }
};

Module g_module;

}  // namespace Toy

extern "C" ZMOCORE_API Core::Module::Object *libzmoToyObject() { return &Toy::g_module; }
