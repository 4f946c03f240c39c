// Statistics file.
#include "stats_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace dnsr {

namespace {
__attribute__((format(printf, 2, 3))) void append(std::string &out, const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0)
        out.append(buf, size_t(n) < sizeof buf ? size_t(n) : sizeof buf - 1);
}
}  // namespace

std::string stats_text(const ProcessCounters &c, uint64_t mem_in_use, uint32_t max_mem, UpstreamStats &stats)
{
    float ratio = c.incoming ? float(c.cache_hits) / float(c.incoming) : 0.0f;
    char mem[96];
    if (max_mem > 0)
        snprintf(mem, sizeof mem, "%.2fK of %.2fK", double(mem_in_use) / 1024.0, double(max_mem) / 1024.0);
    else
        snprintf(mem, sizeof mem, "%.2fK", double(mem_in_use) / 1024.0);
    std::string out;
    append(out,
           "# dnsrelayd statistics file\n\nTotal incoming requests: %zu\nProxy requests sent:     %zu\n"
           "Cache hits ratio:        %.3f (%zu)\nMemory usage:            %s\n\nDNS Servers\n\n",
           c.incoming, c.proxied, double(ratio), c.cache_hits, mem);
    append(out, "%24s  %6s  %6s  %6s  %8s  %8s  %4s  \n", "Ip", "R.Sent", "A.Rcvd", "NX.Rcvd", "Med.Resp",
           "Avg.Resp", "Rank");
    stats.visit([&](ServerStats &s) {
        stats_summarize(s);
        char addr[ZMO_IP_ADDRSTRLEN];
        append(out, "%24s  %6zu  %6zu  %7zu  %6ums  %6ums  %4zu  \n",
               zmo_ip_sockaddr_ntop(&s.address, addr, sizeof addr), size_t(s.sent), size_t(s.answered),
               size_t(s.nxdomain), s.median, s.average, size_t(s.rank));
    });
    return out;
}

bool stats_write_file(const std::string &path, const ProcessCounters &c, uint64_t mem_in_use,
                      uint32_t max_mem, UpstreamStats &stats)
{
    std::string text = stats_text(c, mem_in_use, max_mem, stats);
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        zmo_log(ZMO_LOG_ERROR, "unable to write stats to %s because of %s", path.c_str(),
                zmo_sys_strerror(errno));
        return false;
    }
    fchmod(fd, 0644);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    int err = done == text.size() ? 0 : errno ? errno : EIO;
    if (close(fd) != 0 && !err)
        err = errno;
    if (!err && rename(tmp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err) {
        unlink(tmp.c_str());
        zmo_log(ZMO_LOG_ERROR, "unable to write stats to %s because of %s", path.c_str(),
                zmo_sys_strerror(err));
        return false;
    }
    return true;
}

}  // namespace dnsr
