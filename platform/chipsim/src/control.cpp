// Commands of the test bench: reset line, fault injection, memory access.
#include "chipsim/chip.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace chipsim {

namespace {

bool number(const std::string &text, unsigned long max, uint32_t &out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || v > max)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool memory(const std::string &text, uint32_t &out)
{
    if (text == "x" || text == "X")
        out = 0;
    else if (text == "y" || text == "Y")
        out = 1;
    else if (text == "p" || text == "P")
        out = 2;
    else
        return number(text, 2, out);
    return true;
}

const char *state_name(State s)
{
    switch (s) {
    case State::Held:
        return "held";
    case State::Boot:
        return "boot";
    case State::Running:
        return "running";
    }
    return "?";
}

}  // namespace

std::string Chip::control(const std::string &command)
{
    std::istringstream in(command);
    std::string verb, a, b, c, d;
    in >> verb >> a >> b >> c >> d;
    uint32_t m = 0, addr = 0, v = 0;
    char buf[96];

    if (verb == "reset") {
        if (a == "high")
            set_reset_line(true);
        else if (a == "low")
            set_reset_line(false);
        else if (a == "pulse") {
            set_reset_line(false);
            set_reset_line(true);
        } else
            return "err reset high|low|pulse";
        return std::string("ok ") + state_name(state_);
    }
    if (verb == "fault") {
        Fault f;
        std::string count;
        if (a == "none") {
        } else if (a == "silent") {
            f.kind = Fault::Silent;
            count = b;
        } else if (a == "dup") {
            f.kind = Fault::Duplicate;
            count = b;
        } else if (a == "badfcs") {
            f.kind = Fault::BadFcs;
            count = b;
        } else if (a == "delay" && number(b, 60000, f.delay_ms)) {
            f.kind = Fault::Delay;
            count = c;
        } else {
            return "err fault none|silent [N]|dup [N]|badfcs [N]|delay MS [N]";
        }
        if (!count.empty() && !number(count, 1000000, f.count))
            return "err bad count";
        set_fault(f);
        return "ok";
    }
    if (verb == "peek" && memory(a, m) && number(b, 0xFFFF, addr)) {
        std::snprintf(buf, sizeof buf, "ok %06x", peek(m, addr));
        return buf;
    }
    if (verb == "poke" && memory(a, m) && number(b, 0xFFFF, addr) && number(c, 0xFFFFFF, v)) {
        poke(m, addr, v);
        return "ok";
    }
    // "fill MEM ADDR COUNT VALUE": a run of words, as long tables are set.
    uint32_t n = 0;
    if (verb == "fill" && memory(a, m) && number(b, 0xFFFF, addr) && number(c, 0x10000, n) &&
        number(d, 0xFFFFFF, v)) {
        for (uint32_t i = 0; i < n && addr + i < kWords; i++)
            poke(m, addr + i, v);
        return "ok";
    }
    if (verb == "state")
        return std::string("ok ") + state_name(state_);
    if (verb == "stats") {
        std::snprintf(buf, sizeof buf, "ok requests=%llu bad_fcs=%llu replies=%llu boot=%llu",
                      static_cast<unsigned long long>(stats_.ebm_requests),
                      static_cast<unsigned long long>(stats_.bad_fcs),
                      static_cast<unsigned long long>(stats_.replies),
                      static_cast<unsigned long long>(stats_.boot_frames));
        return buf;
    }
    return firmware_control(verb, a, b, c);
}

