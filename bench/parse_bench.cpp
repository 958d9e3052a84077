// Throughput of the per-card path: parse a card into a record and append it
// to its HDU entry (name index included); and of the whole reader, headers
// only, on the same bytes from a regular file, memory and an istream.
#include "fits.h"
#include "workloads.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
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

// 20 IMAGE extensions of 2,000 cards each, as bytes and as a file.
const std::string& many_cards() {
    static const std::string bytes = [] {
        std::string all = fitsb::primary(8, {}).logical("EXTEND", true).end().bytes();
        for (int i = 0; i < 20; ++i) {
            fitsb::hdu ext = fitsb::image(8, {});
            bench::add_mixed_cards(ext, 1994);
            all += ext.end().bytes();
        }
        return all;
    }();
    return bytes;
}

// The whole reader, headers only, from input `range(0)`: 0 a regular file,
// 1 memory, 2 an istream.
void read_headers(benchmark::State& state) {
    const std::string& bytes = many_cards();
    const std::string path = "/tmp/tessary-parse-bench.fits";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::size_t cards = 0;
    for (auto _ : state) {
        auto count = [&](const velmora::hdu_entry& entry) { cards += entry.krs_.size(); };
        if (state.range(0) == 0) {
            velmora::fits_file file(path, velmora::RM_HEADERS_ONLY, count, velmora::KM_RELEASE_HDUS);
        } else if (state.range(0) == 1) {
            velmora::fits_file file(velmora::memory_input{bytes.data(), bytes.size()}, velmora::RM_HEADERS_ONLY,
                                    count, velmora::KM_RELEASE_HDUS);
        } else {
            std::istringstream in(bytes);
            velmora::fits_file file(in, velmora::RM_HEADERS_ONLY, count, velmora::KM_RELEASE_HDUS);
        }
    }
    std::remove(path.c_str());
    state.counters["cards/s"] = benchmark::Counter(static_cast<double>(cards), benchmark::Counter::kIsRate);
}
BENCHMARK(read_headers)->ArgName("file0_memory1_istream2")->Arg(0)->Arg(1)->Arg(2);

}  // namespace
