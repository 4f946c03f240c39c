// The core's services that plug-ins find by identifier.
#ifndef ZMOCORE_SERVICES_H
#define ZMOCORE_SERVICES_H

#include "zmocore/module.h"
#include "zmocore/network.h"
#include "zmocore/xml.h"

namespace Network {

class ZMOCORE_API PortAllocator : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Network::PortAllocator";
    enum ProtocolT { TCP = 6, UDP = 17 };
    // Refused when another owner holds the port.
    virtual ReturnT Reserve(const String &owner, ProtocolT proto, uint16_t port, uint32_t level) = 0;
    virtual void Clear(const String &owner) = 0;
    virtual String OwnerOf(ProtocolT proto, uint16_t port) const = 0;
};

class ZMOCORE_API NeighbourTable : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Network::NeighbourTable";
    // The latest IPv4 address seen for the MAC; zero when none.
    virtual IpAddress GetLatestIp(const MacAddress &mac) const = 0;
};

}  // namespace Network

namespace Core {

// Keys shown on the dashboard.
class ZMOCORE_API Dashboard : public Module::Component {
public:
    static constexpr const char *IDENT = "Core::Dashboard";
    virtual ReturnT RegisterKey(const String &key, int64_t initial, int track_mode) = 0;
    virtual ReturnT SetKey(const String &key, int64_t value) = 0;
    virtual void UnregisterKey(const String &key) = 0;
    // Current value of a key (false when not registered).
    virtual bool GetKey(const String &key, int64_t *value) const = 0;

    // A component that publishes keys; it keeps which ones, to drop them all.
    class ZMOCORE_API KeyHolder {
    public:
        virtual ~KeyHolder();
        ReturnT RegisterKey(const String &key, int64_t initial, int track_mode);
        ReturnT SetKey(const String &key, int64_t value);
        void UnregisterKeys();

    private:
        StringVector keys_;
    };
};

class ZMOCORE_API Authenticator : public Module::Component {
public:
    static constexpr const char *IDENT = "Core::Authenticator";
    // Codes of a missing password.
    static constexpr uint32_t NO_SUCH_USER = 0x80170024u;
    static constexpr uint32_t NO_PASSWORD = 0x80170025u;
    virtual ReturnT RegisterTag(const String &tag) = 0;
    virtual void UnregisterTag(const String &tag) = 0;
    virtual ReturnT GetUsersByTag(const String &tag, StringVector &names) = 0;
    virtual bool HasTag(const String &user, const String &tag) = 0;
    // type "nt"; category 0.
    virtual ReturnT GetPassword(const String &user, const String &type, int category, String &out) = 0;
};

class ZMOCORE_API ServiceLock : public Module::Component {
public:
    static constexpr const char *IDENT = "Core::ServiceLock";
    // Refused while another name holds the identifier.
    virtual ReturnT TryAcquire(const String &id, const String &name) = 0;
    virtual ReturnT Release(const String &id, const String &name) = 0;
};

class ZMOCORE_API KnownHosts : public Module::Component {
public:
    static constexpr const char *IDENT = "Core::KnownHosts";
    virtual bool IsExist(const Network::MacAddress &mac) const = 0;
};

class ZMOCORE_API RandomNumberGenerator : public Module::Component {
public:
    static constexpr const char *IDENT = "Core::RandomNumberGenerator";
    virtual uint32_t Get() const = 0;
};

namespace System {
class ZMOCORE_API Config : public Module::Component {
public:
    static constexpr const char *IDENT = "Core::System::Config";
    virtual ReturnT GetWanMacAddress(Network::MacAddress &mac) const = 0;
};
}  // namespace System

// Found so that a plug-in knows it runs in a full core.
class ZMOCORE_API ModeComponent : public Module::Component {
public:
    static constexpr const char *IDENT = "Core::Mode";
};

}  // namespace Core

