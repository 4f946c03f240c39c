// Feeds arbitrary bytes to the codec as a message. Whatever parses must
// rebuild, record by record, into a message that parses to the same text;
// a message that passes the whole-message check has nothing in it that the
// typed parsers refuse.
#include "dns.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c += 32;
    return s;
}

// Names compress case-insensitively, so a rebuilt name may take the case
// of an earlier one: compare the text without case.
std::vector<std::string> print_all(dns_packet *P)
{
    std::vector<std::string> out;
    std::vector<char> buf(1 << 17);
    dns_rr_i it{};
    dns_rr rr;
    while (dns_rr_next(&it, P, &rr) == 1) {
        if (dns_rr_print(buf.data(), buf.size(), &rr, P) != 0)
            abort();
        out.push_back(lower(buf.data()));
    }
    return out;
}

// The record data that the whole-message check walks by its TYPE.
bool checked_type(const dns_rr &rr)
{
    switch (rr.type) {
    case DNS_T_A:
    case DNS_T_AAAA:
        return rr.class_ == DNS_C_IN;
    case DNS_T_NS:
    case DNS_T_CNAME:
    case DNS_T_PTR:
    case DNS_T_MX:
    case DNS_T_SOA:
    case DNS_T_SRV:
    case DNS_T_TXT:
    case DNS_T_SPF:
        return true;
    default:
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    std::vector<unsigned char> inmem(dns_p_calcsize(size + 16));
    dns_packet *in = dns_p_init(inmem.data(), inmem.size());
    if (!in || dns_p_load(in, data, size) != 0)
        abort();

    // Every way of looking at the message must stay inside it.
    char name[DNS_D_MAXTEXT];
    for (size_t off = 0; off < size && off < 512; off++) {
        uint16_t next;
        if (dns_d_skip(uint16_t(off), in, &next) == 0 && next > size)
            abort();
        size_t len = 0;
        int expanded = dns_d_expand(name, sizeof name, uint16_t(off), in, &len);
        if (expanded == 0 && strlen(name) != len)
            abort();
        unsigned char wire[DNS_D_MAXNAME];
        size_t wire_len = 0;
        if ((dns_d_copy(wire, uint16_t(off), in, &wire_len) == 0) != (expanded == 0) ||
            wire_len > DNS_D_MAXNAME)
            abort();
    }
    const bool well_formed = dns_p_check(in) == 0;
    uint32_t ttl = 0;
    int least = dns_p_min_answer_ttl(in, &ttl);
    if ((least < 0 && well_formed) || (least > 0 && ttl > 0x7fffffffu))
        abort();
    (void)dns_p_edns_size(in);

    std::vector<unsigned char> outmem(dns_p_calcsize(65535));
    dns_packet *out = dns_p_init(outmem.data(), outmem.size());
    dns_p_setid(out, dns_p_id(in));
    dns_p_setflags(out, dns_p_flags(in));
    auto any = std::make_unique<dns_any>();
    dns_rr_i it{};
    dns_rr rr;
    int rc;
    while ((rc = dns_rr_next(&it, in, &rr)) == 1) {
        if (dns_d_expand(name, sizeof name, rr.dn.p, in, nullptr) != 0) {
            if (well_formed)
                abort();
            return 0;
        }
        if (rr.section == DNS_S_QD) {
            rc = dns_p_push_question(out, name, rr.type, rr.class_);
        } else if (dns_type_known(rr.type)) {
            if (dns_any_parse(any.get(), &rr, in) != 0) {
                if (well_formed && checked_type(rr))
                    abort();
                return 0;  // the record's data is malformed: nothing to rebuild
            }
            rc = dns_p_push(out, rr.section, name, rr.type, rr.class_, rr.ttl, any.get());
        } else {
            rc = dns_p_push_raw(out, rr.section, name, rr.type, rr.class_, rr.ttl, dns_p_cdata(in) + rr.rd.p,
                                rr.rd.len);
        }
        if (rc != 0)
            abort();
    }
    if (rc < 0) {
        if (well_formed)
            abort();
        return 0;
    }
    if (print_all(in) != print_all(out))
        abort();
    return 0;
}
