// Xtea128, the program's own 128-bit block cipher, in electronic code book
// mode (see xtea128.h and docs/xtea128.md). Called by the transport, the
// request/answer routine and the settings store for every request, answer
// and the stored password.
//
// The blocks of the mode are independent, so the vector engines encipher 8
// or 16 blocks side by side, one block per 32-bit lane. The key words each
// round uses depend only on the round, never on the data, and are worked
// out once per call.
#include "link/xtea128.h"

#include <bit>
#include <cstring>

#include "core/portable.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TSR_XTEA_X86 1
#endif

namespace serverlink {
namespace {

constexpr int kRounds = 64;
constexpr uint32_t kDelta = 0x9E3779B9u;
constexpr size_t kBlock = 16;

// Per-round key words and sums.
struct Schedule {
  uint32_t first[kRounds][2];   // K[4 + (sum & 3)], K[sum & 3] of the round's first half
  uint32_t second[kRounds][2];  // K[4 + j], K[j] of its second half
  uint32_t sumBefore[kRounds];  // sum at the start of the round
  uint32_t sumAfter[kRounds];   // sum after adding delta
  uint32_t k[8];                // the key words
};

void MakeSchedule(const uint8_t key[kXteaKeyBytes], Schedule* s) {
  for (int i = 0; i < 8; ++i) {
    s->k[i] = static_cast<uint32_t>(key[4 * i]) | static_cast<uint32_t>(key[4 * i + 1]) << 8 |
              static_cast<uint32_t>(key[4 * i + 2]) << 16 |
              static_cast<uint32_t>(key[4 * i + 3]) << 24;
  }
  uint32_t sum = 0;
  for (int r = 0; r < kRounds; ++r) {
    s->sumBefore[r] = sum;
    s->first[r][0] = s->k[4 + (sum & 3)];
    s->first[r][1] = s->k[sum & 3];
    sum += kDelta;
    uint32_t j = (sum >> 11) & 3;
    s->sumAfter[r] = sum;
    s->second[r][0] = s->k[4 + j];
    s->second[r][1] = s->k[j];
  }
}

inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The mixing function of both halves of a round: x is the word that drives
// the rotations, a and b the round's key words.
inline uint32_t Mix(uint32_t a, uint32_t b, uint32_t x) {
  return (std::rotl(a, static_cast<int>(x & 31)) + (x << 4)) ^
         (std::rotl(b, static_cast<int>(x >> 27)) + (x >> 5));
}

// ---------------------------------------------------------------------------
// Portable engine: one block at a time.

void PortableBlock(const uint8_t in[kBlock], uint8_t out[kBlock], const Schedule& s,
                   XteaDirection direction) {
  uint32_t p = Load32(in), q = Load32(in + 4), r = Load32(in + 8), t = Load32(in + 12);
  if (direction == XteaDirection::Encrypt) {
    p += s.k[0];
    q += s.k[1];
    r += s.k[2];
    t += s.k[3];
    for (int i = 0; i < kRounds; ++i) {
      uint32_t e = p + (Mix(s.first[i][0], s.first[i][1], q) ^ (t + s.sumBefore[i]));
      uint32_t g = r + ((q + s.sumAfter[i]) ^ Mix(s.second[i][0], s.second[i][1], t));
      p = q;
      q = g;
      r = t;
      t = e;
    }
    p ^= s.k[4];
    q ^= s.k[5];
    r ^= s.k[6];
    t ^= s.k[7];
  } else {
    p ^= s.k[4];
    q ^= s.k[5];
    r ^= s.k[6];
    t ^= s.k[7];
    for (int i = kRounds - 1; i >= 0; --i) {
      // (p, q, r, t) = (Q, G, S, E) of round i.
      uint32_t oldQ = p, oldS = r;
      uint32_t oldR = q - ((oldQ + s.sumAfter[i]) ^ Mix(s.second[i][0], s.second[i][1], oldS));
      uint32_t oldP = t - (Mix(s.first[i][0], s.first[i][1], oldQ) ^ (oldS + s.sumBefore[i]));
      p = oldP;
      q = oldQ;
      r = oldR;
      t = oldS;
    }
    p -= s.k[0];
    q -= s.k[1];
    r -= s.k[2];
    t -= s.k[3];
  }
  Store32(out, p);
  Store32(out + 4, q);
  Store32(out + 8, r);
  Store32(out + 12, t);
}

size_t PortableBlocks(const uint8_t* in, size_t blocks, uint8_t* out, const Schedule& s,
                      XteaDirection direction) {
  for (size_t b = 0; b < blocks; ++b) PortableBlock(in + b * kBlock, out + b * kBlock, s, direction);
  return blocks;
}

#ifdef TSR_XTEA_X86

// ---------------------------------------------------------------------------
// AVX2 engine: eight blocks, two per 128-bit lane. The 4x4 word transpose
// inside each lane turns four registers of whole blocks into registers of
// P, Q, R and S words; applied again it turns them back.

TSR_TARGET("avx2") inline void Transpose(__m256i& a, __m256i& b, __m256i& c,
                                                      __m256i& d) {
  __m256i t0 = _mm256_unpacklo_epi32(a, b);
  __m256i t1 = _mm256_unpacklo_epi32(c, d);
  __m256i t2 = _mm256_unpackhi_epi32(a, b);
  __m256i t3 = _mm256_unpackhi_epi32(c, d);
  a = _mm256_unpacklo_epi64(t0, t1);
  b = _mm256_unpackhi_epi64(t0, t1);
  c = _mm256_unpacklo_epi64(t2, t3);
  d = _mm256_unpackhi_epi64(t2, t3);
}

TSR_TARGET("avx2") inline __m256i Rotl(__m256i value, __m256i count) {
  return _mm256_or_si256(_mm256_sllv_epi32(value, count),
                         _mm256_srlv_epi32(value, _mm256_sub_epi32(_mm256_set1_epi32(32), count)));
}

TSR_TARGET("avx2") inline __m256i Mix(uint32_t a, uint32_t b, __m256i x) {
  __m256i left = _mm256_add_epi32(
      Rotl(_mm256_set1_epi32(static_cast<int>(a)), _mm256_and_si256(x, _mm256_set1_epi32(31))),
      _mm256_slli_epi32(x, 4));
  __m256i right = _mm256_add_epi32(
      Rotl(_mm256_set1_epi32(static_cast<int>(b)), _mm256_srli_epi32(x, 27)),
      _mm256_srli_epi32(x, 5));
  return _mm256_xor_si256(left, right);
}

TSR_TARGET("avx2") size_t Avx2Blocks(const uint8_t* in, size_t blocks, uint8_t* out,
                                                  const Schedule& s, XteaDirection direction) {
  const __m256i k0 = _mm256_set1_epi32(static_cast<int>(s.k[0]));
  const __m256i k1 = _mm256_set1_epi32(static_cast<int>(s.k[1]));
  const __m256i k2 = _mm256_set1_epi32(static_cast<int>(s.k[2]));
  const __m256i k3 = _mm256_set1_epi32(static_cast<int>(s.k[3]));
  const __m256i k4 = _mm256_set1_epi32(static_cast<int>(s.k[4]));
  const __m256i k5 = _mm256_set1_epi32(static_cast<int>(s.k[5]));
  const __m256i k6 = _mm256_set1_epi32(static_cast<int>(s.k[6]));
  const __m256i k7 = _mm256_set1_epi32(static_cast<int>(s.k[7]));
  size_t done = 0;
  for (; done + 8 <= blocks; done += 8) {
    const uint8_t* src = in + done * kBlock;
    __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32));
    __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 64));
    __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 96));
    Transpose(p, q, r, t);
    if (direction == XteaDirection::Encrypt) {
      p = _mm256_add_epi32(p, k0);
      q = _mm256_add_epi32(q, k1);
      r = _mm256_add_epi32(r, k2);
      t = _mm256_add_epi32(t, k3);
      for (int i = 0; i < kRounds; ++i) {
        __m256i sumBefore = _mm256_set1_epi32(static_cast<int>(s.sumBefore[i]));
        __m256i sumAfter = _mm256_set1_epi32(static_cast<int>(s.sumAfter[i]));
        __m256i e = _mm256_add_epi32(
            p, _mm256_xor_si256(Mix(s.first[i][0], s.first[i][1], q), _mm256_add_epi32(t, sumBefore)));
        __m256i g = _mm256_add_epi32(
            r, _mm256_xor_si256(_mm256_add_epi32(q, sumAfter), Mix(s.second[i][0], s.second[i][1], t)));
        p = q;
        q = g;
        r = t;
        t = e;
      }
      p = _mm256_xor_si256(p, k4);
      q = _mm256_xor_si256(q, k5);
      r = _mm256_xor_si256(r, k6);
      t = _mm256_xor_si256(t, k7);
    } else {
      p = _mm256_xor_si256(p, k4);
      q = _mm256_xor_si256(q, k5);
      r = _mm256_xor_si256(r, k6);
      t = _mm256_xor_si256(t, k7);
      for (int i = kRounds - 1; i >= 0; --i) {
        __m256i sumBefore = _mm256_set1_epi32(static_cast<int>(s.sumBefore[i]));
        __m256i sumAfter = _mm256_set1_epi32(static_cast<int>(s.sumAfter[i]));
        __m256i oldQ = p, oldS = r;
        __m256i oldR = _mm256_sub_epi32(
            q, _mm256_xor_si256(_mm256_add_epi32(oldQ, sumAfter), Mix(s.second[i][0], s.second[i][1], oldS)));
        __m256i oldP = _mm256_sub_epi32(
            t, _mm256_xor_si256(Mix(s.first[i][0], s.first[i][1], oldQ), _mm256_add_epi32(oldS, sumBefore)));
        p = oldP;
        q = oldQ;
        r = oldR;
        t = oldS;
      }
      p = _mm256_sub_epi32(p, k0);
      q = _mm256_sub_epi32(q, k1);
      r = _mm256_sub_epi32(r, k2);
      t = _mm256_sub_epi32(t, k3);
    }
    Transpose(p, q, r, t);
    uint8_t* dst = out + done * kBlock;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), p);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32), q);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 64), r);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 96), t);
  }
  return done;
}

