// The component: its start and undo, flags, dashboard keys, the answer of
// "show cifs" and the events that are not about shares or users.
#include "Cifs/ServerVX.h"

namespace Cifs {

namespace {
ReturnT Done() { return static_cast<ReturnT>(Code::DONE); }
}  // namespace

ServerVX::ServerVX(const Components &c) : core_(c)
{
    process_.reset(Core::New<Io::Process>("Cifs::Cli", "vxcsctrl", 3, Io::EOL_LF, 1, 2000u, ""));
    if (process_ && !process_->Initialized())
        process_.reset();
    cifs_up_ = Event::Delegate::Make(Ident(), this, &ServerVX::OnServiceUp_, &lock_);
    cifs_down_ = Event::Delegate::Make(Ident(), this, &ServerVX::OnServiceDown_, &lock_);
}

ServerVX::~ServerVX()
{
    if (chain_)
        core_.netfilter->RemoveChain(Netfilter::Table::FILTER, NBNS_CHAIN);
    if (tag_)
        core_.auth->UnregisterTag(USER_TAG);
    UnregisterKeys();
    if (subscribed_)
        Event::Unsubscribe(Ident());
    if (printer_controller_)
        core_.printers->UnregisterController(this);
    controller_.reset();
    process_.reset();
    if (ports_held_)
        core_.ports->Clear(Ident());
}

ReturnT ServerVX::Setup()
{
    ReturnT r = SetupFirewall_();
    if (Failed(r))
        return r;
    if (Failed(r = ReservePorts_()))
        return r;
    if (Failed(core_.printers->RegisterController(this)))
        return StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, Ident(),
                         "failed to register \"%1\" printer controller")
               << Type();
    printer_controller_ = true;
    String id;
    if (Failed(r = MakeInstanceId_(id)))
        return r;
    {
        Mutex::Guard g(lock_);
        auto *c = Core::New<Controller_>(*this);
        if (!c)
            return StatusLog(Ident()).SetOom(1);
        controller_.reset(c);
        if (!controller_->Create(id, cifs_up_, cifs_down_)) {
            controller_.reset();
            return StatusLog(Ident()).SetFail(2);
        }
        if (Failed(r = Subscribe_()))
            return r;
    }
    if (Failed(core_.auth->RegisterTag(USER_TAG)))
        return StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, Ident(),
                         "failed to register \"%1\" authentication tag")
               << USER_TAG;
    tag_ = true;
    for (const char *key : {KEY_ENABLE, KEY_SHARES, KEY_PRINTERS})
        if (Failed(RegisterKey(key, 0, 2)))
            return StatusLog(Ident()).SetFail(3);
    Mutex::Guard g(lock_);
    StringVector ids;
    if (Failed(core_.interfaces->GetIds(Network::Interface::Repository::KIND_IP, ids)))
        return StatusLog(Ident()).SetFail(4);
    for (const String &id : ids)
        if (!RecordInterface_(id, nullptr))
            return StatusLog(Ident()).SetOom(5);
    RebuildFirewall_();
    initialized_ = true;
    return Done();
}

ReturnT ServerVX::SetupFirewall_()
{
    if (!process_)
        return StatusLog(Ident()).SetFail(6);
    Netfilter::Table *t = nullptr;
    if (Failed(core_.netfilter->Acquire(Netfilter::Table::FILTER, &t)))
        return StatusLog(Ident()).SetFail(7);
    Netfilter::Entry jump;
    jump.protocol = 17;
    jump.target = NBNS_CHAIN;
    bool created = !Failed(t->CreateChain(NBNS_CHAIN));
    bool ok =
        created && !Failed(t->Prepend(Netfilter::Table::CHAIN_ZMO_OUTPUT, jump)) && !Failed(t->Commit());
    core_.netfilter->Release(t);
    if (!ok)
        return StatusLog(Ident()).SetFail(8);
    chain_ = true;
    return Done();
}

ReturnT ServerVX::ReservePorts_()
{
    using P = Network::PortAllocator;
    static const struct {
        P::ProtocolT proto;
        uint16_t port;
    } kPorts[] = {{P::TCP, 139},  {P::TCP, 445},  {P::UDP, 137}, {P::UDP, 138},
                  {P::UDP, 1022}, {P::UDP, 1023}, {P::UDP, 4445}};
    for (const auto &p : kPorts) {
        if (Failed(core_.ports->Reserve(Ident(), p.proto, p.port, 0)))
            return StatusLog(Ident()).SetFail(9);
        ports_held_ = true;
    }
    return Done();
}

ReturnT ServerVX::MakeInstanceId_(String &id)
{
    id = "012345678901";
    Network::MacAddress mac;
    if (Failed(core_.config->GetWanMacAddress(mac)) || mac.IsZero())
        return StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, Ident(),
                         "failed to get the WAN MAC address");
    size_t n = 0;
    for (char ch : mac.ToString()) {
        if (n == 12)
            break;
        if (ch != ':')
            id[n++] = ch;
    }
    if (id.size() != 12)
        return StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, Ident(),
                         "the instance ID size %1 is wrong (%2 expected)")
               << static_cast<uint64_t>(id.size()) << 12;
    return Done();
}

