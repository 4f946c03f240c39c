// pppoeprobe: finds the PPPoE access concentrators on one interface.
#include "options.h"
#include "report.h"
#include "search.h"

#include "zmo.h"

#include <cerrno>
#include <net/if.h>
#include <new>

int main(int argc, char *argv[])
{
    const char *ident = zmo_log_get_ident(argv);
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (!zmo_sys_init() || !zmo_time_init()) {
        std::fputs("Failed to initialize the base subsystem.", stderr);
        return 1;
    }
    try {
        pppoe::Settings settings;
        int status = pppoe::parse_options(argc, argv, ident, &settings, stdout, stderr);
        if (status >= 0)
            return status;
        if (!zmo_sys_set_default_signals()) {
            std::fprintf(stderr, "Failed to setup signal handlers: %s.\n", zmo_sys_strerror(errno));
            return 1;
        }
        if (settings.ifname.empty()) {
            std::fputs("An interface name (-I) is a mandatory option.\n", stderr);
            return 1;
        }
        pppoe::Link link;
        link.ifindex = static_cast<int>(if_nametoindex(settings.ifname.c_str()));
        if (link.ifindex <= 0) {
            std::fprintf(stderr, "Interface \"%s\" not found.\n", settings.ifname.c_str());
            return 1;
        }
        if (!zmo_mac_socket_open(&link.socket, pppoe::kDiscoveryEthertype, &link.ifindex, &link.own_mac)) {
            std::fprintf(stderr, "Failed to open a layer 2 socket on %s: %s.\n", settings.ifname.c_str(),
                         zmo_sys_strerror(errno));
            return 1;
        }

        std::printf("Discovering PPPoE access concentrators on %s...\n", settings.ifname.c_str());
        pppoe::OfferList list;
        bool ok = pppoe::search(link, settings.wait_s, settings.period_ms(), &list, stdout, stderr);
        pppoe::print_summary(stdout, list);
        if (!settings.script.empty() && !list.offers().empty()) {
            std::string text;
            try {
                text = pppoe::feedback_text(settings.ifname, list);
            } catch (const std::bad_alloc &) {
                std::fputs("Not enough memory to generate an answer.\n", stderr);
            }
            const char *words[] = {settings.script.c_str(), nullptr};
            if (!text.empty() && !zmo_feedback(15000, 0, words, "%s", text.c_str())) {
                std::fprintf(stderr, "Failed to send a feedback: %s.\n", zmo_sys_strerror(errno));
                ok = false;
            }
        }
        zmo_mac_socket_close(&link.socket);
        return ok ? 0 : 1;
    } catch (const std::bad_alloc &) {
        std::fputs("Failed to allocate memory for a message.\n", stderr);
        return 1;
    }
}
