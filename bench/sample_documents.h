// Deterministic documents for the benchmarks: business letters in Russian
// and English with the repetition real documents have (headings, formulas,
// requisites, numbers and dates), as plain text and as an HTML page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench_support {

// About `size` bytes of UTF-8 text, the same on every run.
std::vector<uint8_t> SampleText(size_t size);

// About `size` bytes of an HTML page with a table, the same on every run.
std::vector<uint8_t> SampleHtml(size_t size);

}  // namespace bench_support