// GCC 12's AVX-512 unpack intrinsics start from a deliberately undefined
// register and warn about it inside their own header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// ---------------------------------------------------------------------------
// AVX-512 engine: sixteen blocks, four per 128-bit lane, with the native
// variable rotation.

TSR_TARGET("avx512f") inline void Transpose(__m512i& a, __m512i& b, __m512i& c,
                                                         __m512i& d) {
  __m512i t0 = _mm512_unpacklo_epi32(a, b);
  __m512i t1 = _mm512_unpacklo_epi32(c, d);
  __m512i t2 = _mm512_unpackhi_epi32(a, b);
  __m512i t3 = _mm512_unpackhi_epi32(c, d);
  a = _mm512_unpacklo_epi64(t0, t1);
  b = _mm512_unpackhi_epi64(t0, t1);
  c = _mm512_unpacklo_epi64(t2, t3);
  d = _mm512_unpackhi_epi64(t2, t3);
}

TSR_TARGET("avx512f") inline __m512i Mix(uint32_t a, uint32_t b, __m512i x) {
  __m512i left = _mm512_add_epi32(_mm512_rolv_epi32(_mm512_set1_epi32(static_cast<int>(a)), x),
                                  _mm512_slli_epi32(x, 4));
  __m512i right = _mm512_add_epi32(
      _mm512_rolv_epi32(_mm512_set1_epi32(static_cast<int>(b)), _mm512_srli_epi32(x, 27)),
      _mm512_srli_epi32(x, 5));
  return _mm512_xor_si512(left, right);
}

