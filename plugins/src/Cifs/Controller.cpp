// The two daemons: "NETBIOS browser" always first, "CIFS" only while the
// NetBIOS daemon is up.
#include "Cifs/ServerVX.h"

namespace Cifs {

Controller_::Controller_(ServerVX &server) : server_(server) {}

Controller_::~Controller_()
{
    if (subscribed_)
        Event::Unsubscribe(Ident());
    // The NetBIOS daemon's down delegate stops the server: it goes first.
    netbios_.reset();
    cifs_.reset();
}

bool Controller_::Create(const String &instance_id, const Event::Delegate &cifs_up,
                         const Event::Delegate &cifs_down)
{
    auto up = Event::Delegate::Make(Ident(), this, &Controller_::OnServiceUp_, &lock_);
    auto down = Event::Delegate::Make(Ident(), this, &Controller_::OnServiceDown_, &lock_);
    cifs_.reset(Service::New("vxcs", SERVICE_CIFS, {}, true, 1, Time::Span(1500), Time::Span(1000), cifs_up,
                             cifs_down, "/var/run/vxcs.pid", Time::Span(41000), 2000));
    netbios_.reset(Service::New("vxnd", SERVICE_NETBIOS, {}, true, 1, Time::Span(3000), Time::Span(2000), up,
                                down, "/var/run/vxnd.pid", Time::Span(10000), 2000));
    const char *source = server_.Ident();
    if (instance_id.size() != 12) {
        StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, source,
                  "the instance ID size %1 is wrong (%2 expected)")
            << static_cast<uint64_t>(instance_id.size()) << 12;
        return false;
    }
    const StringVector args = {"-i", instance_id};
    if (!netbios_ || !netbios_->SetArguments(args)) {
        StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, source,
                  "failed to create and initialize the NETBIOS service");
        return false;
    }
    if (!cifs_ || !cifs_->SetArguments(args)) {
        StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, source,
                  "failed to create and initialize the CIFS service");
        return false;
    }
    subscribed_ = true;
    if (Failed(Event::Subscribe(Event::Type::ServiceUp, up)) ||
        Failed(Event::Subscribe(Event::Type::ServiceDown, down)) ||
        Failed(Event::Subscribe(Event::Type::SystemShutdown,
                                Event::Delegate::Make(Ident(), this, &Controller_::OnShutdown_, &lock_)))) {
        StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, source, "failed to subscribe");
        return false;
    }
    initialized_ = true;
    return true;
}

bool Controller_::CifsIsStarted()
{
    Mutex::Guard g(lock_);
    return initialized_ && started_;
}

bool Controller_::CifsIsConfigured()
{
    Mutex::Guard g(lock_);
    return initialized_ && configured_;
}

// Under the lock: the NetBIOS daemon first; the server once it is up.
void Controller_::StartDaemons_()
{
    if (!initialized_ || !configured_ || !started_ || shutting_down_)
        return;
    if (netbios_up_)
        cifs_->Start();
    else if (!netbios_->IsStarted())
        netbios_->Start();
}

void Controller_::Enable()
{
    Mutex::Guard g(lock_);
    started_ = true;
    StartDaemons_();
}

void Controller_::Disable()
{
    Mutex::Guard g(lock_);
    if (!initialized_ || !started_)
        return;
    started_ = false;
    cifs_->StopWait();
    netbios_->Stop();
}

void Controller_::TryStart()
{
    Mutex::Guard g(lock_);
    if (initialized_ && configured_)
        return;
    configured_ = true;
    StartDaemons_();
}

void Controller_::RestartServer()
{
    Mutex::Guard g(lock_);
    if (shutting_down_ || !initialized_ || !cifs_->IsStarted())
        return;
    cifs_->StopWait();
    cifs_->Start();
}

void Controller_::ConfigurationChanged()
{
    Mutex::Guard g(lock_);
    if (netbios_up_)
        netbios_->Signal(1);
}

void Controller_::InterfaceCreated()
{
    Mutex::Guard g(lock_);
    if (shutting_down_ || !initialized_ || !netbios_->IsStarted())
        return;
    netbios_->StopWait();
    netbios_->Start();
}

void Controller_::OnServiceUp_(const Event::ServiceUp &e)
{
    if (e.id != SERVICE_NETBIOS || shutting_down_ || !initialized_)
        return;
    netbios_up_ = true;
    if (started_ && configured_)
        cifs_->Start();
}

void Controller_::OnServiceDown_(const Event::ServiceDown &e)
{
    if (e.id != SERVICE_NETBIOS)
        return;
    netbios_up_ = false;
    if (cifs_)
        cifs_->Stop();
}

void Controller_::OnShutdown_(const Event::SystemShutdown &)
{
    shutting_down_ = true;
    Event::Unsubscribe(Ident());
    subscribed_ = false;
    cifs_->StopWait();
    netbios_->StopWait();
    netbios_up_ = false;
}

}  // namespace Cifs
