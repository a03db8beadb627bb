// CRC-32 of MPEG-2 sections: slice-by-8 tables and carry-less multiplication
// on 128-bit and 256-bit vectors (from 16 bytes on; below kShortFolding bytes
// without a chain of dependent multiplications).
#include "decoder/crc32.h"

#include <array>
#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEST_CRC32_CARRYLESS 1
#endif

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;
constexpr uint32_t kInitial = 0xFFFFFFFFu;

// tables[k][b]: the register after byte b followed by k zero bytes, from 0.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables makeTables()
{
    Tables t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : c << 1;
        t[0][b] = c;
    }
    for (size_t k = 1; k < t.size(); ++k)
        for (size_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 24];
    return t;
}

constexpr Tables kTables = makeTables();

inline uint32_t loadBigEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t sliceBy8(const uint8_t* p, size_t n, uint32_t crc)
{
    for (; n >= 8; p += 8, n -= 8) {
        const uint32_t hi = loadBigEndian32(p) ^ crc;
        const uint32_t lo = loadBigEndian32(p + 4);
        crc = kTables[7][hi >> 24] ^ kTables[6][(hi >> 16) & 0xFF] ^ kTables[5][(hi >> 8) & 0xFF]
            ^ kTables[4][hi & 0xFF] ^ kTables[3][lo >> 24] ^ kTables[2][(lo >> 16) & 0xFF]
            ^ kTables[1][(lo >> 8) & 0xFF] ^ kTables[0][lo & 0xFF];
    }
    for (; n > 0; ++p, --n)
        crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ *p];
    return crc;
}

uint32_t sliceBy8Kernel(const uint8_t* p, size_t n) { return sliceBy8(p, n, kInitial); }

#ifdef KEST_CRC32_CARRYLESS

// Folding: 16 bytes loaded byte-reversed are a polynomial of degree < 128 whose
// highest coefficient is the first bit of the data. An accumulator H·x^64 + L
// moved d bits further along is congruent to H·(x^(d+64) mod P) + L·(x^d mod P),
// two carry-less products of at most 96 bits. Four or eight accumulators fold
// long data 64 or 128 bytes at a time; then they and the chunks left are each
// moved to the end of the data on their own (EndFold), and the sum of those
// 96-bit products is reduced to the 32-bit register. P is the generator, x^32
// plus the polynomial above; kXPowD is x^D mod P.
constexpr uint64_t xPow(size_t d)
{
    uint32_t r = 1;
    for (size_t i = 0; i < d; ++i)
        r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : r << 1;
    return r;
}

constexpr uint64_t kXPow128 = xPow(128);
constexpr uint64_t kXPow192 = xPow(192);
constexpr uint64_t kXPow512 = xPow(512);
constexpr uint64_t kXPow576 = xPow(576);
constexpr uint64_t kXPow1024 = xPow(1024);
constexpr uint64_t kXPow1088 = xPow(1088);
constexpr uint64_t kXPow2048 = xPow(2048);
constexpr uint64_t kXPow2112 = xPow(2112);

// The low 64 bits of x^d div P.
constexpr uint64_t xPowQuotient(size_t d)
{
    uint64_t remainder = 0;
    uint64_t quotient = 0;
    for (size_t i = d + 1; i-- > 0;) {
        remainder = remainder << 1 | (i == d ? 1 : 0);
        quotient <<= 1;
        if (remainder >> 32) {
            remainder ^= uint64_t(1) << 32 | kPolynomial;
            quotient |= 1;
        }
    }
    return quotient;
}
constexpr uint64_t kQuotient96 = xPowQuotient(96);

// Below this length the tables are faster.
constexpr size_t kShortCarryless = 16;
// Below this length every chunk is moved to the end on its own: from about
// here on, four or eight accumulators take no longer from first load to result.
constexpr size_t kShortFolding = 768;
static_assert(kShortFolding >= 15 * 16, "the table below moves eight accumulators and seven chunks left");

// Moving to the end: each 16-byte chunk H·x^64 + L, j chunks from the end, is
// moved there and on by the 32 bits the register needs, at once, with
// H·(x^(128j + 96) mod P) + L·(x^(128j + 32) mod P), independently of the
// others: no chain of folds. The table runs from the largest j down, as the
// chunks lie in memory, so that 32 bytes of it serve two neighbours.
struct alignas(16) EndFold {
    uint64_t low;
    uint64_t high;
};
using EndFolds = std::array<EndFold, kShortFolding / 16 + 1>;