TSR_TARGET("avx512f") size_t Avx512Blocks(const uint8_t* in, size_t blocks,
                                                       uint8_t* out, const Schedule& s,
                                                       XteaDirection direction) {
  const __m512i k0 = _mm512_set1_epi32(static_cast<int>(s.k[0]));
  const __m512i k1 = _mm512_set1_epi32(static_cast<int>(s.k[1]));
  const __m512i k2 = _mm512_set1_epi32(static_cast<int>(s.k[2]));
  const __m512i k3 = _mm512_set1_epi32(static_cast<int>(s.k[3]));
  const __m512i k4 = _mm512_set1_epi32(static_cast<int>(s.k[4]));
  const __m512i k5 = _mm512_set1_epi32(static_cast<int>(s.k[5]));
  const __m512i k6 = _mm512_set1_epi32(static_cast<int>(s.k[6]));
  const __m512i k7 = _mm512_set1_epi32(static_cast<int>(s.k[7]));
  size_t done = 0;
  for (; done + 16 <= blocks; done += 16) {
    const uint8_t* src = in + done * kBlock;
    __m512i p = _mm512_loadu_si512(src);
    __m512i q = _mm512_loadu_si512(src + 64);
    __m512i r = _mm512_loadu_si512(src + 128);
    __m512i t = _mm512_loadu_si512(src + 192);
    Transpose(p, q, r, t);
    if (direction == XteaDirection::Encrypt) {
      p = _mm512_add_epi32(p, k0);
      q = _mm512_add_epi32(q, k1);
      r = _mm512_add_epi32(r, k2);
      t = _mm512_add_epi32(t, k3);
      for (int i = 0; i < kRounds; ++i) {
        __m512i sumBefore = _mm512_set1_epi32(static_cast<int>(s.sumBefore[i]));
        __m512i sumAfter = _mm512_set1_epi32(static_cast<int>(s.sumAfter[i]));
        __m512i e = _mm512_add_epi32(
            p, _mm512_xor_si512(Mix(s.first[i][0], s.first[i][1], q), _mm512_add_epi32(t, sumBefore)));
        __m512i g = _mm512_add_epi32(
            r, _mm512_xor_si512(_mm512_add_epi32(q, sumAfter), Mix(s.second[i][0], s.second[i][1], t)));
        p = q;
        q = g;
        r = t;
        t = e;
      }
      p = _mm512_xor_si512(p, k4);
      q = _mm512_xor_si512(q, k5);
      r = _mm512_xor_si512(r, k6);
      t = _mm512_xor_si512(t, k7);
    } else {
      p = _mm512_xor_si512(p, k4);
      q = _mm512_xor_si512(q, k5);
      r = _mm512_xor_si512(r, k6);
      t = _mm512_xor_si512(t, k7);
      for (int i = kRounds - 1; i >= 0; --i) {
        __m512i sumBefore = _mm512_set1_epi32(static_cast<int>(s.sumBefore[i]));
        __m512i sumAfter = _mm512_set1_epi32(static_cast<int>(s.sumAfter[i]));
        __m512i oldQ = p, oldS = r;
        __m512i oldR = _mm512_sub_epi32(
            q, _mm512_xor_si512(_mm512_add_epi32(oldQ, sumAfter), Mix(s.second[i][0], s.second[i][1], oldS)));
        __m512i oldP = _mm512_sub_epi32(
            t, _mm512_xor_si512(Mix(s.first[i][0], s.first[i][1], oldQ), _mm512_add_epi32(oldS, sumBefore)));
        p = oldP;
        q = oldQ;
        r = oldR;
        t = oldS;
      }
      p = _mm512_sub_epi32(p, k0);
      q = _mm512_sub_epi32(q, k1);
      r = _mm512_sub_epi32(r, k2);
      t = _mm512_sub_epi32(t, k3);
    }
    Transpose(p, q, r, t);
    uint8_t* dst = out + done * kBlock;
    _mm512_storeu_si512(dst, p);
    _mm512_storeu_si512(dst + 64, q);
    _mm512_storeu_si512(dst + 128, r);
    _mm512_storeu_si512(dst + 192, t);
  }
  return done;
}

