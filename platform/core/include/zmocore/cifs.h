// The core's CIFS server interface, which the SMB server plug-in implements.
#ifndef ZMOCORE_CIFS_H
#define ZMOCORE_CIFS_H

#include "zmocore/base.h"
#include "zmocore/xml.h"

namespace Cifs {

// One share as the server interface hands it out.
struct ZMOCORE_API Share {
    bool valid = false;
    String label;
    String mount;  // a file name of the file-system repository
    bool timemachine = false;
    String description;
    bool exists = false;
};

class ZMOCORE_API Server : public Object {
public:
    ~Server() override;
    const char *Ident() const override = 0;
    virtual bool Initialized() const = 0;
    virtual ReturnT Enable() = 0;
    virtual ReturnT Disable() = 0;
    virtual bool IsEnabled() const = 0;
    virtual ReturnT SetAutomount(bool on) = 0;
    virtual bool IsAutomount() const = 0;
    virtual ReturnT AddShare(const String &label, const String &mount, bool timemachine,
                             const String &description) = 0;
    virtual ReturnT RemoveShare(const String &label) = 0;
    virtual ReturnT RemoveAllShares() = 0;
    virtual ReturnT SetMaster(bool on) = 0;
    virtual bool IsMaster() const = 0;
    virtual bool HasMaster() const = 0;
    virtual ReturnT SetPermissive(bool on) = 0;
    virtual bool IsPermissive() const = 0;
    virtual bool HasPermissive() const = 0;
    virtual ReturnT SetMapHidden(bool on) = 0;
    virtual bool IsMapHidden() const = 0;
    virtual bool HasMapHidden() const = 0;
    virtual bool GetShares(std::vector<Share> &list) const = 0;
    virtual bool AttachTo(Xml::Node &node) const = 0;
};

}  // namespace Cifs

#endif