namespace FileSystem {

struct ZMOCORE_API Info {
    String name;  // "USB0:"
    String label;
    bool usb = false;
    int type = 0;
    String directory;  // where it is mounted
    // True when the file name ("USB0:/a/b" or "LABEL:/a/b") is on it.
    bool Holds(const String &file) const;
};

class ZMOCORE_API Repository : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "FileSystem::Repository";
    static constexpr uint32_t FAILURE = 0xc0830001u;    // the repository itself failed
    static constexpr uint32_t NOT_FOUND = 0x80830002u;  // no such file system
    static constexpr uint32_t BAD_NAME = 0x80830003u;
    virtual bool IsValidName(const String &file) const = 0;
    // The path of the file on the system.
    virtual ReturnT GetRealName(const String &file, String &real) const = 0;
    virtual ReturnT GetMounted(std::vector<Info> &out) const = 0;
    virtual ReturnT Exists(const String &real, bool &exists) const = 0;
    virtual StringVector Names() const = 0;
};

namespace Native {
// Journaled; the real call is made only for files on a file system whose
// label the host allows ("--real-swap-label").
ZMOCORE_API ReturnT SwapOn_(const String &path, int flags);
ZMOCORE_API ReturnT SwapOff_(const String &path);
}  // namespace Native

}  // namespace FileSystem

namespace Printer {

struct ZMOCORE_API Id {
    uint16_t vendor = 0, product = 0;
    String ToString() const;  // "04e8:3242"
    bool operator==(const Id &o) const { return vendor == o.vendor && product == o.product; }
};

class ZMOCORE_API Controller {
public:
    virtual ~Controller() = default;
    virtual const char *Type() const = 0;
    virtual bool IsPortUsed() const = 0;
    virtual bool IsBidirectionalUsed() const = 0;
    virtual bool ActivatePrinter(const Id &id, const String &share, const String &device,
                                 const String &status_file, bool flag, uint16_t number,
                                 uint32_t debug_level) = 0;
    virtual void DeactivatePrinter(const Id &id) = 0;
};

class ZMOCORE_API Manager : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Printer::Manager";
    virtual ReturnT RegisterController(Controller *c) = 0;
    virtual void UnregisterController(Controller *c) = 0;
    // The user tag of printer owners.
    virtual const char *Tag() const = 0;
};

}  // namespace Printer

namespace Dns {

class ZMOCORE_API Manager : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Dns::Manager";
    static constexpr const char *PROXY_PID_FILE = "/var/run/dnsrelayd.pid";
    // Has the proxy read its files again (SIGURG to the pid of its pid file).
    virtual ReturnT ReinitProxy(int flags) = 0;
    virtual ReturnT ClearServiceData(const String &name) = 0;
};

namespace Resolver {
// A query for the A records of name, sent over UDP to server:port; only
// addresses of this host's own interfaces are asked (others are refused
// unsent).
ZMOCORE_API ReturnT GetAddresses(const String &name, std::vector<Network::IpAddress> &out,
                                 uint32_t timeout_ms, Log::VerboseT verbose, Network::IpAddress server,
                                 uint16_t port);
}  // namespace Resolver

}  // namespace Dns

namespace Dhcp {
class ZMOCORE_API Client : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Dhcp::Client";
    // The client runs on interfaces of this type.
    virtual ReturnT SetAutoStart(const String &type) = 0;
};
}  // namespace Dhcp

// What an outside program handed over through a feedback forwarder.
class ZMOCORE_API Feedback {
public:
    const StringVector &Words() const { return words_; }
    String Word(size_t i) const { return i < words_.size() ? words_[i] : String(); }
    // The value of KEY ("" when absent).
    String Get(const String &key) const;
    bool Has(const String &key) const;
    const std::vector<std::pair<String, String>> &Values() const { return values_; }
    StringVector &MutableWords() { return words_; }
    std::vector<std::pair<String, String>> &MutableValues() { return values_; }

private:
    StringVector words_;
    std::vector<std::pair<String, String>> values_;
};

// Register puts an executable forwarder at the path; each run of it brings
// its arguments and the KEY=value lines of its input to OnFeedback, on the
// core's event thread.
class ZMOCORE_API FeedbackListener {
public:
    virtual ~FeedbackListener();
    ReturnT Register(const String &path);
    void Unregister();
    virtual void OnFeedback(const Feedback &feedback) = 0;
    const String &FeedbackPath() const { return path_; }

private:
    String path_;
};

#endif