#pragma GCC diagnostic pop

#endif  // TSR_XTEA_X86

XteaEngine BestEngine() {
  static const XteaEngine best = [] {
    if (XteaEngineAvailable(XteaEngine::Avx512)) return XteaEngine::Avx512;
    if (XteaEngineAvailable(XteaEngine::Avx2)) return XteaEngine::Avx2;
    return XteaEngine::Portable;
  }();
  return best;
}

// Whole blocks from `in` to `out` on the engine, falling back to narrower
// engines for the blocks left over.
void CryptBlocks(XteaEngine engine, const uint8_t* in, size_t blocks, uint8_t* out,
                 const Schedule& s, XteaDirection direction) {
  size_t done = 0;
#ifdef TSR_XTEA_X86
  if (engine == XteaEngine::Avx512) done += Avx512Blocks(in, blocks, out, s, direction);
  if (engine != XteaEngine::Portable) {
    done += Avx2Blocks(in + done * kBlock, blocks - done, out + done * kBlock, s, direction);
  }
#else
  (void)engine;
#endif
  PortableBlocks(in + done * kBlock, blocks - done, out + done * kBlock, s, direction);
}

}  // namespace

bool XteaEngineAvailable(XteaEngine engine) {
  switch (engine) {
    case XteaEngine::Portable:
      return true;
#ifdef TSR_XTEA_X86
    case XteaEngine::Avx2:
      return core::CpuHas(core::CpuFeature::Avx2);
    case XteaEngine::Avx512:
      return core::CpuHas(core::CpuFeature::Avx512f) && core::CpuHas(core::CpuFeature::Avx2);
#endif
    default:
      return false;
  }
}