constexpr EndFolds makeEndFolds()
{
    EndFolds folds{};
    for (size_t j = 0; j < folds.size(); ++j)
        folds[folds.size() - 1 - j] = {xPow(128 * j + 32), xPow(128 * j + 96)};
    return folds;
}

constexpr EndFolds kEndFolds = makeEndFolds();

// The constants of the chunk j chunks from the end (followed by those of j - 1).
inline const EndFold* endFold(size_t j) { return &kEndFolds[kEndFolds.size() - 1 - j]; }

#define KEST_CARRYLESS_TARGET __attribute__((target("pclmul,ssse3")))
#define KEST_WIDE_CARRYLESS_TARGET __attribute__((target("vpclmulqdq,avx2,pclmul,ssse3")))
#define KEST_WIDEST_CARRYLESS_TARGET __attribute__((target("vpclmulqdq,avx512f,avx512bw,avx2,pclmul,ssse3")))

KEST_CARRYLESS_TARGET inline __m128i byteReversal()
{
    return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

KEST_CARRYLESS_TARGET inline __m128i loadReversed(const uint8_t* p, __m128i reversal)
{
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reversal);
}

KEST_CARRYLESS_TARGET inline __m128i fold(__m128i accumulator, __m128i constants, __m128i next)
{
    const __m128i low = _mm_clmulepi64_si128(accumulator, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(accumulator, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// w mod P for w of degree < 96, by Barrett reduction: with A = w div x^32
// and x^96 div P = x^64 + M, w div P is A + (A·M) div x^64, and w mod P the
// low 32 bits of w + (w div P)·P, where P's x^32 term adds nothing: w +
// A·kPolynomial + ((A·M) div x^64)·kPolynomial, the first product beside the
// other two.
KEST_CARRYLESS_TARGET inline uint32_t reduce96(__m128i w)
{
    const __m128i constants = _mm_set_epi64x(static_cast<long long>(kPolynomial), static_cast<long long>(kQuotient96));
    const __m128i a = _mm_srli_si128(w, 4);
    const __m128i quotientHigh = _mm_clmulepi64_si128(a, constants, 0x00);
    const __m128i first = _mm_xor_si128(w, _mm_clmulepi64_si128(a, constants, 0x10));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_xor_si128(first, _mm_clmulepi64_si128(quotientHigh, constants, 0x11))));
}

KEST_CARRYLESS_TARGET inline __m128i load(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The first r < 16 bytes at p, loaded byte-reversed into the low r bytes: a
// window of 16 of these taken at 16 - r.
alignas(16) constexpr uint8_t kReversedHead[32] = {15,   14,   13,   12,   11,   10,   9,    8,    7,    6,    5,
                                                   4,    3,    2,    1,    0,    0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                                   0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
// The bytes of the initial value that fall in the 16 bytes at p + r: a window
// taken at r.
constexpr uint8_t kInitialBytes[32] = {0xFF, 0xFF, 0xFF, 0xFF};

// Data of 16 bytes or more is taken as whole chunks aligned to its end, and
// the r = n mod 16 bytes before them as a chunk with leading zero bytes (which
// leave the register at 0): the head. No load reaches before p or past the
// end. The initial value inverts the first 32 bits of the data, which may
// straddle the head and the first whole chunk; both are returned byte-reversed.
struct Start {
    __m128i head;
    __m128i first;
};

KEST_CARRYLESS_TARGET inline Start start(const uint8_t* p, size_t r, __m128i reversal)
{
    const __m128i headWindow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kReversedHead + 16 - r));
    const __m128i initial = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kInitialBytes + r));
    return {_mm_shuffle_epi8(_mm_xor_si128(load(p), _mm_set_epi32(0, 0, 0, -1)), headWindow),
            _mm_shuffle_epi8(_mm_xor_si128(load(p + r), initial), reversal)};
}

KEST_CARRYLESS_TARGET inline __m128i moveToEnd(__m128i chunk, const EndFold* constants)
{
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(constants));
    return _mm_xor_si128(_mm_clmulepi64_si128(chunk, k, 0x00), _mm_clmulepi64_si128(chunk, k, 0x11));
}

// even + odd + the last `count` whole chunks before `end`, each moved to the end.
KEST_CARRYLESS_TARGET inline __m128i sumMovedToEnd(__m128i even, __m128i odd, const uint8_t* end, size_t count,
                                                   __m128i reversal)
{
    size_t j = 0;
    for (; j + 1 < count; j += 2) {
        even = _mm_xor_si128(even, moveToEnd(loadReversed(end - 16 - 16 * j, reversal), endFold(j)));
        odd = _mm_xor_si128(odd, moveToEnd(loadReversed(end - 32 - 16 * j, reversal), endFold(j + 1)));
    }
    if (j < count)
        even = _mm_xor_si128(even, moveToEnd(loadReversed(end - 16 - 16 * j, reversal), endFold(j)));
    return _mm_xor_si128(even, odd);
}

