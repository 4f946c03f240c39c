// Domain keys and the longest-suffix walk of the trie.
#include "domain_trie.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string key(const char *name)
{
    std::string k;
    EXPECT_TRUE(dnsr::domain_key(name, k)) << name;
    return k;
}

TEST(DomainKey, ReversedLowerCasedWithoutTrailingDot)
{
    EXPECT_EQ(".d.cb.a", key("A.Bc.d."));
    EXPECT_EQ(".d.cb.a", key("a.bc.d"));
    EXPECT_EQ(".", key(""));
    EXPECT_EQ(".", key("."));
    EXPECT_EQ(".x640\\a", key("a\\.x"));  // one label "a.x": its dot is no boundary
    EXPECT_EQ(".x.640\\a", key("a\\..x"));
    std::string k;
    EXPECT_TRUE(dnsr::domain_key(std::string(254, 'a'), k));
    EXPECT_EQ(255u, k.size());
    EXPECT_FALSE(dnsr::domain_key(std::string(255, 'a'), k));
}

struct Trie {
    dnsr::DomainTrie<std::string> t;
    void add(const char *name) { t.insert(key(name), name); }
    std::pair<std::string, bool> find(const char *name)
    {
        auto m = t.lookup(key(name));
        return {m.value ? *m.value : std::string("-"), m.exact};
    }
};

TEST(DomainTrie, LongestSuffixAtLabelBoundaries)
{
    Trie t;
    for (const char *n : {"ab.x", "c.ab.x", "corp.example", "b.x", "example.org", "exam.org"})
        t.add(n);
    struct Case {
        const char *name;
        std::string match;
        bool exact;
    } cases[] = {
        {"c.b.x", "b.x", false},  // .x.b.c: not below ab.x or c.ab.x
        {"w.ab.x", "ab.x", false},
        {"ab.x", "ab.x", true},
        {"C.AB.X.", "c.ab.x", true},
        {"d.c.ab.x", "c.ab.x", false},
        {"cab.x", "-", false},  // ".x.bac" shares ".x.ba" but not a label
        {"evilcorp.example", "-", false},
        {"www.corp.example", "corp.example", false},
        {"xb.x", "-", false},
        {"org", "-", false},
        {"mple.org", "-", false},
        {"am.org", "-", false},
        {"a.exam.org", "exam.org", false},
        {"y", "-", false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto got = t.find(c.name);
        EXPECT_EQ(c.match, got.first);
        if (got.first != "-") {
            EXPECT_EQ(c.exact, got.second);
        }
    }
}

TEST(DomainTrie, RootKeyMatchesEverythingAndSplitsKeepValues)
{
    Trie t;
    t.add("");
    EXPECT_EQ("", t.find("anything.test").first);
    t.add("abcd.x");
    t.add("abce.x");  // splits the label of abcd.x after ".x.ecba" vs ".x.dcba"
    t.add("x");       // value on a node that was only a branch point
    EXPECT_EQ(std::make_pair(std::string("abcd.x"), true), t.find("abcd.x"));
    EXPECT_EQ(std::make_pair(std::string("abce.x"), true), t.find("abce.x"));
    EXPECT_EQ(std::make_pair(std::string("x"), false), t.find("abcf.x"));
    EXPECT_EQ(std::make_pair(std::string(""), false), t.find("y"));
    t.t.insert(key("abcd.x"), "again");
    EXPECT_EQ("again", t.find("q.abcd.x").first);

    std::map<std::string, std::string> all;
    t.t.visit([&](std::string_view k, const std::string &v) { all[std::string(k)] = v; });
    EXPECT_EQ((std::map<std::string, std::string>{
                  {".", ""}, {".x", "x"}, {".x.dcba", "again"}, {".x.ecba", "abce.x"}}),
              all);
}

TEST(DomainTrie, ManySiblingsFreeWithoutDeepRecursion)
{
    auto t = std::make_unique<dnsr::DomainTrie<int>>();
    for (int i = 0; i < 200000; i++)
        t->insert(key(("h" + std::to_string(i) + ".test").c_str()), i);
    EXPECT_EQ(123, *t->lookup(key("h123.test")).value);
    t.reset();
}

}  // namespace
