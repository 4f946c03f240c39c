// Radix trie over reversed, lower-cased domain names: the longest stored
// suffix of a name is found in one walk from the root.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace dnsr {

// "A.Bc.d." -> ".d.cb.a": a dot, then the name's characters reversed and
// lower-cased without its trailing dot. An escaped dot inside a label
// becomes "\046" first so that every "." in a key is a label boundary.
// False when the key would pass 254 characters after its leading dot.
bool domain_key(std::string_view name, std::string &key);

template <class V> class DomainTrie {
public:
    struct Match {
        const V *value = nullptr;
        bool exact = false;  // the stored name is the looked-up name itself
    };

    // A key that exists gets the new value.
    void insert(std::string_view key, V value)
    {
        Node *parent = &root_;
        for (;;) {
            Node *c = parent->child.get();
            size_t l = 0;
            for (; c; c = c->sibling.get())
                if ((l = common(c->label, key)) > 0)
                    break;
            if (!c) {
                auto n = std::make_unique<Node>();
                n->label = std::string(key);
                n->value = std::make_unique<V>(std::move(value));
                n->sibling = std::move(parent->child);
                parent->child = std::move(n);
                return;
            }
            if (l < c->label.size()) {
                // Split: the upper part keeps the shared start, the lower the rest.
                auto lower = std::make_unique<Node>();
                lower->label = c->label.substr(l);
                lower->value = std::move(c->value);
                lower->child = std::move(c->child);
                c->label.resize(l);
                c->child = std::move(lower);
            }
            key.remove_prefix(l);
            if (key.empty()) {
                c->value = std::make_unique<V>(std::move(value));
                return;
            }
            parent = c;
        }
    }

    // fn(value, exact) for every stored name that is the key itself or a
    // whole-label suffix of it, shallowest first: a trie holding ".x.b"
    // answers ".x.b.a" but not ".x.ba". The root key "." holds for every name.
    template <class F> void matches(std::string_view key, F fn) const
    {
        const Node *parent = &root_;
        size_t pos = 0;
        while (pos < key.size()) {
            const Node *c = parent->child.get();
            while (c && c->label[0] != key[pos])
                c = c->sibling.get();
            if (!c || key.compare(pos, c->label.size(), c->label) != 0)
                break;
            pos += c->label.size();
            if (c->value && (pos == key.size() || key[pos] == '.' || key[pos - 1] == '.'))
                fn(static_cast<const V &>(*c->value), pos == key.size());
            parent = c;
        }
    }

    // The deepest of those matches.
    Match lookup(std::string_view key) const
    {
        Match best;
        matches(key, [&](const V &v, bool exact) { best = Match{&v, exact}; });
        return best;
    }

    V *find_exact(std::string_view key)
    {
        Match m = lookup(key);
        return m.exact ? const_cast<V *>(m.value) : nullptr;
    }

    bool empty() const { return !root_.child; }
    void clear() { root_.child.reset(); }

    // fn(key, value) on every stored value.
    template <class F> void visit(F fn) const
    {
        std::string key;
        walk(&root_, key, fn);
    }

private:
    struct Node {
        std::unique_ptr<Node> child, sibling;
        std::string label;
        std::unique_ptr<V> value;  // none: only a branch point
        ~Node()
        {
            // Siblings can be long (thousands of domains under one parent):
            // unlink them in a loop, not by recursion.
            while (sibling) {
                auto next = std::move(sibling->sibling);
                sibling = std::move(next);
            }
        }
    };

    static size_t common(const std::string &a, std::string_view b)
    {
        size_t n = 0;
        while (n < a.size() && n < b.size() && a[n] == b[n])
            n++;
        return n;
    }

    template <class F> static void walk(const Node *parent, std::string &key, F &fn)
    {
        for (const Node *c = parent->child.get(); c; c = c->sibling.get()) {
            size_t len = key.size();
            key += c->label;
            if (c->value)
                fn(std::string_view(key), *c->value);
            walk(c, key, fn);
            key.resize(len);
        }
    }

    Node root_;
};

}  // namespace dnsr
