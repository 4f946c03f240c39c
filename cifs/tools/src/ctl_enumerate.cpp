// The four listings: index 0, 1, 2... until the server says there is no
// such item. Texts come as UTF-16 and are printed through 8-bit copies of
// the stack's allocator, each freed once its entry is out.
#include "ctl_commands.h"

#include "cmipaddr.h"
#include "cmmemory.h"
#include "cmtypes.h"
#include "csctrl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vxctl {

namespace {

// An 8-bit copy of a record's text for the length of one entry.
class Text {
public:
    explicit Text(const CMWchar *wide) : text_(cmMemoryCloneWStringAsAsciiNonDebug(wide)) {}
    ~Text() { cmMemoryFreeNonDebug(text_); }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;
    const char *c_str() const { return text_ ? text_ : ""; }

private:
    char *text_;
};

// The 16-byte address buffer of the client and file listings.
class AddressText {
public:
    AddressText() : text_(static_cast<char *>(cmMemoryAllocNonDebug(16))) {}
    ~AddressText() { cmMemoryFreeNonDebug(text_); }
    AddressText(const AddressText &) = delete;
    AddressText &operator=(const AddressText &) = delete;
    bool ok() const { return text_ != nullptr; }
    const char *of(uint32_t address)
    {
        cmIpToAscii(text_, &address);
        return text_;
    }

private:
    char *text_;
};

const char *yesNo(uint32_t flag) { return flag == 1 ? "Yes" : "No"; }

// The request carries the index in 16 bits: a server that never says "no
// such item" would otherwise be walked from index 0 again, for ever.
constexpr uint32_t kIndexes = 0x10000;

// Calls get(record, index) from 0 on and prints each entry (numbered from
// 1). The server's "no such item" ends the list; any other failure (no
// answer, an unknown command, a send error) fails the listing after what
// was printed.
template <typename Record, typename Print> int enumerate(int (*get)(Record *, uint32_t), Print print)
{
    Record record;
    for (uint32_t index = 0; index < kIndexes; ++index) {
        std::memset(&record, 0, sizeof record);
        if (get(&record, index) != 0)
            return errno == int(CM_ERR_CTRL_FAILED) ? 0 : -1;
        print(record, int(index) + 1);
    }
    return 0;
}

}  // namespace

int enumerateShares(int, char **)
{
    return enumerate(csCtrlEnumShares, [](const CSCtrlShareRecord &share, int number) {
        Text name(share.name), path(share.path), comment(share.comment);
        std::printf("\n  #%d\n", number);
        std::printf("        Share name: %s\n", name.c_str());
        std::printf("        Share path: %s\n", path.c_str());
        if (share.debugLevel >= 0) {
            Text status(share.statusPath);
            std::printf("        Printer share status path: %s\n", status.c_str());
            std::printf("        Printer share debug level: %d\n", share.debugLevel);
        }
        std::printf("        Share comment: %s", comment.c_str());
    });
}

int enumerateUsers(int, char **)
{
    return enumerate(csCtrlEnumUsers, [](const CSCtrlUserRecord &user, int number) {
        Text name(user.name), fullName(user.fullName), description(user.description);
        std::printf("\n  #%d\n", number);
        std::printf("        User name: %s\n", name.c_str());
        std::printf("        User full name: %s\n", fullName.c_str());
        std::printf("        User description: %s\n", description.c_str());
        std::printf("        User is Admin: %s", yesNo(user.administrator));
    });
}

int enumerateClients(int, char **)
{
    AddressText address;
    if (!address.ok()) {
        errno = CM_ERR_NOMEM;
        return -1;
    }
    return enumerate(csCtrlEnumClients, [&address](const CSCtrlClientRecord &client, int number) {
        Text name(client.name);
        std::printf("\n Entry #%d \n", number);
        std::printf(" ip = %s\n", address.of(client.address));
        std::printf(" name = %s\n", name.c_str());
        std::printf(" Guest = %s\n", yesNo(client.guest));
        std::printf(" Anonymous = %s\n", yesNo(client.anonymous));
        std::printf(" PrinterOwner = %s\n", yesNo(client.printerOwner));
        std::printf(" SMB Version:");
        switch (client.dialect) {
        case 1:
            std::printf(" SMB \n");
            break;
        case 2:
            std::printf(" SMB2 \n");
            break;
        case 4:
            std::printf(" SMB2.1 \n");
            break;
        case 6:
            std::printf(" SMB3.0 \n");
            break;
        case 8:
            std::printf(" SMB3.1.1 \n");
            break;
        default:
            std::printf(" Unk 0x%04x \n", unsigned(client.dialect & 0xFFFF));
            break;
        }
    });
}

int enumerateFiles(int, char **)
{
    AddressText address;
    if (!address.ok()) {
        errno = CM_ERR_NOMEM;
        return -1;
    }
    return enumerate(csCtrlEnumFiles, [&address](const CSCtrlFileRecord &file, int number) {
        Text name(file.path), user(file.user);
        std::printf("\n Entry #%d \n", number);
        std::printf(" name = %s \n", name.c_str());
        std::printf(" user name = %s \n", user.c_str());
        std::printf(" ip = %s\n", address.of(file.address));
        std::printf(" File is Directory: %s\n", file.isDirectory != 0 ? "TRUE" : "FALSE");
    });
}

}  // namespace vxctl
