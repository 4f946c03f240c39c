// The SMB stack as the management core sees it: shares, users, printers and
// permissive mode kept here and pushed into the running server by the
// control tool; the two daemons run as services of the core.
#ifndef CIFS_SERVERVX_H
#define CIFS_SERVERVX_H

#include "zmocore.h"

namespace Cifs {

namespace Code {
constexpr uint32_t DONE = 0x00CE0001u;
constexpr uint32_t BAD_MOUNT = 0x80CE0002u;
constexpr uint32_t EMPTY_LABEL = 0x80CE0003u;
constexpr uint32_t EMPTY_MOUNT = 0x80CE0004u;
constexpr uint32_t SHARE_EXISTS = 0x80CE0006u;
constexpr uint32_t EXISTENCE_CHECK = 0x80CE0007u;
constexpr uint32_t NOT_USB = 0x80CE0008u;
constexpr uint32_t NO_SHARE = 0x80CE0009u;
constexpr uint32_t NO_REAL_PATH = 0x80CE000Au;
constexpr uint32_t NO_MOUNTED_LIST = 0x80CE000Bu;
constexpr uint32_t RUN_FAILED = 0x80CE000Cu;
constexpr uint32_t BAD_LABEL = 0x80CE000Du;
constexpr uint32_t NOT_INITIALIZED = 0xC0CE0003u;
}  // namespace Code

constexpr const char *MODULE_SOURCE = "lib::libzmoCifsVX";
constexpr const char *NBNS_CHAIN = "_ZMO_NBNS_OUTPUT_FILTER";
constexpr const char *USER_TAG = "cifs";
constexpr const char *KEY_ENABLE = "CIFS_ENABLE";
constexpr const char *KEY_SHARES = "CIFS_SHARES";
constexpr const char *KEY_PRINTERS = "CIFS_PRINTERS";
constexpr const char *SERVICE_CIFS = "CIFS";
constexpr const char *SERVICE_NETBIOS = "NETBIOS browser";
constexpr uint32_t RUN_BOUND_MS = 5000;

// True when a share label can be a share name on the wire and in the tool.
bool IsValidLabel(const String &label);

class ServerVX;

// Owns the NetBIOS daemon and the SMB server as two services and decides
// when each runs: the server only while the NetBIOS daemon is up.
class Controller_ {
public:
    explicit Controller_(ServerVX &server);
    virtual ~Controller_();
    virtual const char *Ident() const { return "Cifs::ServerVX::Controller"; }

    // Makes both services; false (logged) when the controller can't run.
    bool Create(const String &instance_id, const Event::Delegate &cifs_up, const Event::Delegate &cifs_down);
    bool CifsIsStarted();
    bool CifsIsConfigured();
    bool Initialized() const { return initialized_; }

    void Enable();
    void Disable();
    void TryStart();
    void RestartServer();
    void ConfigurationChanged();
    void InterfaceCreated();

private:
    void OnServiceUp_(const Event::ServiceUp &e);
    void OnServiceDown_(const Event::ServiceDown &e);
    void OnShutdown_(const Event::SystemShutdown &e);
    void StartDaemons_();

