// csMatchPattern beside the C library's fnmatch (FNM_CASEFOLD) on patterns
// both read alike: '*' and '?' only.
#include "csfiles.h"

#include <benchmark/benchmark.h>

#include <fnmatch.h>
#include <string>
#include <vector>

namespace {

struct Case {
    const char *label;
    std::string pattern, name;
};

std::vector<Case> cases()
{
    std::string stars;
    for (int i = 0; i < 12; ++i)
        stars += "*a";
    return {
        {"suffix", "*.TXT", "holiday-photos-2024.txt"},
        {"question", "IMG_????.JPG", "img_0042.jpg"},
        {"miss", "*report*2023*.doc", "quarterly-report-2024-final.docx"},
        {"stars", stars + "b", std::string(64, 'a')},
    };
}

std::vector<CMWchar> wide(const std::string &s)
{
    std::vector<CMWchar> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

void ours(benchmark::State &state)
{
    Case c = cases()[size_t(state.range(0))];
    std::vector<CMWchar> p = wide(c.pattern), n = wide(c.name);
    for (auto _ : state)
        benchmark::DoNotOptimize(csMatchPattern(p.data(), n.data()));
    state.SetLabel(c.label);
}

void fnmatchCase(benchmark::State &state)
{
    Case c = cases()[size_t(state.range(0))];
    for (auto _ : state)
        benchmark::DoNotOptimize(fnmatch(c.pattern.c_str(), c.name.c_str(), FNM_CASEFOLD));
    state.SetLabel(c.label);
}

}  // namespace

BENCHMARK(ours)->Name("Match/ours")->DenseRange(0, 3);
BENCHMARK(fnmatchCase)->Name("Match/fnmatch")->DenseRange(0, 3);
BENCHMARK_MAIN();
