// LZARI compression and expansion of a 1 MB text document and a 50 KB HTML
// page, ours beside the published 1989 coder.
#include <benchmark/benchmark.h>

#include <vector>

#include "link/lzari.h"
#include "lzari_reference.h"
#include "sample_documents.h"

namespace {

const std::vector<uint8_t>& Text() {
  static const std::vector<uint8_t> text = bench_support::SampleText(1 << 20);
  return text;
}

const std::vector<uint8_t>& Html() {
  static const std::vector<uint8_t> html = bench_support::SampleHtml(50 << 10);
  return html;
}

void Compress(benchmark::State& state, const std::vector<uint8_t>& input) {
  size_t packed = 0;
  for (auto _ : state) {
    std::vector<uint8_t> out = serverlink::LzariCompress(input.data(), input.size());
    packed = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(input.size());
}

void Expand(benchmark::State& state, const std::vector<uint8_t>& input) {
  const std::vector<uint8_t> packed = serverlink::LzariCompress(input.data(), input.size());
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (serverlink::LzariExpand(packed.data(), packed.size(), &out) != serverlink::LzariResult::Ok) {
      state.SkipWithError("expansion failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void ReferenceCompress(benchmark::State& state, const std::vector<uint8_t>& input) {
  for (auto _ : state) {
    std::vector<uint8_t> out = lzari_reference::Encode(input.data(), input.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void ReferenceExpand(benchmark::State& state, const std::vector<uint8_t>& input) {
  const std::vector<uint8_t> packed = lzari_reference::Encode(input.data(), input.size());
  for (auto _ : state) {
    std::vector<uint8_t> out = lzari_reference::Decode(packed.data(), packed.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_LzariCompressText(benchmark::State& state) { Compress(state, Text()); }
void BM_LzariExpandText(benchmark::State& state) { Expand(state, Text()); }
void BM_LzariCompressHtml(benchmark::State& state) { Compress(state, Html()); }
void BM_LzariExpandHtml(benchmark::State& state) { Expand(state, Html()); }
void BM_ReferenceCompressText(benchmark::State& state) { ReferenceCompress(state, Text()); }
void BM_ReferenceExpandText(benchmark::State& state) { ReferenceExpand(state, Text()); }
void BM_ReferenceCompressHtml(benchmark::State& state) { ReferenceCompress(state, Html()); }
void BM_ReferenceExpandHtml(benchmark::State& state) { ReferenceExpand(state, Html()); }

BENCHMARK(BM_LzariCompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzariExpandText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzariCompressHtml)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LzariExpandHtml)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReferenceCompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceExpandText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceCompressHtml)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReferenceExpandHtml)->Unit(benchmark::kMicrosecond);

}  // namespace
