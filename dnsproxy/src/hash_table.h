// Hash table with incremental growth: when it fills, a doubled bucket array
// is allocated and nodes move over in bounded steps, one before every insert
// and apply, so no single call pays for a whole rehash.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <utility>

namespace dnsr {

// Where a table's memory comes from: the C library, or the accounted
// allocator that bounds the request road.
struct Allocator {
    void *(*alloc)(void *owner, size_t size);
    void (*free)(void *owner, void *block);
    void *owner;
};
Allocator plain_allocator();

uint32_t fletcher32(const uint16_t *words, size_t count);
// Fletcher-32 of an IPv6 address's eight words, or the IPv4 address itself.
uint32_t sockaddr_hash(const sockaddr_storage &sa);
// Family and address; the port does not count.
bool sockaddr_same_address(const sockaddr_storage &a, const sockaddr_storage &b);

struct AddressKeyTraits {
    static uint32_t hash(const sockaddr_storage &k) { return sockaddr_hash(k); }
    static bool equal(const sockaddr_storage &a, const sockaddr_storage &b)
    {
        return sockaddr_same_address(a, b);
    }
};
struct U32KeyTraits {
    static uint32_t hash(uint32_t k) { return k; }
    static bool equal(uint32_t a, uint32_t b) { return a == b; }
};

template <class K, class V, class Traits> class HashTable {
public:
    static constexpr unsigned kGrowPercent = 75;
    static constexpr size_t kMigrationBatch = 10000;

    explicit HashTable(size_t initial_buckets, Allocator a = plain_allocator())
        : alloc_(a), initial_(initial_buckets ? initial_buckets : 1)
    {
        make_array(cur_, initial_);
    }
    ~HashTable()
    {
        clear();
        release(cur_);
        release(next_);
    }
    HashTable(const HashTable &) = delete;
    HashTable &operator=(const HashTable &) = delete;

    bool ok() const { return cur_.heads != nullptr; }
    size_t size() const { return nodes_; }
    size_t buckets() const { return cur_.count; }
    bool migrating() const { return next_.heads != nullptr; }

    V *find(const K &key)
    {
        uint32_t h = Traits::hash(key);
        for (Array *a : {&cur_, &next_})
            if (a->heads)
                for (Node *n = a->heads[h % a->count]; n; n = n->next)
                    if (n->hash == h && Traits::equal(n->key, key))
                        return &n->value;
        return nullptr;
    }

    // fn(value, is_new) runs on every node with an equal key; with none and
    // insert set, on a new node. False when nothing ran.
    template <class F> bool apply(const K &key, bool insert, F fn)
    {
        migrate_step();
        uint32_t h = Traits::hash(key);
        bool found = false;
        for (Array *a : {&cur_, &next_})
            if (a->heads)
                for (Node *n = a->heads[h % a->count]; n; n = n->next)
                    if (n->hash == h && Traits::equal(n->key, key)) {
                        fn(n->value, false);
                        found = true;
                    }
        if (found || !insert)
            return found;
        Node *n = add_node(key, V{}, h);
        if (!n)
            return false;
        fn(n->value, true);
        return true;
    }

    // Sets the value of key, replacing an earlier one. False when out of memory.
    bool insert(const K &key, V value)
    {
        return apply(key, true, [&](V &v, bool) { v = std::move(value); });
    }

    template <class F> void visit(F fn)
    {
        for (Array *a : {&cur_, &next_})
            if (a->heads)
                for (size_t b = 0; b < a->count; b++)
                    for (Node *n = a->heads[b]; n; n = n->next)
                        fn(static_cast<const K &>(n->key), n->value);
    }

    // Frees every node for which fn(key, value) gives false.
    template <class F> void filter(F fn)
    {
        for (Array *a : {&cur_, &next_})
            if (a->heads)
                for (size_t b = 0; b < a->count; b++)
                    for (Node **link = &a->heads[b]; *link;) {
                        Node *n = *link;
                        if (fn(static_cast<const K &>(n->key), n->value)) {
                            link = &n->next;
                            continue;
                        }
                        *link = n->next;
                        if (!a->heads[b])
                            a->used--;
                        free_node(n);
                    }
    }

    void erase(const K &key)
    {
        filter([&](const K &k, V &) { return !Traits::equal(k, key); });
    }

    void clear()
    {
        filter([](const K &, V &) { return false; });
    }

    // Finishes a migration, then moves everything into the least power of two
    // of buckets that holds the occupied ones with a quarter to spare, when
    // that halves the array at least.
    void shrink()
    {
        while (migrating())
            migrate_step();
        size_t target = 1;
        size_t want = cur_.used + cur_.used * 25 / 100;
        while (target < want)
            target <<= 1;
        if (target < initial_)
            target = initial_;
        if (cur_.count / 2 < target)
            return;
        Array fresh;
        if (!make_array(fresh, target))
            return;
        move_all(cur_, fresh);
        release(cur_);
        cur_ = fresh;
    }

private:
    struct Node {
        Node *next;
        uint32_t hash;
        K key;
        V value;
    };
    struct Array {
        size_t used = 0;  // occupied buckets
        size_t count = 0;
        Node **heads = nullptr;
    };

    bool make_array(Array &a, size_t count)
    {
        auto **heads = static_cast<Node **>(alloc_.alloc(alloc_.owner, count * sizeof(Node *)));
        if (!heads)
            return false;
        for (size_t i = 0; i < count; i++)
            heads[i] = nullptr;
        a = Array{0, count, heads};
        return true;
    }
    void release(Array &a)
    {
        if (a.heads)
            alloc_.free(alloc_.owner, a.heads);
        a = Array{};
    }
    static void link(Array &a, Node *n)
    {
        Node *&head = a.heads[n->hash % a.count];
        if (!head)
            a.used++;
        n->next = head;
        head = n;
    }
    static void move_all(Array &from, Array &to)
    {
        for (size_t b = 0; b < from.count; b++)
            for (Node *n = from.heads[b]; n;) {
                Node *next = n->next;
                link(to, n);
                n = next;
            }
    }
    Node *add_node(const K &key, V value, uint32_t h)
    {
        void *mem = alloc_.alloc(alloc_.owner, sizeof(Node));
        if (!mem)
            return nullptr;
        Node *n = new (mem) Node{nullptr, h, key, std::move(value)};
        nodes_++;
        if (migrating()) {
            link(next_, n);
            return n;
        }
        link(cur_, n);
        if (cur_.used * 100 / cur_.count >= kGrowPercent)
            make_array(next_, cur_.count * 2);  // failure: the table stays as it is
        pos_ = 0;
        return n;
    }
    void free_node(Node *n)
    {
        n->~Node();
        alloc_.free(alloc_.owner, n);
        nodes_--;
    }
    void migrate_step()
    {
        if (!migrating())
            return;
        size_t moved = 0;
        while (pos_ < cur_.count && moved < kMigrationBatch) {
            for (Node *n = cur_.heads[pos_]; n;) {
                Node *next = n->next;
                link(next_, n);
                moved++;
                n = next;
            }
            if (cur_.heads[pos_]) {
                cur_.heads[pos_] = nullptr;
                cur_.used--;
            }
            pos_++;
        }
        if (moved == 0) {
            release(cur_);
            cur_ = next_;
            next_ = Array{};
            pos_ = 0;
        }
    }

    Allocator alloc_;
    size_t initial_;
    Array cur_, next_;
    size_t pos_ = 0;
    size_t nodes_ = 0;
};

}  // namespace dnsr
