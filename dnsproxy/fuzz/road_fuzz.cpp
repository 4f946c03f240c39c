// Arbitrary bytes as a client's query, then as an upstream answer to the try
// it made, then as the text of an answer, under a small memory limit: no
// crash, no leak, and the accounted memory all given back when the road is
// done with it.
#include "server.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = [] {
        zmo_log_init("road_fuzz", nullptr, 0, 0);
        return true;
    }();
    (void)quiet;
    if (size > dnsr::kMaxUdpMessage)
        return 0;
    {
        dnsr::Server s{dnsr::Options{}};
        s.cfg = std::make_unique<dnsr::Config>(false);
        dnsr::config_read_text(*s.cfg, "dns_server = 127.0.0.1:9\nstatic_a = *.lan 10.0.0.1\n", "fuzz");
        dnsr::config_finish(*s.cfg);
        s.stats = std::make_unique<dnsr::UpstreamStats>(dnsr::config_servers(*s.cfg));
        // A small limit: requests, answers and cache records run into the
        // purge, which the delivery of an answer may set off.
        s.acc.set_limit(uint32_t(s.acc.in_use() + 1024 + (size % 4) * 1024));
        zmo_ip_sockaddr_t client = *ZMO_IP_SOCKADDR_ANY, server = s.cfg->pool[0];
        zmo_ip_sockaddr_pton("127.0.0.2", &client);
        std::vector<uint8_t> msg(data, data + size);
        msg.resize(size + dnsr::kOptionRecordSize);
        dnsr::road_query(s, msg.data(), size, dnsr::kKindUdp, dnsr::kSlotUdp4, client, nullptr, 0, nullptr);
        // The same bytes as the answer (QR set), under the id of every
        // pending try, before the try timers run: there is no socket here,
        // so the sends are taken as gone out.
        std::vector<uint32_t> ids;
        s.road.pending.visit([&](const uint32_t &id, dnsr::Pending &p) {
            if (p.sent || p.done)
                return;
            p.sent = true;
            p.req->in_flight++;
            ids.push_back(id);
        });
        for (uint32_t id : ids) {
            std::vector<uint8_t> a(data, data + size);
            if (a.size() >= 3) {
                a[0] = uint8_t(id >> 8);
                a[1] = uint8_t(id);
                a[2] |= 0x80;
            }
            dnsr::road_answer(s, a.data(), a.size(), server, 0, false);
        }
        dnsr::road_end_of_round(s);
        s.timers.run_immediate(s);
        dnsr::road_pending_check(s);
        dnsr::text_format(data, size);
    }
    return 0;
}
