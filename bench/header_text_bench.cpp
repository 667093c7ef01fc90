// SPDX-License-Identifier: GPL-3.0-or-later
// The header decoder's work against the length of a header: plain encoded words, and encoded words that never end
// (every "=?" a start whose end is searched for). Both should grow linearly; google-benchmark fits the growth and
// prints it as the "BigO" row.

#include "mail/core/header_text.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string repeated(const std::string& piece, std::size_t size) {
    std::string text;
    while (text.size() < size) {
        text += piece;
    }
    return text;
}

void decode(benchmark::State& state, const std::string& piece) {
    const std::string value = repeated(piece, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode_header_text(value));
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * state.range(0));
}

BENCHMARK_CAPTURE(decode, unended_words, std::string("=?a?b?x"))
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 18)
    ->Complexity();
BENCHMARK_CAPTURE(decode, encoded_words, std::string("=?UTF-8?B?5paw6YKu5Lu2?= "))
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 18)
    ->Complexity();

} // namespace

BENCHMARK_MAIN();
