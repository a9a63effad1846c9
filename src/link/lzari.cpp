// LZARI compression of large payloads (see lzari.h and docs/lzari-format.md).
// Called by the payload compression of exchange records (payload.cpp) and by
// the support tool.
//
// The stream must match the 1989 published coder bit for bit, so the match
// finder keeps its binary trees and its rules for choosing among equal
// matches, and the arithmetic coder keeps its registers and its arithmetic.
// What differs is only how the work is done: the whole model lives in one
// structure per call (several threads compress at once), strings are
// compared eight bytes at a time without branching on the result, the coder
// moves all the bits of one renormalisation at once, the decoder mirrors the
// coder's registers and looks symbols up with vector compares and an index,
// and writes straight into the output.
#include "link/lzari.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/portable.h"

namespace serverlink {
namespace {

constexpr int kRingSize = 4096;   // ring buffer of the match finder
constexpr int kLookAhead = 60;    // longest match
constexpr int kThreshold = 2;     // matches longer than this are coded as matches
constexpr int kNil = kRingSize;   // "no node" in the trees
constexpr int kSymbols = 256 - kThreshold + kLookAhead;  // 256 bytes + 58 lengths = 314

constexpr uint32_t kQuarter = 1u << 15;
constexpr uint32_t kHalf = 2 * kQuarter;
constexpr uint32_t kWhole = 4 * kQuarter;
constexpr uint32_t kMaxCum = kQuarter - 1;

constexpr size_t kLengthBytes = 4;

// The decoder may look up to two bytes past the last byte a valid stream
// holds: it keeps 17 bits of the stream in its register, while the coder's
// final flush writes at least two. Needing more is a sign of truncation.
constexpr uint64_t kSlackBytes = 2;

// ---------------------------------------------------------------------------
// Models

// Cumulative frequencies of match positions: fixed, position i weighing
// 10000 / (i + 200), so near positions are likelier.
struct PositionModel {
  uint16_t cum[kRingSize + 1];  // cum[i] = total weight of positions >= i
};

constexpr PositionModel MakePositionModel() {
  PositionModel model{};
  model.cum[kRingSize] = 0;
  for (int i = kRingSize; i >= 1; --i) {
    model.cum[i - 1] = static_cast<uint16_t>(model.cum[i] + 10000 / (i + 200));
  }
  return model;
}

constexpr PositionModel kPositions = MakePositionModel();
static_assert(kPositions.cum[0] < kQuarter, "position total must fit the coder");

// Adaptive model of the 314 symbols. Symbols are kept in order of falling
// frequency (symbol 1 the most frequent); cum[s] is the total frequency of
// the symbols above s, so cum[0] is the grand total.
constexpr int kCumSlots = 328;  // kSymbols + 1 and room for reading 8 from the last

struct SymbolModel {
  alignas(64) uint16_t cum[kCumSlots];  // cumulative frequencies, see above
  uint16_t freq[kSymbols + 1];          // frequency of each symbol; freq[0] = 0 is a sentinel
  uint16_t symToChar[kSymbols + 1];     // character (0-313) of each symbol
  uint16_t charToSym[kSymbols];         // symbol (1-314) of each character
};

void StartSymbols(SymbolModel* m) {
  std::memset(m->cum, 0, sizeof(m->cum));
  m->cum[kSymbols] = 0;
  for (int sym = kSymbols; sym >= 1; --sym) {
    int ch = sym - 1;
    m->charToSym[ch] = static_cast<uint16_t>(sym);
    m->symToChar[sym] = static_cast<uint16_t>(ch);
    m->freq[sym] = 1;
    m->cum[sym - 1] = static_cast<uint16_t>(m->cum[sym] + 1);
  }
  m->freq[0] = 0;
  m->symToChar[0] = 0;
}

// Counts one more occurrence of `sym`: halves every frequency when the total
// reached its ceiling, moves the symbol in front of the symbols of equal
// frequency and raises the cumulative totals above it.
void UpdateSymbols(SymbolModel* m, int sym) {
  if (m->cum[0] >= kMaxCum) {
    unsigned c = 0;
    for (int i = kSymbols; i > 0; --i) {
      m->cum[i] = static_cast<uint16_t>(c);
      m->freq[i] = static_cast<uint16_t>((m->freq[i] + 1) >> 1);
      c += m->freq[i];
    }
    m->cum[0] = static_cast<uint16_t>(c);
  }
  // Frequencies never grow with the symbol number (freq[0] = 0 aside), so
  // the symbols of frequency f are one run ending at or after sym: its
  // first is found by halving instead of a walk, which took hundreds of
  // steps while most characters were still at their starting count.
  const uint16_t f = m->freq[sym];
  int lo = 1;  // the run starts in [lo, sym]
  int hi = sym;
  while (lo < hi) {
    int mid = (lo + hi) >> 1;
    if (m->freq[mid] > f) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  int i = lo;
  if (i < sym) {
    uint16_t chI = m->symToChar[i];
    uint16_t chSym = m->symToChar[sym];
    m->symToChar[i] = chSym;
    m->symToChar[sym] = chI;
    m->charToSym[chI] = static_cast<uint16_t>(sym);
    m->charToSym[chSym] = static_cast<uint16_t>(i);
  }
  m->freq[i] = static_cast<uint16_t>(f + 1);
  // Four totals a step: none reaches 0xFFFF (the sum stays below kMaxCum
  // plus one), so no carry crosses from one into the next.
  int k = 0;
  for (; k + 4 <= i; k += 4) {
    uint64_t four;
    std::memcpy(&four, m->cum + k, 8);
    four += 0x0001000100010001ull;
    std::memcpy(m->cum + k, &four, 8);
  }
  for (; k < i; ++k) ++m->cum[k];
}

// ---------------------------------------------------------------------------
// Bit output

struct BitWriter {
  std::vector<uint8_t>* out;  // bytes so far
  uint64_t acc = 0;           // pending bits, the latest in the lowest place
  int count = 0;              // number of pending bits (< 8 between calls)

  // Appends the low n bits of `bits` (n <= 32), most significant first.
  void Put(uint32_t bits, int n) {
    acc = (acc << n) | bits;
    count += n;
    while (count >= 8) {
      count -= 8;
      out->push_back(static_cast<uint8_t>(acc >> count));
    }
  }

  // Appends n copies of one bit.
  void PutRun(int bit, long n) {
    while (n > 0) {
      int step = n > 32 ? 32 : static_cast<int>(n);
      Put(bit ? static_cast<uint32_t>((uint64_t{1} << step) - 1) : 0u, step);
      n -= step;
    }
  }
};

// ---------------------------------------------------------------------------
// Compression

struct Encoder {
  // Ring buffer with a copy of its first kLookAhead - 1 bytes behind its end
  // (so strings never wrap) and room for reading whole words at the end.
  uint8_t text[kRingSize + kLookAhead + 8];
  // Children of each node: [0] left, [1] right. Nodes 0..N-1 are ring
  // positions; N+1+c is the root of the tree of strings starting with c
  // (only its right child is used).
  int16_t child[kRingSize + 257][2];
  int16_t dad[kRingSize + 1];  // parent of each node, kNil when not in a tree
  int matchPosition = 0;       // distance of the longest match found by InsertNode
  int matchLength = 0;         // its length

  SymbolModel symbols;
  uint32_t low = 0;            // coder interval [low, high)
  uint32_t high = kWhole;
  long shifts = 0;             // pending opposite bits of the middle-half scalings
  BitWriter writer;
};

inline uint64_t LoadBigEndian(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return core::ByteSwap64(v);
}

// Puts the string at ring position r into its tree and finds the longest
// earlier match; a node holding the same kLookAhead bytes is replaced by r,
// which stays in the window longer.
//
// Every node below a step lies between the last node the search passed on
// its right and the last on its left, so it shares at least the shorter of
// their common prefixes with the key: comparison starts there. That changes
// how much is compared, never the path or the result. The direction of each
// step depends on the data, so the loop is written without branches on it:
// they would be mispredicted half the time.
void InsertNode(Encoder* e, int r) {
  const uint8_t* text = e->text;
  const uint8_t* key = text + r;
  int16_t(*child)[2] = e->child;
  child[r][0] = child[r][1] = kNil;
  int p = kRingSize + 1 + key[0];
  int side = 1;
  int sameAsLower = 1;  // common prefix with the last node passed on the right
  int sameAsUpper = 1;  // ... on the left
  // Starting at kThreshold lets one test stand for "long enough and
  // longer"; a length of kThreshold reads as no match all the same.
  int matchLength = kThreshold;
  int matchPosition = e->matchPosition;
  uint32_t children;  // both children of p, read while p's string is compared
  std::memcpy(&children, child[p], 4);
  for (;;) {
    int next = static_cast<int16_t>(children >> (16 * side));
    if (next == kNil) {
      child[p][side] = static_cast<int16_t>(r);
      e->dad[r] = static_cast<int16_t>(p);
      e->matchLength = matchLength;
      e->matchPosition = matchPosition;
      return;
    }
    p = next;
    std::memcpy(&children, child[p], 4);
    const uint8_t* other = text + p;
    int i = std::min(sameAsLower, sameAsUpper);
    uint64_t x, y;
    for (;;) {
      x = LoadBigEndian(key + i);
      y = LoadBigEndian(other + i);
      if (x != y) break;
      i += 8;
      if (i >= kLookAhead) break;
    }
    if (x != y) i += std::countl_zero(x ^ y) >> 3;
    if (i >= kLookAhead) {
      // The same kLookAhead bytes.
      matchPosition = (r - p) & (kRingSize - 1);
      matchLength = kLookAhead;
      break;
    }
    // The longest match; of equal ones (longer than kThreshold) the nearest.
    int distance = (r - p) & (kRingSize - 1);
    bool longer = i > matchLength;
    bool nearer = (i == matchLength) & (i > kThreshold) & (distance < matchPosition);
    int take = -static_cast<int>(longer | nearer);  // all ones or zero, no branch
    matchPosition ^= (matchPosition ^ distance) & take;
    matchLength = std::max(matchLength, i);
    bool above = x > y;
    side = above;
    sameAsLower = above ? i : sameAsLower;
    sameAsUpper = above ? sameAsUpper : i;
  }
  e->matchLength = matchLength;
  e->matchPosition = matchPosition;
  // r takes p's place.
  e->dad[r] = e->dad[p];
  child[r][0] = child[p][0];
  child[r][1] = child[p][1];
  e->dad[child[p][0]] = static_cast<int16_t>(r);
  e->dad[child[p][1]] = static_cast<int16_t>(r);
  int parent = e->dad[p];
  child[parent][child[parent][1] == p ? 1 : 0] = static_cast<int16_t>(r);
  e->dad[p] = kNil;
}

// Takes node p out of its tree: a node with one child or none is replaced
// by that child; one with two by the greatest node of its left subtree.
void DeleteNode(Encoder* e, int p) {
  int16_t(*child)[2] = e->child;
  int16_t* dad = e->dad;
  if (dad[p] == kNil) return;
  int left = child[p][0];
  int right = child[p][1];
  int q;
  if (left != kNil && right != kNil) {
    q = left;
    if (child[q][1] != kNil) {
      do {
        q = child[q][1];
      } while (child[q][1] != kNil);
      child[dad[q]][1] = child[q][0];
      dad[child[q][0]] = dad[q];
      child[q][0] = static_cast<int16_t>(left);
      dad[left] = static_cast<int16_t>(q);
    }
    child[q][1] = static_cast<int16_t>(right);
    dad[right] = static_cast<int16_t>(q);
  } else {
    q = right == kNil ? left : right;
  }
  int parent = dad[p];
  dad[q] = static_cast<int16_t>(parent);
  child[parent][child[parent][1] == p ? 1 : 0] = static_cast<int16_t>(q);
  dad[p] = kNil;
}

// After a narrowing, the coder doubles the interval until it spans more
// than a quarter on each side of the middle, in two runs:
//  - while low and high - 1 agree in their top bit, that bit is decided:
//    it is written and doubled away;
//  - then, while the interval lies in the middle half, it is doubled around
//    the middle and an opposite bit is owed to the next decided bit.
// The published coder does this one bit at a time; here each run is counted
// from the leading bits of the registers and done at once.
struct Rescaled {
  int decided;       // leading bits of low shifted out
  int middle;        // middle-half doublings after them
  uint32_t oldLow;   // low before, whose top bits are the decided ones
};

inline Rescaled Rescale(uint32_t* low, uint32_t* high) {
  uint32_t l = *low;
  uint32_t h = *high - 1;
  Rescaled done{std::countl_zero(l ^ h) - 15, 0, l};  // both are 17-bit: 0..17
  int n = done.decided;
  l = (l << n) & (kWhole - 1);
  h = ((h << n) | ((1u << n) - 1)) & (kWhole - 1);
  // Now l < half <= h; middle half while l = 01... and h = 10...
  int ones = std::countl_one(l << 16);
  int zeros = std::countl_zero(h << 16);
  int m = std::min(std::min(ones, zeros), 16);
  done.middle = m;
  *low = (l << m) & (kHalf - 1);
  *high = (kHalf | ((h << m) & (kHalf - 1)) | ((1u << m) - 1)) + 1;
  return done;
}

// Narrows the interval to the symbol's share, [cumFrom, cumAbove) of
// total, and writes the bits that became decided.
inline void EncodeInterval(Encoder* e, uint32_t cumAbove, uint32_t cumFrom, uint32_t total) {
  uint32_t range = e->high - e->low;
  e->high = e->low + range * cumAbove / total;
  e->low += range * cumFrom / total;
  Rescaled done = Rescale(&e->low, &e->high);
  if (done.decided > 0) {
    int n = done.decided;
    uint32_t bits = done.oldLow >> (17 - n);
    int first = static_cast<int>(bits >> (n - 1));
    e->writer.Put(static_cast<uint32_t>(first), 1);
    if (e->shifts > 0) {
      e->writer.PutRun(!first, e->shifts);
      e->shifts = 0;
    }
    e->writer.Put(bits & ((1u << (n - 1)) - 1), n - 1);
  }
  e->shifts += done.middle;
}

inline void EncodeChar(Encoder* e, int ch) {
  SymbolModel* m = &e->symbols;
  int sym = m->charToSym[ch];
  EncodeInterval(e, m->cum[sym - 1], m->cum[sym], m->cum[0]);
  UpdateSymbols(m, sym);
}

inline void EncodePosition(Encoder* e, int position) {
  EncodeInterval(e, kPositions.cum[position], kPositions.cum[position + 1], kPositions.cum[0]);
}

// Two more bits single out the final interval: 01 when low is in the first
// quarter, else 10 (the owed opposite bits going along).
void EncodeEnd(Encoder* e) {
  int bit = e->low < kQuarter ? 0 : 1;
  e->writer.Put(static_cast<uint32_t>(bit), 1);
  e->writer.PutRun(!bit, e->shifts + 1);
  e->writer.Put(0, 7);  // completes the last byte; the rest is dropped
}

void Encode(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  auto e = std::make_unique<Encoder>();
  std::memset(e->text, 0, sizeof(e->text));
  e->writer.out = out;
  StartSymbols(&e->symbols);
  for (int i = kRingSize + 1; i <= kRingSize + 256; ++i) e->child[i][1] = kNil;
  for (int i = 0; i < kRingSize; ++i) e->dad[i] = kNil;

  size_t next = 0;  // next input byte to read
  int s = 0;
  int r = kRingSize - kLookAhead;
  std::memset(e->text, ' ', static_cast<size_t>(r));
  int len = 0;
  while (len < kLookAhead && next < size) e->text[r + len++] = data[next++];
  for (int i = 1; i <= kLookAhead; ++i) InsertNode(e.get(), r - i);
  InsertNode(e.get(), r);
  do {
    if (e->matchLength > len) e->matchLength = len;
    if (e->matchLength <= kThreshold) {
      e->matchLength = 1;
      EncodeChar(e.get(), e->text[r]);
    } else {
      EncodeChar(e.get(), 255 - kThreshold + e->matchLength);
      EncodePosition(e.get(), e->matchPosition - 1);
    }
    int lastMatchLength = e->matchLength;
    int i = 0;
    for (; i < lastMatchLength && next < size; ++i) {
      uint8_t c = data[next++];
      DeleteNode(e.get(), s);
      e->text[s] = c;
      if (s < kLookAhead - 1) e->text[s + kRingSize] = c;
      s = (s + 1) & (kRingSize - 1);
      r = (r + 1) & (kRingSize - 1);
      InsertNode(e.get(), r);
    }
    while (i++ < lastMatchLength) {
      DeleteNode(e.get(), s);
      s = (s + 1) & (kRingSize - 1);
      r = (r + 1) & (kRingSize - 1);
      if (--len) InsertNode(e.get(), r);
    }
  } while (len > 0);
  EncodeEnd(e.get());
}

// ---------------------------------------------------------------------------
// Expansion

struct BitReader {
  const uint8_t* next;   // next byte to load
  const uint8_t* end;    // end of the stream
  uint64_t loadedBytes;  // bytes loaded so far, those past the end included
  uint64_t acc = 0;      // loaded bits not yet taken, in the low `count` places
  int count = 0;

  // Past the end the stream reads as one bits, as an exhausted file did.
  void Refill() {
    while (count <= 56) {
      uint8_t byte = next < end ? *next++ : 0xFF;
      acc = (acc << 8) | byte;
      count += 8;
      ++loadedBytes;
    }
  }

  // The next k bits (k <= 32), first bit highest.
  uint32_t Take(int k) {
    if (count < k) Refill();
    count -= k;
    return static_cast<uint32_t>((acc >> count) & ((uint64_t{1} << k) - 1));
  }

  uint64_t BitsTaken() const { return loadedBytes * 8 - static_cast<uint64_t>(count); }
};

// The decoder mirrors the coder's registers exactly. Instead of the value
// it keeps the value's distance above low, which is all a decision needs
// and is not changed by the coder's subtractions.
struct Decoder {
  SymbolModel symbols;
  uint32_t low = 0;
  uint32_t high = kWhole;
  uint32_t offset = 0;  // value - low
  BitReader reader;
};

inline void Narrow(Decoder* d, uint32_t cumAbove, uint32_t cumFrom, uint32_t total) {
  uint32_t range = d->high - d->low;
  uint32_t newLow = d->low + range * cumFrom / total;
  d->high = d->low + range * cumAbove / total;
  d->offset -= newLow - d->low;
  d->low = newLow;
  Rescaled done = Rescale(&d->low, &d->high);
  int shift = done.decided + done.middle;  // at most 17: the range at most doubles to 2^17
  d->offset = (d->offset << shift) | d->reader.Take(shift);
}

// The point inside the total that the value stands for.
inline uint32_t Target(const Decoder& d, uint32_t total) {
  return ((d.offset + 1) * total - 1) / (d.high - d.low);
}

// The symbol s with cum[s - 1] > x >= cum[s] (1 when x >= cum[1]). The
// most frequent symbols come first, so a scan from the front usually stops
// in its first block of eight.
inline int FindSymbol(const SymbolModel& m, uint32_t x) {
  x = std::min<uint32_t>(x, 0x7FFF);  // a damaged stream may point past the total
#if defined(__SSE2__)
  const __m128i target = _mm_set1_epi16(static_cast<short>(x));
  for (int k = 1;; k += 8) {
    __m128i cum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.cum + k));
    unsigned above = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi16(cum, target)));
    // cum[kSymbols] = 0 ends every scan.
    if (above != 0xFFFF) return k + (std::countr_one(above) >> 1);
  }