KEST_CARRYLESS_TARGET uint32_t shortCarrylessKernel(const uint8_t* p, size_t n)
{
    const size_t chunks = n / 16;
    const __m128i reversal = byteReversal();
    const Start s = start(p, n % 16, reversal);
    const __m128i even = moveToEnd(s.head, endFold(chunks));
    const __m128i odd = moveToEnd(s.first, endFold(chunks - 1));
    return reduce96(sumMovedToEnd(even, odd, p + n, chunks - 1, reversal));
}

// The head moved one chunk along into the first whole chunk.
KEST_CARRYLESS_TARGET inline __m128i firstAccumulator(const Start& s)
{
    return fold(s.head, _mm_set_epi64x(static_cast<long long>(kXPow192), static_cast<long long>(kXPow128)), s.first);
}

KEST_CARRYLESS_TARGET uint32_t carrylessKernel(const uint8_t* p, size_t n)
{
    if (n < kShortFolding)
        return n < kShortCarryless ? sliceBy8(p, n, kInitial) : shortCarrylessKernel(p, n);
    const uint8_t* end = p + n;
    const __m128i reversal = byteReversal();
    const Start s = start(p, n % 16, reversal);
    p += n % 16;
    __m128i x0 = firstAccumulator(s);
    __m128i x1 = loadReversed(p + 16, reversal);
    __m128i x2 = loadReversed(p + 32, reversal);
    __m128i x3 = loadReversed(p + 48, reversal);
    p += 64;
    size_t rest = n / 16 - 4;
    const __m128i by512 = _mm_set_epi64x(static_cast<long long>(kXPow576), static_cast<long long>(kXPow512));
    for (; rest >= 4; p += 64, rest -= 4) {
        x0 = fold(x0, by512, loadReversed(p, reversal));
        x1 = fold(x1, by512, loadReversed(p + 16, reversal));
        x2 = fold(x2, by512, loadReversed(p + 32, reversal));
        x3 = fold(x3, by512, loadReversed(p + 48, reversal));
    }
    const __m128i even = _mm_xor_si128(moveToEnd(x0, endFold(rest + 3)), moveToEnd(x2, endFold(rest + 1)));
    const __m128i odd = _mm_xor_si128(moveToEnd(x1, endFold(rest + 2)), moveToEnd(x3, endFold(rest)));
    return reduce96(sumMovedToEnd(even, odd, end, rest, reversal));
}

KEST_WIDE_CARRYLESS_TARGET inline __m256i loadReversed(const uint8_t* p, __m256i reversal)
{
    return _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), reversal);
}

KEST_WIDE_CARRYLESS_TARGET inline __m256i fold(__m256i accumulator, __m256i constants, __m256i next)
{
    const __m256i low = _mm256_clmulepi64_epi128(accumulator, constants, 0x00);
    const __m256i high = _mm256_clmulepi64_epi128(accumulator, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), next);
}

// Two neighbouring chunks moved to the end, with the constants of the first
// of them and the next.
KEST_WIDE_CARRYLESS_TARGET inline __m256i moveToEnd(__m256i chunks, const EndFold* constants)
{
    const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(constants));
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(chunks, k, 0x00), _mm256_clmulepi64_epi128(chunks, k, 0x11));
}

// sumMovedToEnd with two chunks to a vector.
KEST_WIDE_CARRYLESS_TARGET inline __m128i sumMovedToEnd(__m256i even, __m256i odd, const uint8_t* end, size_t count)
{
    const __m128i reversal = byteReversal();
    const __m256i wideReversal = _mm256_set_m128i(reversal, reversal);
    size_t j = 0;
    for (; j + 3 < count; j += 4) {
        even = _mm256_xor_si256(even, moveToEnd(loadReversed(end - 32 - 16 * j, wideReversal), endFold(j + 1)));
        odd = _mm256_xor_si256(odd, moveToEnd(loadReversed(end - 64 - 16 * j, wideReversal), endFold(j + 3)));
    }
    if (j + 1 < count) {
        even = _mm256_xor_si256(even, moveToEnd(loadReversed(end - 32 - 16 * j, wideReversal), endFold(j + 1)));
        j += 2;
    }
    even = _mm256_xor_si256(even, odd);
    const __m128i x = _mm_xor_si128(_mm256_castsi256_si128(even), _mm256_extracti128_si256(even, 1));
    if (j < count)
        return _mm_xor_si128(x, moveToEnd(loadReversed(end - 16 - 16 * j, reversal), endFold(j)));
    return x;
}

