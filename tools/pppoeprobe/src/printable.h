// Texts from the wire go into report lines and KEY=value lines: a control
// byte there could end a line early or start a forged one.
#pragma once

#include <string>
#include <string_view>

namespace pppoe {

inline std::string printable(std::string_view s)
{
    std::string out(s);
    for (char &c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            c = '_';
    }
    return out;
}

}  // namespace pppoe
