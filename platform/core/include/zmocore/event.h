// Events: typed records raised by the core or by plug-ins and delivered, in
// order, on the core's one event thread to the delegates subscribed to their
// type. A delegate holds its object's lock while its handler runs.
#ifndef ZMOCORE_EVENT_H
#define ZMOCORE_EVENT_H

#include "zmocore/base.h"
#include "zmocore/network.h"

#include <cstring>
#include <functional>

namespace Event {

enum class Type {
    Fs,
    Host,
    User,
    Domain,
    ServiceUp,
    ServiceDown,
    IfStateChanged,
    IfIpChanged,
    IfCreated,
    IfPrivateChanged,
    IfDestroyed,
    SystemReady,
    SystemShutdown,
    Wan,
    KnownHost,
    Neighbour,
    TaskDone,
    Progress,
    SaveConfiguration,
    Device,
};
// "Event::Type::Fs" and the rest.
ZMOCORE_API const char *TypeName(Type t);
ZMOCORE_API bool TypeFromName(const String &name, Type *t);

class ZMOCORE_API Base {
public:
    explicit Base(Type t);
    virtual ~Base() = default;
    Type GetType() const { return type_; }
    // Monotonic time at which it was raised.
    Time::Span RaiseTime() const { return raised_; }
    void SetRaiseTime(Time::Span t) { raised_ = t; }
    // One line for the journal: the type and its fields.
    virtual String Describe() const;

private:
    Type type_;
    Time::Span raised_;
};

// A file system appeared (action 0), went (1) or is about to be unmounted (2).
struct ZMOCORE_API Fs : Base {
    Fs() : Base(Type::Fs) {}
    int action = 0;
    String name;  // "USB0:"
    String label;
    bool usb = false;
    int type = 0;  // file-system type code; 7 is the swap volume
    String Describe() const override;
};
struct ZMOCORE_API Host : Base {
    Host() : Base(Type::Host) {}
    String name;
};
struct ZMOCORE_API Domain : Base {
    Domain() : Base(Type::Domain) {}
    String name;
};
// A user was added (0), changed (1) or removed (2).
struct ZMOCORE_API User : Base {
    User() : Base(Type::User) {}
    int action = 0;
    String name;
    StringVector tags;
    std::map<String, String> passwords;  // by type: "nt"
    bool HasTag(const String &tag) const;
    // False when the event carries no password of that type.
    bool GetPassword(const String &type, String *out) const;
    String Describe() const override;
};
struct ZMOCORE_API ServiceUp : Base {
    ServiceUp() : Base(Type::ServiceUp) {}
    String id;
    String Describe() const override;
};
struct ZMOCORE_API ServiceDown : Base {
    ServiceDown() : Base(Type::ServiceDown) {}
    String id;
    String Describe() const override;
};
struct ZMOCORE_API IfStateChanged : Base {
    IfStateChanged() : Base(Type::IfStateChanged) {}
    IfStateChanged(int change_, const String &id_, const String &sys, int link_, int conn, int ifup_)
        : Base(Type::IfStateChanged), change(change_), id(id_), system_name(sys), link(link_),
          connection(conn), ifup(ifup_)
    {
    }
    int change = 0;
    String id;
    String system_name;
    int link = 0;
    int connection = 0;
    int ifup = 0;
    String Describe() const override;
};
struct ZMOCORE_API IfIpChanged : Base {
    IfIpChanged() : Base(Type::IfIpChanged) {}
    String id;
    Network::IpBlock block;
    String Describe() const override;
};
struct ZMOCORE_API IfCreated : Base {
    IfCreated() : Base(Type::IfCreated) {}
    String id;
    String system_name;
    String Describe() const override;
};
struct ZMOCORE_API IfPrivateChanged : Base {
    IfPrivateChanged() : Base(Type::IfPrivateChanged) {}
    String id;
    uint32_t level = 0;
    String Describe() const override;
};
struct ZMOCORE_API IfDestroyed : Base {
    IfDestroyed() : Base(Type::IfDestroyed) {}
    String id;
    String Describe() const override;
};
struct ZMOCORE_API SystemReady : Base {
    SystemReady() : Base(Type::SystemReady) {}
};
struct ZMOCORE_API SystemShutdown : Base {
    SystemShutdown() : Base(Type::SystemShutdown) {}
};
// The WAN interface's identifier; empty when there is none.
struct ZMOCORE_API Wan : Base {
    Wan() : Base(Type::Wan) {}
    String id;
    String Describe() const override;
};
// Action 1: one host left the known-host list; 2: the list was cleared.
struct ZMOCORE_API KnownHost : Base {
    KnownHost() : Base(Type::KnownHost) {}
    int action = 0;
    Network::MacAddress mac;
    String Describe() const override;
};
// Address type 0 is IPv4; action 1 with update kind 1 is an update that counts.
struct ZMOCORE_API Neighbour : Base {
    Neighbour() : Base(Type::Neighbour) {}
    int action = 0;
    int address_type = 0;
    int update_kind = 0;
    Network::MacAddress mac;
    Network::IpAddress address;
    String Describe() const override;
};
struct ZMOCORE_API TaskDone : Base {
    TaskDone() : Base(Type::TaskDone) {}
    uint64_t task_id = 0;
    String ident;
    String Describe() const override;
};
struct ZMOCORE_API Progress : Base {
    Progress() : Base(Type::Progress) {}
    Progress(const String &what_, int percent_, int stage_)
        : Base(Type::Progress), what(what_), percent(percent_), stage(stage_)
    {
    }
    String what;
    int percent = 0;
    int stage = 0;
    String Describe() const override;
};
struct ZMOCORE_API SaveConfiguration : Base {
    SaveConfiguration(int a = 0, int b = 0) : Base(Type::SaveConfiguration), flags(a), reason(b) {}
    int flags;
    int reason;
};
// A USB device event: its subsystem ("usb_device", "usb_endpoint") and the
// KEY=value pairs of the kernel's report ("DEVICE", "VENDOR", "MODEL").
struct ZMOCORE_API Device : Base {
    Device() : Base(Type::Device) {}
    int action = 0;  // 0 added, 1 removed
    String subsystem;
    std::map<String, String> values;
    String Get(const String &key) const;
    // Four-digit lower-case hex texts ("04e8").
    String Vendor() const { return Get("VENDOR"); }
    String Model() const { return Get("MODEL"); }
    String Describe() const override;
};

// {owner, object, member, lock}: the core holds the lock while the member runs.
class ZMOCORE_API Delegate {
public:
    Delegate() = default;
    template <typename T, typename E>
    static Delegate Make(const String &owner, T *object, void (T::*member)(const E &), Mutex *lock)
    {
        Delegate d;
        d.owner_ = owner;
        d.object_ = object;
        d.lock_ = lock;
        static_assert(sizeof(member) <= sizeof(d.member_), "member pointer too large");
        std::memcpy(d.member_, &member, sizeof(member));
        d.call_ = [object, member](const Base &e) { (object->*member)(static_cast<const E &>(e)); };
        return d;
    }
    bool Valid() const { return static_cast<bool>(call_); }
    const String &Owner() const { return owner_; }
    Mutex *Lock() const { return lock_; }
    // Same object and member: one handler, called once per event.
    bool SameTarget(const Delegate &o) const
    {
        return object_ == o.object_ && std::memcmp(member_, o.member_, sizeof(member_)) == 0;
    }
    // Takes the lock, then calls.
    void Call(const Base &e) const;
    void CallUnlocked(const Base &e) const;

private:
    String owner_;
    const void *object_ = nullptr;
    unsigned char member_[2 * sizeof(void *)] = {};
    Mutex *lock_ = nullptr;
    std::function<void(const Base &)> call_;
};

// The handler's event type must be the one that the type names.
ZMOCORE_API ReturnT Subscribe(Type type, const Delegate &delegate);
ZMOCORE_API void Unsubscribe(const String &owner);
// Queues the event for the event thread; returns at once.
ZMOCORE_API ReturnT RaiseShared(std::shared_ptr<Base> event);
template <typename E> ReturnT Raise(const E &event)
{
    try {
        return RaiseShared(std::make_shared<E>(event));
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
}

}  // namespace Event

#endif
