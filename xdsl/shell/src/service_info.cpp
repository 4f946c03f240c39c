// The service record's commands of the show directory: the whole record or
// one field of it, as the boot interface's driver hands it out.
#include "service_info.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "boot_if_device.h"
#include "cli_command.h"
#include "cli_print.h"
#include "ebm_boot.h"

namespace {

struct Field {
    const char *label;
    size_t offset, width;
};

constexpr Field kTag{"servicetag", 0, 32};
constexpr Field kHost{"servicehost", 32, 48};
constexpr Field kPass{"servicepass", 80, 32};
constexpr Field kHwid{"zmohwid", 112, 32};
constexpr Field kChecksum{"checksum", 144, 32};

// A field's text: up to its zero byte, never past its width.
std::string field(const unsigned char *record, const Field &f)
{
    const char *p = reinterpret_cast<const char *>(record + f.offset);
    return std::string(p, strnlen(p, f.width));
}

int show_field(const Field &f)
{
    unsigned char record[SERVICE_INFO_SIZE];
    if (get_service_info(record) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Error getting Service Info\n");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "%s", field(record, f).c_str());
    return 0;
}

}  // namespace

extern "C" int get_service_info(unsigned char *record)
{
    std::memset(record, 0, SERVICE_INFO_SIZE);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        cli_print(CLI_LEVEL_TRACE, "%s: Socket error\n", "get_service_info");
        return CLI_FAILED;
    }
    char ifname[EBM_IFNAME_SIZE];
    int rc = 0;
    if (read_ebm_config(0, EBM_BOOT_IF, ifname, sizeof ifname) != 0) {
        cli_print(CLI_LEVEL_TRACE, "%s: Can not get EBM_BOOT_IF\n", "get_service_info");
        rc = CLI_FAILED;
    } else if (boot_if::service_record(fd, ifname, record, SERVICE_INFO_SIZE) < 0) {
        cli_print(CLI_LEVEL_TRACE, "%s: IOCTL error\n", "get_service_info");
        rc = CLI_FAILED;
    }
    close(fd);
    return rc;
}

extern "C" int cmd_show_serviceinfo(char *, const cli_dir_row *)
{
    unsigned char record[SERVICE_INFO_SIZE];
    if (get_service_info(record) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Error getting Service Info\n");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "%15s: %s\n%15s: %s\n%15s: %s\n%15s: %s\n%15s: %s\n", kTag.label,
              field(record, kTag).c_str(), kHost.label, field(record, kHost).c_str(), kPass.label,
              field(record, kPass).c_str(), kHwid.label, field(record, kHwid).c_str(), kChecksum.label,
              field(record, kChecksum).c_str());
    return 0;
}

extern "C" int cmd_show_servicetag(char *, const cli_dir_row *) { return show_field(kTag); }

extern "C" int cmd_show_servicehost(char *, const cli_dir_row *) { return show_field(kHost); }

extern "C" int cmd_show_servicepass(char *, const cli_dir_row *) { return show_field(kPass); }

extern "C" int cmd_show_zmohwid(char *, const cli_dir_row *) { return show_field(kHwid); }
