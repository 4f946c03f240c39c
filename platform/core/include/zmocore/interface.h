// Network interfaces: the repository, interface parts and the factory whose
// creators are offered USB device events.
#ifndef ZMOCORE_INTERFACE_H
#define ZMOCORE_INTERFACE_H

#include "zmocore/event.h"
#include "zmocore/module.h"
#include "zmocore/network.h"
#include "zmocore/xml.h"

namespace Network {
namespace Interface {

typedef uint32_t InitT;
typedef uint32_t LinkT;
typedef uint32_t IfUpT;
typedef uint32_t SecurityLevelT;

// One IP interface as the repository knows it.
struct ZMOCORE_API IpInfo {
    String id;
    String system_name;
    SecurityLevelT level = 0;  // 0 and 2 private, 1 public
    IpBlock block;
};

class ZMOCORE_API Base {
public:
    static constexpr unsigned MAX_INDEX = 31;
    Base(const char *type, unsigned index, Base *parent);
    virtual ~Base();
    virtual const char *Ident() const = 0;
    virtual ReturnT Initialize(InitT init);
    virtual bool AttachTo(Xml::Node &node);
    virtual ReturnT GetLink(LinkT &link) const;
    virtual ReturnT GetIfUp(IfUpT &ifup) const;
    virtual ReturnT SetIfUp(IfUpT ifup);
    virtual const char *Type() const;
    virtual unsigned Priority() const { return 0; }
    virtual void Cleanup();
    virtual ReturnT DetectLink() { return static_cast<ReturnT>(Code::DONE); }

    // The identifier: type and index ("WiMax0").
    const String &Id() const { return id_; }
    unsigned Index() const { return index_; }
    const String &SystemName() const { return system_name_; }
    ReturnT SetSystemName(const String &name);
    const String &Description() const { return description_; }
    ReturnT SetDescription(const String &d);
    int State() const { return state_; }
    ReturnT SetState(int state);
    bool IsGlobal() const { return global_; }
    void SetGlobalFlag(bool g) { global_ = g; }
    // Makes it findable by the repository under its identifier.
    ReturnT Register(const char *ident, const char *type);
    void Unregister(const char *ident);

private:
    String type_, id_, system_name_, description_;
    unsigned index_;
    int state_ = 0;
    bool global_ = false;
    bool registered_ = false;
};

class ZMOCORE_API Ethernet : public virtual Base {
public:
    Ethernet() : Base("", 0, nullptr) {}
    ReturnT Initialize(InitT init) override;
    bool AttachTo(Xml::Node &node) override;
    void Cleanup() override;
    MacAddress Mac() const { return mac_; }

private:
    MacAddress mac_;
};

class ZMOCORE_API Ssid {
public:
    Ssid() = default;
    explicit Ssid(const String &v) : value_(v), set_(true) {}
    bool IsSet() const { return set_; }
    const String &Value() const { return value_; }

private:
    String value_;
    bool set_ = false;
};

class ZMOCORE_API Wireless : public virtual Base {
public:
    Wireless() : Base("", 0, nullptr) {}
    // Stores the SSID and tells SetSsid_.
    ReturnT SetSsid(const Ssid &ssid);
    const Ssid &GetSsid() const { return ssid_; }
    virtual ReturnT SetSsid_(const Ssid &ssid) = 0;

private:
    Ssid ssid_;
};

class ZMOCORE_API Usb : public virtual Base {
public:
    Usb() : Base("", 0, nullptr) {}
    virtual ReturnT SetDeviceId(const String &vendor, const String &product);
    virtual ReturnT GetDeviceId(String &vendor, String &product) const;
    virtual ReturnT ClrDeviceId();
    virtual bool IsBusy() const { return false; }
    virtual bool IsPlugged() const { return plugged_; }
    ReturnT Initialize(InitT init) override;
    virtual ReturnT SetInternetAvailable(bool on);
    virtual bool HasDevice(const Event::Device &device) const;
    virtual bool HasNoDevice() const { return !plugged_; }
    virtual ReturnT OnDeviceAdded(const Event::Device &device);
    virtual ReturnT OnDeviceRemoved(const Event::Device &device);
    virtual ReturnT SetWwanForceConnected_(bool on);
    bool AttachTo(Xml::Node &node) override;

    // Index of the {vendor, product} pair in a list of texts ended by a null
    // (pairs in order); -1 when absent.
    static int DeviceIndex(const char *const *list, const String &vendor, const String &product);
    // A device that no interface holds yet.
    static bool Matches(const Event::Device &device);
    const String &DevicePath() const { return device_path_; }

private:
    bool plugged_ = false;
    String device_path_, vendor_, product_;
};

struct IP {
    // Marks the interface as one that may reach the Internet.
    static ZMOCORE_API ReturnT SetGlobal(Base &iface);
};

class ZMOCORE_API Repository : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Network::Interface::Repository";
    static constexpr const char *KIND_IP = "Network::Interface::IP";
    virtual ReturnT GetIds(const String &kind, StringVector &ids) const = 0;
    // False when there is no IP interface of that identifier.
    virtual bool FindIp(const String &id, IpInfo &info) const = 0;
    // An interface object made by a creator, or null.
    virtual Base *Find(const String &id) const = 0;
};

namespace Factory {

class ZMOCORE_API BaseCreator {
public:
    explicit BaseCreator(const char *parent_ident) : parent_(parent_ident ? parent_ident : "") {}
    virtual ~BaseCreator();
    virtual bool Register();
    virtual void Unregister();
    virtual const char *ParentIdent() const { return parent_.c_str(); }
    virtual ReturnT Create(Base *parent, unsigned index, AutoPtr<Base> &out) = 0;
    virtual bool Wrap() const { return false; }
    virtual const char *Ident() const = 0;
    virtual const char *Type() const = 0;
    virtual unsigned Priority() const = 0;
    virtual unsigned MaxIndex() const = 0;
    virtual bool Matches(const Event::Device &device) const = 0;
    virtual const char *const *Types_() const = 0;

protected:
    // The framework's check before a creation: index in range and free.
    ReturnT CheckCreate_(Base *parent, unsigned index) const;

private:
    String parent_;
    bool registered_ = false;
};

template <typename T> class Creator : public BaseCreator {
public:
    explicit Creator(const char *parent_ident) : BaseCreator(parent_ident) {}
};

template <typename T> class NoParentCreator : public Creator<T> {
public:
    NoParentCreator() : Creator<T>("") {}
};

}  // namespace Factory

}  // namespace Interface
}  // namespace Network

#endif
