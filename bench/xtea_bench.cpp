// Xtea128Crypt on 1 MB, on the engine the program picks and on each engine
// the processor has; and on a typical 4 KB request.
#include <benchmark/benchmark.h>

#include <vector>

#include "link/xtea128.h"

namespace {

const uint8_t kKey[serverlink::kXteaKeyBytes] = {
    0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10,
    0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78, 0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0};

std::vector<uint8_t> Input(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
  return data;
}

void BM_Xtea128Crypt(benchmark::State& state) {
  const std::vector<uint8_t> input = Input(static_cast<size_t>(state.range(0)));
  const auto direction = state.range(1) == 0 ? serverlink::XteaDirection::Encrypt : serverlink::XteaDirection::Decrypt;
  std::vector<uint8_t> out(input.size() + 16);
  for (auto _ : state) {
    serverlink::Xtea128Crypt(input.data(), input.size(), kKey, out.data(), direction);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_Xtea128Crypt)->ArgNames({"bytes", "decrypt"})->Args({1 << 20, 0})->Args({1 << 20, 1})->Args({4096, 0});

void BM_Xtea128Engine(benchmark::State& state) {
  const auto engine = static_cast<serverlink::XteaEngine>(state.range(0));
  if (!serverlink::XteaEngineAvailable(engine)) {
    state.SkipWithError("engine not available on this processor");
    return;
  }
  const std::vector<uint8_t> input = Input(1 << 20);
  std::vector<uint8_t> out(input.size());
  for (auto _ : state) {
    serverlink::Xtea128CryptWith(engine, input.data(), input.size(), kKey, out.data(), serverlink::XteaDirection::Encrypt);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_Xtea128Engine)
    ->ArgName("engine")
    ->Arg(static_cast<int>(serverlink::XteaEngine::Portable))
    ->Arg(static_cast<int>(serverlink::XteaEngine::Avx2))
    ->Arg(static_cast<int>(serverlink::XteaEngine::Avx512));

}  // namespace
