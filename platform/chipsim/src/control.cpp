// Commands of the test bench: reset line, fault injection, memory access.
#include "chipsim/chip.hpp"

#include <cstdio>
#include <cstdlib>
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

} // namespace

std::string Chip::control(const std::string &command)
{
    std::istringstream in(command);
    std::string verb, a, b, c;
    in >> verb >> a >> b >> c;
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
    return "err unknown command";
}

} // namespace chipsim