KEST_WIDE_CARRYLESS_TARGET uint32_t wideShortKernel(const uint8_t* p, size_t n)
{
    const size_t chunks = n / 16;
    const Start s = start(p, n % 16, byteReversal());
    const __m256i even = moveToEnd(_mm256_set_m128i(s.first, s.head), endFold(chunks));
    return reduce96(sumMovedToEnd(even, _mm256_setzero_si256(), p + n, chunks - 1));
}

KEST_WIDE_CARRYLESS_TARGET inline __m256i foldConstants(uint64_t low, uint64_t high)
{
    return _mm256_set_epi64x(static_cast<long long>(high), static_cast<long long>(low), static_cast<long long>(high),
                             static_cast<long long>(low));
}

// The same folding on 256-bit vectors, two chunks side by side: eight
// chunks, 128 bytes, at a time.
KEST_WIDE_CARRYLESS_TARGET uint32_t wideCarrylessKernel(const uint8_t* p, size_t n)
{
    if (n < kShortFolding)
        return n < kShortCarryless ? sliceBy8(p, n, kInitial) : wideShortKernel(p, n);
    const uint8_t* end = p + n;
    const __m128i narrowReversal = byteReversal();
    const __m256i reversal = _mm256_set_m128i(narrowReversal, narrowReversal);
    const Start s = start(p, n % 16, narrowReversal);
    p += n % 16;
    __m256i y0 = _mm256_set_m128i(loadReversed(p + 16, narrowReversal), firstAccumulator(s));
    __m256i y1 = loadReversed(p + 32, reversal);
    __m256i y2 = loadReversed(p + 64, reversal);
    __m256i y3 = loadReversed(p + 96, reversal);
    p += 128;
    size_t rest = n / 16 - 8;
    const __m256i by1024 = foldConstants(kXPow1024, kXPow1088);
    for (; rest >= 8; p += 128, rest -= 8) {
        y0 = fold(y0, by1024, loadReversed(p, reversal));
        y1 = fold(y1, by1024, loadReversed(p + 32, reversal));
        y2 = fold(y2, by1024, loadReversed(p + 64, reversal));
        y3 = fold(y3, by1024, loadReversed(p + 96, reversal));
    }
    const __m256i even = _mm256_xor_si256(moveToEnd(y0, endFold(rest + 7)), moveToEnd(y2, endFold(rest + 3)));
    const __m256i odd = _mm256_xor_si256(moveToEnd(y1, endFold(rest + 5)), moveToEnd(y3, endFold(rest + 1)));
    return reduce96(sumMovedToEnd(even, odd, end, rest));
}

KEST_WIDEST_CARRYLESS_TARGET inline __m512i loadReversed(const uint8_t* p, __m512i reversal)
{
    return _mm512_shuffle_epi8(_mm512_loadu_si512(p), reversal);
}

KEST_WIDEST_CARRYLESS_TARGET inline __m512i fold(__m512i accumulator, __m512i constants, __m512i next)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(accumulator, constants, 0x00),
                                     _mm512_clmulepi64_epi128(accumulator, constants, 0x11), next, 0x96);
}

// Four neighbouring chunks moved to the end, with the constants of the first
// of them and the three after it.
KEST_WIDEST_CARRYLESS_TARGET inline __m512i moveToEnd(__m512i chunks, const EndFold* constants)
{
    const __m512i k = _mm512_loadu_si512(constants);
    return _mm512_xor_si512(_mm512_clmulepi64_epi128(chunks, k, 0x00), _mm512_clmulepi64_epi128(chunks, k, 0x11));
}

