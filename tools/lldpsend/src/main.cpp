// lldpsend: announces the router on one port every minute.
#include "options.h"
#include "privileges.h"
#include "startup.h"
#include "send_loop.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const char *ident = zmo_log_get_ident(argv);
    if (!zmo_log_init(ident, nullptr, 0, 1)) {
        std::fprintf(stderr, "%s: failed to initialize a log\n", ident);
        return 1;
    }
    lldp::SendSettings settings;
    if (!lldp::parse_send_options(argc, argv, &settings))
        return 1;
    if (!zmo_log_init(ident, settings.announce.port_id.c_str(), 0, 1)) {
        std::fprintf(stderr, "%s: failed to reinitialize log\n", ident);
        return 1;
    }
    if (settings.debug) {
        zmo_log_set_debug(1);
        zmo_log(ZMO_LOG_INFO, "debug is enabled");
    }
    if (!tools::start_base())
        return 1;

    // Texts too long for their TLV or the frame are cut; say so once.
    std::vector<lldp::Cut> cuts;
    uint8_t probe[lldp::kFrameMax];
    lldp::build(settings.announce, probe, &cuts);
    for (const lldp::Cut &c : cuts)
        zmo_log(ZMO_LOG_WARNING, "the %s of %zu bytes is cut to %zu bytes to fit the LLDPDU", c.field,
                c.length, c.kept);

    int s = lldp::open_send_socket(settings);
    if (s < 0)
        return 1;
    if (!tools::drop_privileges(settings.user.c_str())) {
        close(s);
        return 1;
    }
    lldp::lldp_send_loop(s, settings);
    close(s);
    return 0;
}
