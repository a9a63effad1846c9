// What the program asks of the compiler beyond the language: the printf
// check of Format, functions built for a newer instruction set, a byte swap
// and the processor's features. Everything else is standard C++; a
// compiler without these gets the plain fallbacks below. Used by
// core/format.h, link/lzari.cpp and link/xtea128.cpp.
#pragma once

#include <cstdint>

#if defined(__GNUC__) || defined(__clang__)
// The printf-style format string is argument `f`, its values start at `a`.
#define TSR_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
// The function may use the instructions of `isa` ("avx2", "avx512f");
// callers check CpuHas first.
#define TSR_TARGET(isa) __attribute__((target(isa)))
#define TSR_HAS_CPU_FEATURES 1
#else
#define TSR_PRINTF_FORMAT(f, a)
#define TSR_TARGET(isa)
#endif

namespace core {

// The bytes of a 64-bit value in the opposite order.
inline uint64_t ByteSwap64(uint64_t value) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap64(value);
#else
  uint64_t swapped = 0;
  for (int i = 0; i < 8; ++i) swapped = (swapped << 8) | ((value >> (8 * i)) & 0xFF);
  return swapped;
#endif
}

enum class CpuFeature {
  Avx2,
  Avx512f,
};

// Whether the processor has the feature; false where the compiler cannot
// tell. Safe before main().
inline bool CpuHas(CpuFeature feature) {
#if defined(TSR_HAS_CPU_FEATURES) && (defined(__x86_64__) || defined(__i386__))
  __builtin_cpu_init();
  switch (feature) {
    case CpuFeature::Avx2:
      return __builtin_cpu_supports("avx2");
    case CpuFeature::Avx512f:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
#else
  (void)feature;
  return false;
#endif
}

}  // namespace core
