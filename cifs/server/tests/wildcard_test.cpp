// The wildcard matcher against a table of cases and a pathological pattern,
// directory walks over real folders, and destination names built from a
// mask.
#include "server_fixture.h"
#include "syfiles.h"

#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

using namespace server_test;

namespace {

struct MatchCase {
    const char *pattern, *name;
    int matches;
};

const MatchCase kCases[] = {
    {"*.TXT", "readme.txt", 1},
    {"a?c", "abc", 1},
    {"a?c", "ac", 0},
    {"?", "", 0},
    {"<.txt", "x.y.txt", 1},
    {"<.txt", "x.txt.y", 0},
    {"<", "no-dot", 1},
    {"<.", "a.b.", 1},
    {"a>c", "abc", 1},
    {"a>", "a.b", 0},
    {"a>.b", "a.b", 1},
    {"ab>>", "ab", 1},
    {"a\"b", "a.b", 1},
    {"a\"", "a", 1},
    {"a\"b", "axb", 0},
    {"*", "", 1},
    {"", "", 1},
    {"", "a", 0},
    {"a", "", 0},
    {"*a*b*c", "xxaxxbxxc", 1},
    {"*a*b*c", "xxaxxbxx", 0},
    {"**", "anything", 1},
    {"*.*", "noext", 0},
    {"*.*", "one.two", 1},
    {"A*", "abc", 1},
    {"\xe4*", "\xc4x", 1},  // upper-casing beyond ASCII
};

TEST(MatchPattern, CasesOfEachWildcard)
{
    for (const MatchCase &c : kCases)
        EXPECT_EQ(csMatchPattern(W(c.pattern).data(), W(c.name).data()), c.matches)
            << '"' << c.pattern << "\" against \"" << c.name << '"';
    EXPECT_EQ(csMatchPattern(nullptr, W("a").data()), 0);
}

TEST(MatchPattern, APathologicalPatternAnswersAtOnce)
{
    // Forty stars before a letter the name lacks: a backtracking matcher
    // would try every split of the name among them.
    std::string pattern;
    for (int i = 0; i < 40; ++i)
        pattern += "*a";
    pattern += "b";
    std::string name(1000, 'a');
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(csMatchPattern(W(pattern).data(), W(name).data()), 0);
    EXPECT_EQ(csMatchPattern(W(std::string(500, '<') + "x").data(), W(std::string(1000, '.')).data()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(MatchPattern, FindsTheWildcardsOfTheDestinationWalk)
{
    std::vector<CMWchar> p = W("ab<c\"d?e");
    EXPECT_EQ(csFindWildcard(p.data()), p.data() + 6);
    EXPECT_EQ(csFindWildcard(W("plain").data()), nullptr);
}

class WalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(csFnamesInit(), 0);
        for (const char *name : {"abc.txt", "abd.txt", "x.bin", "readme"})
            std::ofstream(dir.file(name)) << "x";
        std::filesystem::create_directory(dir.file("sub"));
    }
    void TearDown() override
    {
        csFnamesExit();
        syStop();
    }
    std::vector<std::string> walk(const std::string &pattern, uint32_t attributes = 0)
    {
        CSEnumeration c{};
        std::vector<std::string> out;
        if (csEnumerateSourceName(&c, W(dir.path() + "/" + pattern).data(), attributes) != 0)
            return {"refused"};
        while (const CMWchar *p = csNextSourceName(&c))
            out.push_back(A(p).substr(dir.path().size() + 1));
        EXPECT_EQ(c.state, 0u);
        EXPECT_EQ(c.handle, nullptr);
        return out;
    }
    std::vector<std::pair<std::string, std::string>> rename(const std::string &source,
                                                            const std::string &mask)
    {
        std::vector<std::pair<std::string, std::string>> out;
        EXPECT_EQ(csEnumerateSourceAndDestinationName(W(dir.path() + "/" + source).data(),
                                                      W(dir.path() + "/" + mask).data(), 0),
                  0);
        const CMWchar *s = nullptr, *d = nullptr;
        while (csNextSourceAndDestinationName(&s, &d))
            out.emplace_back(A(s).substr(dir.path().size() + 1), A(d).substr(dir.path().size() + 1));
        std::sort(out.begin(), out.end());
        return out;
    }
    fw_test::TempDir dir{"cswalk"};
};

TEST_F(WalkTest, StarDotStarGivesTheDotsFirstAndEveryEntryOnce)
{
    std::vector<std::string> got = walk("*.*");
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], ".");
    EXPECT_EQ(got[1], "..");
    std::multiset<std::string> rest(got.begin() + 2, got.end());
    EXPECT_EQ(rest, (std::multiset<std::string>{"abc.txt", "abd.txt", "x.bin"}));
}