    ServerVX &server_;
    Mutex lock_{67};
    bool initialized_ = false, shutting_down_ = false, netbios_up_ = false, started_ = false,
         configured_ = false;
    bool subscribed_ = false;
    std::unique_ptr<Service> cifs_, netbios_;
};

// What the component needs from the core, found at start.
struct Components {
    Network::Interface::Repository *interfaces = nullptr;
    FileSystem::Repository *files = nullptr;
    Core::Authenticator *auth = nullptr;
    Core::System::Config *config = nullptr;
    Network::PortAllocator *ports = nullptr;
    Netfilter::Manager *netfilter = nullptr;
    Printer::Manager *printers = nullptr;
};

class ServerVX : public Server,
                 public Core::Module::Component,
                 public Printer::Controller,
                 public Core::Dashboard::KeyHolder {
public:
    explicit ServerVX(const Components &c);
    ~ServerVX() override;

    // Everything of the start after the component is built; a failure leaves
    // nothing behind once the component is deleted.
    ReturnT Setup();

    const char *Ident() const override { return "Cifs::ServerVX"; }
    bool Initialized() const override { return initialized_; }
    ReturnT Enable() override;
    ReturnT Disable() override;
    bool IsEnabled() const override;
    ReturnT SetAutomount(bool on) override;
    bool IsAutomount() const override { return automount_; }
    ReturnT AddShare(const String &label, const String &mount, bool timemachine,
                     const String &description) override;
    ReturnT RemoveShare(const String &label) override;
    ReturnT RemoveAllShares() override;
    ReturnT SetMaster(bool on) override;
    bool IsMaster() const override { return false; }
    bool HasMaster() const override { return false; }
    ReturnT SetPermissive(bool on) override;
    bool IsPermissive() const override;
    bool HasPermissive() const override { return true; }
    ReturnT SetMapHidden(bool on) override;
    bool IsMapHidden() const override { return false; }
    bool HasMapHidden() const override { return false; }
    bool GetShares(std::vector<Share> &list) const override;
    bool AttachTo(Xml::Node &node) const override;
    const char *Type() const override { return "cifs"; }
    bool IsPortUsed() const override { return false; }
    bool IsBidirectionalUsed() const override { return false; }
    bool ActivatePrinter(const Printer::Id &id, const String &share, const String &device,
                         const String &status_file, bool flag, uint16_t number,
                         uint32_t debug_level) override;
    void DeactivatePrinter(const Printer::Id &id) override;

    // Used by the controller when the "CIFS" service comes up.
    void SignalConfigurationChanged();

    struct Printer_ {
        Printer::Id id;
        String share, device, status_file, debug_level;
    };
    struct Interface_ {
        uint32_t level = 0;
        String system_name;
        Network::IpBlock block;
        Time::Span created;
        bool valid = false;
    };

private:
    // Setup steps.
    ReturnT SetupFirewall_();
    ReturnT ReservePorts_();
    ReturnT MakeInstanceId_(String &id);
    ReturnT Subscribe_();

    // Firewall.
    void RebuildFirewall_();
    bool RecordInterface_(const String &id, const String *system_name);

    // Control runs.
    ReturnT Do_(const StringVector &words);
    ReturnT FlushShare_(const Share &share);
    ReturnT AddShare_(const String &label, const String &mount, const String &description);
    ReturnT CheckExists_(const String &mount, bool &exists);
    void Automount_(const FileSystem::Info &fs);
    void ActivateUser_(const String &name, const String &password, bool owner);
    void DeactivateUser_(const String &name);
    void UpdateSharesKey_();
    void UpdateKey_(const char *key, int64_t value);
    int FindShare_(const String &label) const;

    // Events.
    void OnFs_(const Event::Fs &e);
    void OnHost_(const Event::Host &e);
    void OnUser_(const Event::User &e);
    void OnDomain_(const Event::Domain &e);
    void OnServiceUp_(const Event::ServiceUp &e);
    void OnServiceDown_(const Event::ServiceDown &e);
    void OnIfStateChanged_(const Event::IfStateChanged &e);
    void OnIfIpChanged_(const Event::IfIpChanged &e);
    void OnIfCreated_(const Event::IfCreated &e);
    void OnIfPrivateChanged_(const Event::IfPrivateChanged &e);
    void OnIfDestroyed_(const Event::IfDestroyed &e);
    void OnSystemReady_(const Event::SystemReady &e);

    mutable Mutex lock_{40};
    Components core_;
    bool server_up_ = false, automount_ = false, permissive_ = false, initialized_ = false;
    std::vector<Share> shares_;
    std::unique_ptr<Controller_> controller_;
    std::unique_ptr<Io::Process> process_;
    StringVector active_users_;
    std::vector<Printer_> printers_;
    Event::Delegate cifs_up_, cifs_down_;
    std::map<String, Interface_> interfaces_;
    // What Setup has done, so that the destructor undoes exactly that.
    bool chain_ = false, ports_held_ = false, printer_controller_ = false, subscribed_ = false, tag_ = false;
};

}  // namespace Cifs

#endif