void Xtea128Block(uint8_t block[16], const uint8_t key[kXteaKeyBytes], XteaDirection direction) {
  Schedule s;
  MakeSchedule(key, &s);
  PortableBlock(block, block, s, direction);
}

size_t Xtea128CryptWith(XteaEngine engine, const uint8_t* input, size_t size,
                        const uint8_t key[kXteaKeyBytes], uint8_t* out, XteaDirection direction) {
  Schedule s;
  MakeSchedule(key, &s);
  size_t whole = size / kBlock;
  CryptBlocks(engine, input, whole, out, s, direction);
  size_t rest = size % kBlock;
  if (rest == 0) return size;
  // The last partial block, completed with zero bytes.
  uint8_t last[kBlock] = {};
  std::memcpy(last, input + whole * kBlock, rest);
  PortableBlock(last, last, s, direction);
  std::memcpy(out + whole * kBlock, last, kBlock);
  return (whole + 1) * kBlock;
}

size_t Xtea128Crypt(const uint8_t* input, size_t size, const uint8_t key[kXteaKeyBytes],
                    uint8_t* out, XteaDirection direction) {
  return Xtea128CryptWith(BestEngine(), input, size, key, out, direction);
}

std::vector<uint8_t> Xtea128Crypt(const std::vector<uint8_t>& input,
                                  const uint8_t key[kXteaKeyBytes], XteaDirection direction) {
  std::vector<uint8_t> out((input.size() + kBlock - 1) / kBlock * kBlock);
  Xtea128Crypt(input.data(), input.size(), key, out.data(), direction);
  return out;
}

}  // namespace serverlink