TEST_F(WalkTest, PatternsAndPlainNames)
{
    std::vector<std::string> got = walk("AB?.TXT");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"abc.txt", "abd.txt"}));
    EXPECT_EQ(walk("readme"), std::vector<std::string>{"readme"});
    EXPECT_EQ(walk("missing"), std::vector<std::string>{});
    EXPECT_EQ(walk("nodir/a*"), std::vector<std::string>{});
}

TEST_F(WalkTest, APathWithoutADirectoryWalksTheCurrentOne)
{
    CSEnumeration c{};
    csSplitPathPattern(&c, W("*.txt").data());
    EXPECT_EQ(A(c.directory), ".");
    EXPECT_EQ(A(c.pattern), "*.txt");
    EXPECT_EQ(c.isWild, 1u);
    EXPECT_EQ(c.hasDirectory, 0u);
    csSplitPathPattern(&c, W("/a/b/c\"d").data());
    EXPECT_EQ(A(c.directory), "/a/b");
    EXPECT_EQ(A(c.pattern), "c\"d");
    EXPECT_EQ(c.isWild, 1u);
}

TEST_F(WalkTest, EntriesWhosePathDoesNotFitAreSkippedNotCut)
{
    // A directory so deep that only short entry names fit after it.
    std::string deep = dir.path();
    while (deep.size() < CS_ENUM_PATH_UNITS - 40)
        deep += "/" + std::string(std::min<size_t>(200, CS_ENUM_PATH_UNITS - 40 - deep.size()), 'd');
    std::filesystem::create_directories(deep);
    std::string shortName = "s", longName(60, 'L'), cutName = longName.substr(0, 10);
    std::ofstream(deep + "/" + shortName) << "x";
    std::ofstream(deep + "/" + longName) << "x";
    std::ofstream(deep + "/" + cutName) << "x";
    CSEnumeration c{};
    ASSERT_EQ(csEnumerateSourceName(&c, W(deep + "/L*").data(), 0), 0);
    std::vector<std::string> got;
    while (const CMWchar *p = csNextSourceName(&c))
        got.push_back(A(p).substr(deep.size() + 1));
    EXPECT_EQ(got, std::vector<std::string>{cutName});
    EXPECT_EQ(csEnumerateSourceName(&c, W("/" + std::string(CS_ENUM_PATH_UNITS, 'x')).data(), 0), -1);
}

TEST_F(WalkTest, DestinationNamesFollowTheMask)
{
    EXPECT_EQ(rename("a*.txt", "b*.bak"), (std::vector<std::pair<std::string, std::string>>{
                                              {"abc.txt", "bbc.bak"}, {"abd.txt", "bbd.bak"}}));
    EXPECT_EQ(rename("ab?.txt", "x?.t"),
              (std::vector<std::pair<std::string, std::string>>{{"abc.txt", "xc.t"}, {"abd.txt", "xd.t"}}));
    EXPECT_EQ(rename("x.bin", "y*.dat"),
              (std::vector<std::pair<std::string, std::string>>{{"x.bin", "y*.dat"}}))
        << "a plain source takes the destination as it stands";
    EXPECT_EQ(rename("a*.txt", "fixed"),
              (std::vector<std::pair<std::string, std::string>>{{"abc.txt", "fixed"}, {"abd.txt", "fixed"}}));
}

TEST_F(WalkTest, AMaskWithFewerWildcardsDropsTheRest)
{
    EXPECT_EQ(rename("*.txt", "*.bak"), (std::vector<std::pair<std::string, std::string>>{
                                            {"abc.txt", "abc.bak"}, {"abd.txt", "abd.bak"}}));
    EXPECT_EQ(rename("x*.*", "*.old"), (std::vector<std::pair<std::string, std::string>>{{"x.bin", ".old"}}));
    std::vector<std::pair<std::string, std::string>> got = rename("ab*.*", "*.bak");
    EXPECT_EQ(got,
              (std::vector<std::pair<std::string, std::string>>{{"abc.txt", "c.bak"}, {"abd.txt", "d.bak"}}));
}

TEST_F(WalkTest, ADestinationThatDoesNotFitSkipsItsSource)
{
    // The mask fits; what "a*" matched ("bc.txt") on top of it does not.
    std::string mask = "*" + std::string(CS_ENUM_PATH_UNITS - dir.path().size() - 3, 'm');
    std::vector<std::pair<std::string, std::string>> got = rename("a*", mask);
    EXPECT_TRUE(got.empty()) << got.size();
}

}  // namespace