// The same folding on 512-bit vectors, four chunks side by side: sixteen
// chunks, 256 bytes, at a time. Short data goes the 256-bit way, which is as
// fast there.
KEST_WIDEST_CARRYLESS_TARGET uint32_t widestCarrylessKernel(const uint8_t* p, size_t n)
{
    if (n < kShortFolding)
        return wideCarrylessKernel(p, n);
    const uint8_t* end = p + n;
    const __m128i narrowReversal = byteReversal();
    const __m512i reversal = _mm512_maskz_broadcast_i32x4(0xFFFF, narrowReversal);
    const Start s = start(p, n % 16, narrowReversal);
    p += n % 16;
    __m512i z0 = _mm512_inserti32x4(loadReversed(p, reversal), firstAccumulator(s), 0);
    __m512i z1 = loadReversed(p + 64, reversal);
    __m512i z2 = loadReversed(p + 128, reversal);
    __m512i z3 = loadReversed(p + 192, reversal);
    p += 256;
    size_t rest = n / 16 - 16;
    const __m512i by2048 = _mm512_maskz_broadcast_i32x4(
        0xFFFF, _mm_set_epi64x(static_cast<long long>(kXPow2112), static_cast<long long>(kXPow2048)));
    for (; rest >= 16; p += 256, rest -= 16) {
        z0 = fold(z0, by2048, loadReversed(p, reversal));
        z1 = fold(z1, by2048, loadReversed(p + 64, reversal));
        z2 = fold(z2, by2048, loadReversed(p + 128, reversal));
        z3 = fold(z3, by2048, loadReversed(p + 192, reversal));
    }
    const __m512i moved = _mm512_xor_si512(
        _mm512_ternarylogic_epi64(moveToEnd(z0, endFold(rest + 15)), moveToEnd(z1, endFold(rest + 11)),
                                  moveToEnd(z2, endFold(rest + 7)), 0x96),
        moveToEnd(z3, endFold(rest + 3)));
    // The masked forms: the plain ones leave GCC warning of undefined lanes.
    const __m256i even =
        _mm256_xor_si256(_mm512_maskz_extracti64x4_epi64(0xF, moved, 0), _mm512_maskz_extracti64x4_epi64(0xF, moved, 1));
    return reduce96(sumMovedToEnd(even, _mm256_setzero_si256(), end, rest));
}

bool supported(Crc32Kernel kernel)
{
    __builtin_cpu_init();
    switch (kernel) {
    case Crc32Kernel::SliceBy8:
        return true;
    case Crc32Kernel::CarrylessMultiply:
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
    case Crc32Kernel::CarrylessMultiply256:
        return __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx2")
            && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
    case Crc32Kernel::CarrylessMultiply512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
            && supported(Crc32Kernel::CarrylessMultiply256);
    }
    return false;
}

#else

uint32_t carrylessKernel(const uint8_t* p, size_t n) { return sliceBy8Kernel(p, n); }
uint32_t wideCarrylessKernel(const uint8_t* p, size_t n) { return sliceBy8Kernel(p, n); }
uint32_t widestCarrylessKernel(const uint8_t* p, size_t n) { return sliceBy8Kernel(p, n); }
bool supported(Crc32Kernel kernel) { return kernel == Crc32Kernel::SliceBy8; }

#endif

using KernelFunction = uint32_t (*)(const uint8_t*, size_t);

KernelFunction kernelFunction(Crc32Kernel kernel)
{
    switch (kernel) {
    case Crc32Kernel::CarrylessMultiply:
        return carrylessKernel;
    case Crc32Kernel::CarrylessMultiply256:
        return wideCarrylessKernel;
    case Crc32Kernel::CarrylessMultiply512:
        return widestCarrylessKernel;
    case Crc32Kernel::SliceBy8:
        break;
    }
    return sliceBy8Kernel;
}

Crc32Kernel bestKernel()
{
    static const Crc32Kernel best = supported(Crc32Kernel::CarrylessMultiply512) ? Crc32Kernel::CarrylessMultiply512
        : supported(Crc32Kernel::CarrylessMultiply256)                           ? Crc32Kernel::CarrylessMultiply256
        : supported(Crc32Kernel::CarrylessMultiply)                              ? Crc32Kernel::CarrylessMultiply
                                                                                 : Crc32Kernel::SliceBy8;
    return best;
}

uint32_t chooseAndRun(const uint8_t* p, size_t n);

// The chosen kernel, set at program start; a call made before that (from
// another static initialiser) goes through chooseAndRun, which sets it.
std::atomic<KernelFunction> g_kernel{chooseAndRun};

uint32_t chooseAndRun(const uint8_t* p, size_t n)
{
    const KernelFunction chosen = kernelFunction(bestKernel());
    g_kernel.store(chosen, std::memory_order_relaxed);
    return chosen(p, n);
}

const bool g_chosenAtStart = [] {
    g_kernel.store(kernelFunction(bestKernel()), std::memory_order_relaxed);
    return true;
}();

} // namespace

uint32_t crc32Mpeg(const uint8_t* data, size_t length)
{
    return g_kernel.load(std::memory_order_relaxed)(data, length);
}

Crc32Kernel crc32MpegKernel() { return bestKernel(); }

bool crc32MpegKernelAvailable(Crc32Kernel kernel) { return supported(kernel); }

uint32_t crc32MpegWith(Crc32Kernel kernel, const uint8_t* data, size_t length)
{
    return kernelFunction(kernel)(data, length);
}