ReturnT ServerVX::Subscribe_()
{
    using T = Event::Type;
    auto d = [this](auto member) { return Event::Delegate::Make(Ident(), this, member, &lock_); };
    subscribed_ = true;  // a refusal half-way still drops the ones before
    bool ok = !Failed(Event::Subscribe(T::Fs, d(&ServerVX::OnFs_))) &&
              !Failed(Event::Subscribe(T::Host, d(&ServerVX::OnHost_))) &&
              !Failed(Event::Subscribe(T::User, d(&ServerVX::OnUser_))) &&
              !Failed(Event::Subscribe(T::Domain, d(&ServerVX::OnDomain_))) &&
              !Failed(Event::Subscribe(T::ServiceUp, d(&ServerVX::OnServiceUp_))) &&
              !Failed(Event::Subscribe(T::ServiceDown, d(&ServerVX::OnServiceDown_))) &&
              !Failed(Event::Subscribe(T::IfStateChanged, d(&ServerVX::OnIfStateChanged_))) &&
              !Failed(Event::Subscribe(T::IfIpChanged, d(&ServerVX::OnIfIpChanged_))) &&
              !Failed(Event::Subscribe(T::IfCreated, d(&ServerVX::OnIfCreated_))) &&
              !Failed(Event::Subscribe(T::IfPrivateChanged, d(&ServerVX::OnIfPrivateChanged_))) &&
              !Failed(Event::Subscribe(T::IfDestroyed, d(&ServerVX::OnIfDestroyed_))) &&
              !Failed(Event::Subscribe(T::SystemReady, d(&ServerVX::OnSystemReady_)));
    if (!ok) {
        Event::Unsubscribe(Ident());
        subscribed_ = false;
        return StatusLog(Ident()).SetFail(10);
    }
    return Done();
}

ReturnT ServerVX::Enable()
{
    Mutex::Guard g(lock_);
    if (initialized_)
        controller_->Enable();
    UpdateKey_(KEY_ENABLE, 1);
    return StatusLog(Code::DONE, 0, Ident(), "enabled");
}

ReturnT ServerVX::Disable()
{
    Mutex::Guard g(lock_);
    if (initialized_)
        controller_->Disable();
    UpdateKey_(KEY_ENABLE, 0);
    return StatusLog(Code::DONE, 0, Ident(), "disabled");
}

bool ServerVX::IsEnabled() const
{
    Mutex::Guard g(lock_);
    return initialized_ && controller_->CifsIsStarted();
}

bool ServerVX::IsPermissive() const
{
    Mutex::Guard g(lock_);
    return initialized_ && permissive_;
}

ReturnT ServerVX::SetMaster(bool)
{
    Mutex::Guard g(lock_);
    return static_cast<ReturnT>(::Code::FAIL);
}

ReturnT ServerVX::SetMapHidden(bool)
{
    Mutex::Guard g(lock_);
    return static_cast<ReturnT>(::Code::FAIL);
}

bool ServerVX::AttachTo(Xml::Node &node) const
{
    Mutex::Guard g(lock_);
    if (!initialized_)
        return true;
    bool started = controller_->CifsIsStarted();
    node.Add("enabled", started);
    node.Add("automount", automount_);
    node.Add("permissive", permissive_);
    for (const Share &s : shares_) {
        Xml::Node *item = node.AddArrayItem("share");
        if (!item)
            return false;
        item->Add("mount", s.mount);
        item->Add("label", s.label);
        item->Add("description", s.description);
        item->Add("active", started && s.exists);
    }
    return node.Valid();
}

void ServerVX::UpdateKey_(const char *key, int64_t value)
{
    if (Failed(SetKey(key, value)))
        Log::Fail(Ident());
}

void ServerVX::UpdateSharesKey_()
{
    int64_t n = 0;
    for (const Share &s : shares_)
        n += s.exists ? 1 : 0;
    UpdateKey_(KEY_SHARES, n);
}

void ServerVX::SignalConfigurationChanged()
{
    if (initialized_)
        controller_->ConfigurationChanged();
}

void ServerVX::OnHost_(const Event::Host &)
{
    if (initialized_)
        controller_->RestartServer();
}

void ServerVX::OnDomain_(const Event::Domain &)
{
    if (initialized_)
        controller_->RestartServer();
}

void ServerVX::OnServiceDown_(const Event::ServiceDown &e)
{
    if (e.id != SERVICE_CIFS)
        return;
    server_up_ = false;
    active_users_.clear();
}

void ServerVX::OnSystemReady_(const Event::SystemReady &)
{
    UpdateKey_(KEY_ENABLE, initialized_ && controller_->CifsIsStarted() ? 1 : 0);
    UpdateSharesKey_();
    UpdateKey_(KEY_PRINTERS, static_cast<int64_t>(printers_.size()));
}

}  // namespace Cifs
