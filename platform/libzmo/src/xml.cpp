// A small XML reader: elements, attributes, text, entities, CDATA; no DTDs.
#include <cerrno>
#include <cstring>
#include <string>

#include "pool.h"

namespace {
constexpr int kMaxDepth = 64;

class Reader {
public:
    Reader(zmo_pool_t *pool, const char *text, size_t len) : pool_(pool), p_(text), end_(text + len) {}

    zmo_xml_node *document()
    {
        skip_misc();
        zmo_xml_node *root = element(0);
        if (!root)
            return nullptr;
        skip_misc();
        return p_ == end_ ? root : nullptr;
    }

private:
    bool starts(const char *s) const
    {
        size_t n = std::strlen(s);
        return static_cast<size_t>(end_ - p_) >= n && std::memcmp(p_, s, n) == 0;
    }
    bool skip_past(const char *s)
    {
        size_t n = std::strlen(s);
        for (const char *q = p_; static_cast<size_t>(end_ - q) >= n; ++q) {
            if (std::memcmp(q, s, n) == 0) {
                p_ = q + n;
                return true;
            }
        }
        return false;
    }
    void skip_space()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n'))
            ++p_;
    }
    // Declarations, processing instructions, comments and white space.
    void skip_misc()
    {
        for (;;) {
            skip_space();
            if (starts("<?")) {
                if (!skip_past("?>"))
                    return;
            } else if (starts("<!--")) {
                if (!skip_past("-->"))
                    return;
            } else if (starts("<!DOCTYPE")) {
                if (!skip_past(">"))
                    return;
            } else {
                return;
            }
        }
    }
    static bool name_char(char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
    }
    bool name(std::string *out)
    {
        const char *start = p_;
        while (p_ < end_ && name_char(*p_))
            ++p_;
        if (p_ == start || (*start >= '0' && *start <= '9') || *start == '-' || *start == '.')
            return false;
        out->assign(start, p_);
        return true;
    }
    static void put_utf8(std::string *out, unsigned long cp)
    {
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xc0 | cp >> 6));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xe0 | cp >> 12));
            out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3f)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        } else {
            out->push_back(static_cast<char>(0xf0 | cp >> 18));
            out->push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3f)));
            out->push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3f)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        }
    }
    // At '&': decodes one reference into out.
    bool entity(std::string *out)
    {
        const char *semi = static_cast<const char *>(std::memchr(p_, ';', static_cast<size_t>(end_ - p_)));
        if (!semi || semi - p_ > 12)
            return false;
        std::string ref(p_ + 1, semi);
        p_ = semi + 1;
        if (ref == "lt")
            out->push_back('<');
        else if (ref == "gt")
            out->push_back('>');
        else if (ref == "amp")
            out->push_back('&');
        else if (ref == "quot")
            out->push_back('"');
        else if (ref == "apos")
            out->push_back('\'');
        else if (ref.size() > 1 && ref[0] == '#') {
            bool hex = ref[1] == 'x';
            const char *digits = ref.c_str() + (hex ? 2 : 1);
            if (!*digits)
                return false;
            char *stop;
            unsigned long cp = std::strtoul(digits, &stop, hex ? 16 : 10);
            if (*stop || cp == 0 || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
                return false;
            put_utf8(out, cp);
        } else {
            return false;
        }
        return true;
    }
    bool attributes(zmo_xml_node *node)
    {
        for (;;) {
            skip_space();
            if (p_ >= end_)
                return false;
            if (*p_ == '>' || *p_ == '/')
                return true;
            std::string key, value;
            if (!name(&key))
                return false;
            skip_space();
            if (p_ >= end_ || *p_ != '=')
                return false;
            ++p_;
            skip_space();
            if (p_ >= end_ || (*p_ != '"' && *p_ != '\''))
                return false;
            char quote = *p_++;
            while (p_ < end_ && *p_ != quote) {
                if (*p_ == '<')
                    return false;
                if (*p_ == '&') {
                    if (!entity(&value))
                        return false;
                } else {
                    value.push_back(*p_++);
                }
            }
            if (p_ >= end_)
                return false;
            ++p_;
            node->attributes.emplace_back(std::move(key), std::move(value));
        }
    }
    // At '<' of a start tag.
    zmo_xml_node *element(int depth)
    {
        if (depth >= kMaxDepth || p_ >= end_ || *p_ != '<')
            return nullptr;
        ++p_;
        zmo_xml_node *node = pool_->new_xml();
        if (!name(&node->name) || !attributes(node))
            return nullptr;
        if (*p_ == '/') {
            ++p_;
            if (p_ >= end_ || *p_ != '>')
                return nullptr;
            ++p_;
            return node;
        }
        ++p_;  // '>'
        while (p_ < end_) {
            if (starts("</")) {
                p_ += 2;
                std::string closing;
                if (!name(&closing) || closing != node->name)
                    return nullptr;
                skip_space();
                if (p_ >= end_ || *p_ != '>')
                    return nullptr;
                ++p_;
                return node;
            }
            if (starts("<!--")) {
                if (!skip_past("-->"))
                    return nullptr;
            } else if (starts("<![CDATA[")) {
                const char *start = p_ + 9;
                p_ = start;
                if (!skip_past("]]>"))
                    return nullptr;
                node->value.append(start, p_ - 3);
            } else if (starts("<?")) {
                if (!skip_past("?>"))
                    return nullptr;
            } else if (*p_ == '<') {
                zmo_xml_node *child = element(depth + 1);
                if (!child)
                    return nullptr;
                child->parent = node;
                node->children.push_back(child);
            } else if (*p_ == '&') {
                if (!entity(&node->value))
                    return nullptr;
            } else {
                node->value.push_back(*p_++);
            }
        }
        return nullptr;
    }

    zmo_pool_t *pool_;
    const char *p_;
    const char *end_;
};

bool matches(const zmo_xml_node *n, const char *name) { return !name || n->name == name; }
}  // namespace

extern "C" {

zmo_xml_node_t *zmo_xml_parse(zmo_pool_t *pool, const char *text, size_t len)
{
    if (!pool || !text) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        zmo_xml_node_t *root = Reader(pool, text, len).document();
        if (!root)
            errno = EBADMSG;
        return root;
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
}

zmo_xml_node_t *zmo_xml_node_first_child(const zmo_xml_node_t *node, const char *name)
{
    if (!node)
        return nullptr;
    for (zmo_xml_node *c : node->children)
        if (matches(c, name))
            return c;
    return nullptr;
}

zmo_xml_node_t *zmo_xml_node_next_sibling(const zmo_xml_node_t *node, const char *name)
{
    if (!node || !node->parent)
        return nullptr;
    const auto &siblings = node->parent->children;
    bool after = false;
    for (zmo_xml_node *c : siblings) {
        if (after && matches(c, name))
            return c;
        if (c == node)
            after = true;
    }
    return nullptr;
}

const char *zmo_xml_node_name(const zmo_xml_node_t *node) { return node ? node->name.c_str() : nullptr; }
const char *zmo_xml_node_value(const zmo_xml_node_t *node) { return node ? node->value.c_str() : nullptr; }

const char *zmo_xml_node_attribute(const zmo_xml_node_t *node, const char *name)
{
    if (!node || !name)
        return nullptr;
    for (const auto &a : node->attributes)
        if (a.first == name)
            return a.second.c_str();
    return nullptr;
}

}  // extern "C"
