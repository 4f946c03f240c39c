// Extended regular expressions over the C library's.
#include "core_impl.h"
#include "zmocore/regex.h"

#include <regex.h>

namespace Regex {

struct Expression::Impl {
    regex_t re;
};

Expression::Expression(const String &pattern)
{
    if (::Core::Fail("regex.compile"))
        return;
    impl_ = new (std::nothrow) Impl;
    if (!impl_)
        return;
    if (regcomp(&impl_->re, pattern.c_str(), REG_EXTENDED) != 0) {
        delete impl_;
        impl_ = nullptr;
        return;
    }
    ok_ = true;
}

Expression::~Expression()
{
    if (impl_) {
        regfree(&impl_->re);
        delete impl_;
    }
}

ReturnT Expression::Match(const String &text, StringVector &groups) const
{
    if (!ok_)
        return static_cast<ReturnT>(FAILURE);
    if (::Core::Fail("regex.match"))
        return static_cast<ReturnT>(NO_MEMORY);
    regmatch_t m[10];
    int r = regexec(&impl_->re, text.c_str(), 10, m, 0);
    if (r == REG_NOMATCH)
        return static_cast<ReturnT>(NO_MATCH);
    if (r == REG_ESPACE)
        return static_cast<ReturnT>(NO_MEMORY);
    if (r != 0)
        return static_cast<ReturnT>(FAILURE);
    try {
        groups.clear();
        for (const regmatch_t &g : m) {
            if (g.rm_so < 0)
                break;
            groups.push_back(
                text.substr(static_cast<size_t>(g.rm_so), static_cast<size_t>(g.rm_eo - g.rm_so)));
        }
    } catch (...) {
        return static_cast<ReturnT>(NO_MEMORY);
    }
    return static_cast<ReturnT>(MATCH);
}

}  // namespace Regex

Cifs::Server::~Server() = default;
Object::~Object() = default;