#else
  int i = 1;
  int j = kSymbols;
  while (i < j) {
    int k = (i + j) / 2;
    if (m.cum[k] > x) {
      i = k + 1;
    } else {
      j = k;
    }
  }
  return i;
#endif
}

// Where to start looking for a position: for every 8 values of the target,
// the position of the highest of them.
constexpr int kPositionBucket = 8;
constexpr int kPositionBuckets = (kPositions.cum[0] + kPositionBucket - 1) / kPositionBucket;

struct PositionIndex {
  uint16_t start[kPositionBuckets];  // position of the bucket's highest target
};

constexpr PositionIndex MakePositionIndex() {
  PositionIndex index{};
  int p = kRingSize - 1;
  for (int b = 0; b < kPositionBuckets; ++b) {
    int last = std::min(b * kPositionBucket + kPositionBucket - 1, kPositions.cum[0] - 1);
    while (kPositions.cum[p] <= last) --p;
    index.start[b] = static_cast<uint16_t>(p);
  }
  return index;
}

constexpr PositionIndex kPositionIndex = MakePositionIndex();

// The position p with cum[p] > x >= cum[p + 1] (0 when x >= cum[1]).
inline int FindPosition(uint32_t x) {
  x = std::min<uint32_t>(x, kPositions.cum[0] - 1u);
  int p = kPositionIndex.start[x / kPositionBucket];
  while (kPositions.cum[p + 1] > x) ++p;
  return p;
}