// Bench commands of the firmware: layout, timing, counters, far-end words.
std::string Chip::firmware_control(const std::string &verb, const std::string &a, const std::string &b,
                                   const std::string &c)
{
    uint32_t v = 0, w = 0;
    if (verb == "entry") {
        std::map<std::string, int32_t *> names = {{"host_command", &layout_.host_command},
                                                  {"host_go", &layout_.host_go},
                                                  {"phy_status", &layout_.phy_status},
                                                  {"mbox_request", &layout_.mbox_request},
                                                  {"mbox_command", &layout_.mbox_command},
                                                  {"mbox_tag", &layout_.mbox_tag},
                                                  {"mbox_data", &layout_.mbox_data},
                                                  {"ldsf", &layout_.ldsf},
                                                  {"ldsf_state", &layout_.ldsf_state},
                                                  {"tone_request", &layout_.tone_request},
                                                  {"segment", &layout_.segment},
                                                  {"bits_gain", &layout_.bits_gain},
                                                  {"hlog", &layout_.hlog},
                                                  {"selt_status", &layout_.selt_status}};
        auto it = names.find(a);
        if (it == names.end() || !number(b, 0xFFFF, v))
            return "err entry NAME ADDR";
        *it->second = static_cast<int32_t>(v);
        return "ok";
    }
    if (verb == "hostcmd") {
        if (a == "stuck" && (b == "on" || b == "off"))
            timing_.go_stuck = b == "on";
        else if (a == "delay" && number(b, 60000, v))
            timing_.go_ms = v;
        else if (a == "phase" && number(b, 60000, v))
            timing_.phase_ms = v;
        else
            return "err hostcmd stuck on|off|delay MS|phase MS";
        return "ok";
    }
    if (verb == "mailbox") {
        if (a == "refuse" && (b == "on" || b == "off"))
            timing_.mbox_refuse = b == "on";
        else if (a == "delay" && number(b, 60000, v))
            timing_.mbox_ms = v;
        else
            return "err mailbox refuse on|off|delay MS";
        return "ok";
    }
    if (verb == "delt") {
        if (a == "done")
            timing_.delt = DeltOutcome::Done;
        else if (a == "fail")
            timing_.delt = DeltOutcome::Failed;
        else if (a == "silent")
            timing_.delt = DeltOutcome::NoHandshake;
        else if (a == "time" && number(b, 600000, v))
            timing_.delt_ms = v;
        else
            return "err delt done|fail|silent|time MS";
        return "ok";
    }
    if (verb == "selt" && a == "flags" && number(b, 0x7FFFFF, v)) {
        timing_.selt_flags = v;
        return "ok";
    }
    if (verb == "far" && a == "poke" && number(b, 0xFFFF, v) && number(c, 0xFFFFFF, w)) {
        far_poke(v, w);
        return "ok";
    }
    if (verb == "counter") {
        uint32_t m = 0;
        if (!memory(a, m) || !number(b, 0xFFFF, v) || !number(c, 0xFFFFFF, w))
            return "err counter MEM ADDR STEP";
        set_counter(m, v, w);
        return "ok";
    }
    if (verb == "service")
        return service_control(a, b);
    if (verb == "line") {
        advance();
        char buf[64];
        std::snprintf(buf, sizeof buf, "ok phase=%u commands=%zu", static_cast<unsigned>(phase()),
                      commands_.size());
        return buf;
    }
    return "err unknown command";
}

// "service": the record in hex; "service FIELD TEXT" sets one field (cut
// at its width, zero-filled; "-" for empty); "service refuse on|off".
std::string Chip::service_control(const std::string &a, const std::string &b)
{
    static const struct {
        const char *name;
        size_t offset, width;
    } kFields[] = {
        {"tag", 0, 32}, {"host", 32, 48}, {"pass", 80, 32}, {"hwid", 112, 32}, {"checksum", 144, 32}};
    if (a.empty()) {
        if (service_refused_)
            return "err refused";
        std::string out = "ok ";
        char two[3];
        for (uint8_t byte : service_) {
            std::snprintf(two, sizeof two, "%02x", byte);
            out += two;
        }
        return out;
    }
    if (a == "refuse" && (b == "on" || b == "off")) {
        service_refused_ = b == "on";
        return "ok";
    }
    for (const auto &f : kFields) {
        if (a != f.name || b.empty())
            continue;
        std::string text = b == "-" ? "" : b;
        std::fill_n(service_.begin() + static_cast<long>(f.offset), f.width, 0);
        std::copy_n(text.begin(), std::min(text.size(), f.width),
                    service_.begin() + static_cast<long>(f.offset));
        return "ok";
    }
    return "err service [tag|host|pass|hwid|checksum TEXT | refuse on|off]";
}

}  // namespace chipsim
