// Extended regular expressions with the framework's result codes.
#ifndef ZMOCORE_REGEX_H
#define ZMOCORE_REGEX_H

#include "zmocore/base.h"

namespace Regex {

constexpr uint32_t MATCH = 0x00390001u;
constexpr uint32_t NO_MEMORY = 0xc0390001u;
constexpr uint32_t NO_MATCH = 0x80390002u;
constexpr uint32_t FAILURE = 0x80390003u;

class ZMOCORE_API Expression {
public:
    explicit Expression(const String &pattern);
    ~Expression();
    Expression(const Expression &) = delete;
    Expression &operator=(const Expression &) = delete;
    bool Initialized() const { return ok_; }
    // MATCH with groups[0] the whole match and groups[n] the n-th group;
    // NO_MATCH, NO_MEMORY or FAILURE otherwise.
    ReturnT Match(const String &text, StringVector &groups) const;

private:
    struct Impl;
    Impl *impl_ = nullptr;
    bool ok_ = false;
};

}  // namespace Regex

#endif