inline int DecodeChar(Decoder* d) {
  SymbolModel* m = &d->symbols;
  uint32_t total = m->cum[0];
  int sym = FindSymbol(*m, Target(*d, total));
  Narrow(d, m->cum[sym - 1], m->cum[sym], total);
  int ch = m->symToChar[sym];
  UpdateSymbols(m, sym);
  return ch;
}

inline int DecodePosition(Decoder* d) {
  uint32_t total = kPositions.cum[0];
  int position = FindPosition(Target(*d, total));
  Narrow(d, kPositions.cum[position], kPositions.cum[position + 1], total);
  return position;
}

// The byte at `index` of the output, where negative indexes reach into the
// ring buffer as it stood before the first byte: spaces, and the never
// written last kLookAhead bytes as zeros.
inline uint8_t BeforeStart(int64_t index) {
  return index >= -(kRingSize - kLookAhead) ? ' ' : 0;
}

LzariResult Decode(const uint8_t* stream, size_t size, uint32_t expected,
                   std::vector<uint8_t>* out) {
  auto d = std::make_unique<Decoder>();
  d->reader.next = stream;
  d->reader.end = stream + size;
  d->reader.loadedBytes = 0;
  const uint64_t bitLimit = (static_cast<uint64_t>(size) + kSlackBytes) * 8;
  StartSymbols(&d->symbols);
  d->offset = d->reader.Take(17);

  // The output grows by doubling up to the declared length, so a lying
  // length costs no memory the stream does not fill; kRoom leaves space for
  // one more match, which may run past the declared length.
  constexpr size_t kRoom = kLookAhead;
  size_t capacity = std::min<size_t>(expected, std::max<size_t>(size * 8, size_t{1} << 16));
  out->resize(capacity + kRoom);
  size_t count = 0;
  LzariResult result = LzariResult::Ok;
  while (count < expected) {
    if (d->reader.BitsTaken() > bitLimit) {
      result = LzariResult::Truncated;
      break;
    }
    if (count + kRoom > out->size()) {
      capacity = std::min<size_t>(expected, capacity * 2);
      out->resize(capacity + kRoom);
    }
    uint8_t* dst = out->data();
    int c = DecodeChar(d.get());
    if (c < 256) {
      dst[count++] = static_cast<uint8_t>(c);
      continue;
    }
    int distance = DecodePosition(d.get()) + 1;
    int length = c - 255 + kThreshold;
    int64_t from = static_cast<int64_t>(count) - distance;
    if (from < 0) {
      for (int k = 0; k < length; ++k) {
        int64_t at = from + k;
        dst[count + k] = at < 0 ? BeforeStart(at) : dst[at];
      }
    } else if (distance >= length) {
      std::memcpy(dst + count, dst + from, static_cast<size_t>(length));
    } else {
      for (int k = 0; k < length; ++k) dst[count + k] = dst[from + k];
    }
    count += static_cast<size_t>(length);
  }
  // The last symbol may have needed more bits than the stream held.
  if (d->reader.BitsTaken() > bitLimit) result = LzariResult::Truncated;
  out->resize(std::min<size_t>(count, expected));
  return result;
}

}  // namespace

std::vector<uint8_t> LzariCompress(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(kLengthBytes + size / 2 + 64);
  uint32_t length = static_cast<uint32_t>(size);
  for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(length >> (8 * b)));
  if (size > 0) Encode(data, size, &out);
  return out;
}

LzariResult LzariExpand(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  out->clear();
  if (size < kLengthBytes) return LzariResult::TooShort;
  uint32_t expected = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                      static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  if (expected > kLzariMaxExpandedBytes) return LzariResult::TooLarge;
  if (expected == 0) return LzariResult::Ok;
  return Decode(data + kLengthBytes, size - kLengthBytes, expected, out);
}

}  // namespace serverlink
