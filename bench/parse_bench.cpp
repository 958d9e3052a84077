// Throughput of the per-card path: parse a card into a record and append it
// to its HDU entry (name index included).
#include "fits.h"
#include "workloads.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> header_cards(int count) {
    fitsb::hdu h;
    bench::add_mixed_cards(h, count);
    return h.cards();
}

// One HDU of `range(0)` cards per iteration.
void parse_and_index(benchmark::State& state) {
    const std::vector<std::string> cards = header_cards(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        velmora::hdu_entry entry(velmora::HT_PRIMARY);
        for (const std::string& card : cards) entry.add_record(velmora::keyword_record(entry, card));
        benchmark::DoNotOptimize(entry.krs_.data());
    }
    state.counters["cards/s"] = benchmark::Counter(static_cast<double>(state.iterations() * cards.size()),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(parse_and_index)->Arg(40)->Arg(2000);

// The card parser alone, into a fresh record each time.
void parse_only(benchmark::State& state) {
    const std::vector<std::string> cards = header_cards(2000);
    velmora::hdu_entry entry(velmora::HT_PRIMARY);
    for (auto _ : state) {
        for (const std::string& card : cards) {
            velmora::keyword_record kr(entry, card);
            benchmark::DoNotOptimize(kr.int_value_);
        }
    }
    state.counters["cards/s"] = benchmark::Counter(static_cast<double>(state.iterations() * cards.size()),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(parse_only);

}  // namespace
