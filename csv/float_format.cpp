#include "csv/float_format.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#include <immintrin.h>
#endif

namespace cdt {

namespace {

__extension__ typedef unsigned __int128 Uint128;

// Scaling a float by 10^k with k = precision - floor(log10 of its binary
// magnitude) needs k from 6 - 38 to 8 + 45.
constexpr int kMinPow10 = -32;
constexpr int kMaxPow10 = 53;

constexpr int bitLength(Uint128 v) {
  int n = 0;
  for (; v != 0; v >>= 1) ++n;
  return n;
}

constexpr Uint128 pow5(int n) {
  Uint128 p = 1;
  for (int i = 0; i < n; ++i) p *= 5;
  return p;
}

// floor(log2(10^x)) for |x| <= 55, from exact integers: 10^x = 5^x * 2^x and
// 5^n (n >= 1) is never a power of two.
constexpr int floorLog2Pow10(int x) {
  return x >= 0 ? bitLength(pow5(x)) - 1 + x : x - bitLength(pow5(-x));
}

// 10^k as a 128-bit mantissa with its top bit set: 10^k ~= mantissa *
// 2^(log2 - 127) with log2 = floor(log2(10^k)). Exact for k >= 0 (5^53 fits
// in 128 bits); rounded up for k < 0, so a product with it is never below the
// exact one and above it by less than 2^-127 relative.
struct Pow10 {
  uint64_t high;
  uint64_t low;
  int log2;
};

constexpr Pow10 makePow10(int k) {
  Uint128 mantissa = 0;
  const int log2 = floorLog2Pow10(k);
  if (k >= 0) {
    mantissa = pow5(k) << (127 - (log2 - k));
  } else {
    Uint128 divisor = 1;
    for (int i = 0; i < -k; ++i) divisor *= 10;
    // ceil(2^(127 - log2) / 10^-k) by binary long division; the quotient is
    // below 2^128 because 10^-k lies strictly between 2^(-log2 - 1) and
    // 2^-log2.
    Uint128 remainder = 0;
    for (int i = 0; i <= 127 - log2; ++i) {
      remainder = 2 * remainder + (i == 0 ? 1 : 0);
      mantissa <<= 1;
      if (remainder >= divisor) {
        remainder -= divisor;
        mantissa |= 1;
      }
    }
    if (remainder != 0) ++mantissa;
  }
  return Pow10{static_cast<uint64_t>(mantissa >> 64), static_cast<uint64_t>(mantissa), log2};
}

constexpr auto kPow10 = [] {
  std::array<Pow10, kMaxPow10 - kMinPow10 + 1> table{};
  for (int k = kMinPow10; k <= kMaxPow10; ++k) table[k - kMinPow10] = makePow10(k);
  return table;
}();

constexpr bool pow10TableNormalised() {
  for (const Pow10& p : kPow10) {
    if ((p.high >> 63) != 1) return false;
  }
  return true;
}
static_assert(pow10TableNormalised());
static_assert(kPow10[0 - kMinPow10].high == uint64_t{1} << 63 && kPow10[0 - kMinPow10].low == 0);

// floor(e * log10(2)).
constexpr int floorLog10Pow2(int e) {
  return (e * 78913) >> 18;
}

// 10^x <= 2^e < 10^(x + 1) for x = floorLog10Pow2(e) over every binary
// magnitude a float has. log2(10^x) is irrational unless x == 0, so the
// comparisons with the integer e reduce to its floor.
constexpr bool floorLog10Pow2Exact() {
  for (int e = -149; e <= 127; ++e) {
    const int x = floorLog10Pow2(e);
    const bool lowOk = x == 0 ? e >= 0 : floorLog2Pow10(x) < e;
    const bool highOk = x + 1 == 0 ? e < 0 : e <= floorLog2Pow10(x + 1);
    if (!lowOk || !highOk) return false;
  }
  return true;
}
static_assert(floorLog10Pow2Exact());

constexpr uint32_t kPow10U32[] = {1,      10,      100,      1000,      10000,
                                  100000, 1000000, 10000000, 100000000, 1000000000};

// 5^n for the n where 5^n can divide a 24-bit mantissa.
constexpr uint32_t kPow5U32[] = {1, 5, 25, 125, 625, 3125, 15625, 78125, 390625, 1953125, 9765625};

// Whether mantissa * 2^exponent * 10^k is an integer, i.e. whether the
// scaled value dropped no nonzero fraction. 10^k = 5^k * 2^k, and 5^k is odd.
bool scaledIsExact(uint32_t mantissa, int exponent, int k) {
  if (k < 0) {
    if (-k >= static_cast<int>(std::size(kPow5U32)) || mantissa % kPow5U32[-k] != 0) return false;
  }
  const int twos = -(exponent + k);
  return twos <= 0 || std::countr_zero(mantissa) >= twos;
}

// The value rounded to `Precision` significant digits: digits * 10^(exponent
// - Precision + 1) with digits in [10^(Precision-1), 10^Precision).
struct Decimal {
  uint32_t digits;
  int exponent;
};

constexpr uint64_t kPow10U64[] = {1,           10,           100,          1000,      10000,
                                  100000,      1000000,      10000000,     100000000, 1000000000,
                                  10000000000, 100000000000, 1000000000000};
// The largest power by which a 24-bit mantissa can be multiplied in 64 bits.
constexpr int kMaxFastPow10 = 12;
static_assert(std::size(kPow10U64) == kMaxFastPow10 + 1);
static_assert((uint64_t{1} << 24) <= UINT64_MAX / kPow10U64[kMaxFastPow10]);

// A fast path for the binary exponents at which the digits come from one
// exact 64-bit product: the mantissa times 10^k, k from 0 to 12, with the
// binary point -exponent bits from the right. Per precision these exponents
// form one run, from values of about 1e-5 (%.8g) or 1e-7 (%.6g) up to 2^23
// (%.8g) or 2^19 (%.6g), which holds every measurement a recorder stores.
struct FastScale {
  // 10^(Precision - 1 - x) for the decimal exponent x = x0 and x = x0 + 1.
  uint64_t pow10[2];
  // One half less one unit of the product's fraction, 2^(shift - 1) - 1.
  uint64_t halfBelow;
  // The smallest mantissa whose value reaches 10^(x0 + 1), from which on
  // the decimal exponent is x0 + 1; 2^24 when no mantissa does.
  uint32_t nextPowerMantissa;
  int16_t x0;
  // The fraction bits of the product: -exponent, from 1 to 63.
  uint8_t shift;
};
static_assert(sizeof(FastScale) == 32, "a power of two, so that indexing is a shift");

constexpr uint32_t kMantissaLimit = uint32_t{1} << 24;

// The smallest mantissa m with m * 2^exponent >= 10^power (exponent < 0 and
// 10^power below 2^(exponent + 24) * 10, so everything stays inside 128
// bits), or kMantissaLimit when that is no mantissa.
constexpr uint32_t firstMantissaReaching(int power, int exponent) {
  Uint128 m = 0;
  if (power >= 0) {
    m = pow5(power) << (power - exponent);  // 10^power * 2^-exponent
  } else {
    Uint128 divisor = 1;
    for (int i = 0; i < -power; ++i) divisor *= 10;
    m = ((Uint128{1} << -exponent) + divisor - 1) / divisor;
  }
  return m > kMantissaLimit ? kMantissaLimit : static_cast<uint32_t>(m);
}

// Whether floats of this biased exponent can take the fast path: both
// decimal exponents they can have need a power of ten from 0 to 12.
template <int Precision>
constexpr bool fastScaleFits(int biased) {
  const int exponent = biased - 150;
  if (exponent >= 0 || exponent < -63) return false;
  const int x0 = floorLog10Pow2(exponent + 23);
  const int k = Precision - 1 - x0;
  const bool reachesNext = firstMantissaReaching(x0 + 1, exponent) < kMantissaLimit;
  return k >= (reachesNext ? 1 : 0) && k <= kMaxFastPow10;
}

// The run of biased exponents with the fast path, which ends at or below
// 149 (exponent -1).
template <int Precision>
constexpr uint32_t fastLastBiased() {
  int biased = 149;
  while (!fastScaleFits<Precision>(biased)) --biased;
  return static_cast<uint32_t>(biased);
}
template <int Precision>
constexpr uint32_t fastFirstBiased() {
  int biased = static_cast<int>(fastLastBiased<Precision>());
  while (fastScaleFits<Precision>(biased - 1)) --biased;
  return static_cast<uint32_t>(biased);
}

template <int Precision>
constexpr auto makeFastScales() {
  constexpr uint32_t first = fastFirstBiased<Precision>();
  std::array<FastScale, fastLastBiased<Precision>() - first + 1> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    const int exponent = static_cast<int>(first + i) - 150;
    const int x0 = floorLog10Pow2(exponent + 23);
    const int k = Precision - 1 - x0;
    const int shift = -exponent;
    table[i] = {{kPow10U64[k], kPow10U64[k > 0 ? k - 1 : 0]},
                (uint64_t{1} << (shift - 1)) - 1,
                firstMantissaReaching(x0 + 1, exponent),
                static_cast<int16_t>(x0),
                static_cast<uint8_t>(shift)};
  }
  return table;
}

template <int Precision>
constexpr auto kFastScales = makeFastScales<Precision>();
// As constants: a constexpr function called outside a constant expression
// may run at run time (clang does, with 128-bit divisions).
template <int Precision>
constexpr uint32_t kFastFirstBiased = fastFirstBiased<Precision>();
template <int Precision>
constexpr uint32_t kFastLastBiased = fastLastBiased<Precision>();

// Every threshold lies above 2^23, the smallest mantissa, so that x0 is the
// decimal exponent of the mantissas below it.
template <int Precision>
constexpr bool fastScalesSound() {
  for (const FastScale& scale : kFastScales<Precision>) {
    if (scale.nextPowerMantissa <= kMantissaLimit / 2) return false;
  }
  return true;
}
static_assert(fastScalesSound<8>() && fastScalesSound<6>());
// Values from 2^-16 (1.5e-5) to 2^19 take the fast path in both precisions.
static_assert(fastFirstBiased<8>() <= 150 - 16 - 23 && fastLastBiased<8>() >= 150 + 19 - 24);
static_assert(fastFirstBiased<6>() <= 150 - 16 - 23 && fastLastBiased<6>() >= 150 + 19 - 24);

// mantissa * 2^(biased - 150) with the mantissa in [2^23, 2^24) and the
// biased exponent in the fast run. The scaled value lies in
// [10^(Precision - 1), 10^Precision); its floor and its exact fraction come
// from the product without any division.
template <int Precision>
Decimal roundFast(uint32_t mantissa, uint32_t biased) {
  constexpr uint32_t kLimit = kPow10U32[Precision];
  const FastScale& scale = kFastScales<Precision>[biased - kFastFirstBiased<Precision>];
  const uint32_t next = mantissa >= scale.nextPowerMantissa ? 1 : 0;
  const uint64_t product = mantissa * scale.pow10[next];
  // Round half to even, without a branch: whether a value rounds up is as
  // good as random, so a branch would be mispredicted half the time. Adding
  // one half less one unit carries into the digits exactly when the fraction
  // is above one half; the digits' parity lifts the ties of odd digits too.
  // No overflow: the product is below 2^63.9 (2^24 * 10^12) and one half is
  // a tiny part of it (the digits are at least 10^(Precision - 1)).
  const uint64_t parity = (product >> scale.shift) & 1;
  Decimal d = {static_cast<uint32_t>((product + scale.halfBelow + parity) >> scale.shift),
               scale.x0 + static_cast<int>(next)};
  if (d.digits == kLimit) [[unlikely]] {
    d = {kLimit / 10, d.exponent + 1};
  }
  return d;
}

// mantissa * 2^exponent with the mantissa in [2^23, 2^24), for any exponent.
// Out of line, so that the fast path needs few registers.
template <int Precision>
[[gnu::noinline]] Decimal roundToDecimal(uint32_t mantissa, int exponent);

template <int Precision>
Decimal roundToDecimal(uint32_t mantissa, int exponent) {
  constexpr uint32_t kLimit = kPow10U32[Precision];
  // 10^x0 <= value < 2 * 10^(x0 + 1), so the value scaled by 10^k has
  // Precision + 1 or Precision + 2 digits before the point: at least one digit
  // beyond those kept, for rounding.
  const int x0 = floorLog10Pow2(exponent + 23);
  const int k = Precision - x0;
  const Pow10& p = kPow10[k - kMinPow10];
  // mantissa * p (152 bits) without its lowest 64 bits, then the floor of
  // value * 10^k. For k >= 0 the table is exact. For k < 0 (values of 10^7
  // and more, so exponent >= 0) it adds less than 2^-96 to a result below
  // 2^31, while a non-integer value * 10^k = mantissa * 2^(exponent + k) /
  // 5^-k has a denominator of at most 2 * 5^32 < 2^76 and so lies at least
  // 2^-76 below the next integer: the floor is exact either way.
  const Uint128 product = static_cast<Uint128>(mantissa) * p.high +
                          static_cast<uint64_t>((static_cast<Uint128>(mantissa) * p.low) >> 64);
  const int shift = 127 - 64 - exponent - p.log2;
  const auto scaled = static_cast<uint32_t>(product >> shift);

  Decimal d;
  uint32_t rest;
  uint32_t half;
  if (scaled >= 10 * kLimit) {
    d = {scaled / 100, x0 + 1};
    rest = scaled % 100;
    half = 50;
  } else {
    d = {scaled / 10, x0};
    rest = scaled % 10;
    half = 5;
  }
  // Round half to even on the exact expansion: exactly half only when no
  // nonzero fraction lies below the scaled integer.
  if (rest > half ||
      (rest == half && ((d.digits & 1) != 0 || !scaledIsExact(mantissa, exponent, k)))) {
    if (++d.digits == kLimit) d = {kLimit / 10, d.exponent + 1};
  }
  return d;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void putPair(char* out, uint32_t v) {
  std::memcpy(out, kDigitPairs + 2 * v, 2);
}

// The eight decimal digits of `digits` (below 10^8) as the bytes of a word,
// the first digit in the lowest byte so that storing the word writes them in
// order, each digit's value (not yet its character). Built in a register
// because storing pieces of it and loading the whole word back would stall on
// store forwarding.
#if defined(__SSE2__) && defined(__x86_64__)
// With SSE2 (every x86-64) the digits from 16-bit lanes, in fewer
// instructions: the two halves abcd and efgh, each in four lanes times 4,
// multiplied (keeping the high halves) by 2^9 / 1000, 2^5 / 100, 2^3 / 10 and
// 2, then by 2^-9, 2^-5, 2^-3 and 2^-1, give x / 1000, x / 100, x / 10 and x
// in the lanes of each half; a lane less ten times its left neighbour is a
// digit. The reciprocals are rounded up by less than a part in 10^4, exact
// for x < 10^4.
uint64_t digitBytes(uint32_t digits) {
  const __m128i v = _mm_cvtsi32_si128(static_cast<int>(digits));
  // digits / 10000 = digits * 0xd1b71759 >> 45 for digits < 2^32.
  const __m128i high =
      _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi32(static_cast<int>(0xd1b71759u))), 45);
  const __m128i low = _mm_sub_epi32(v, _mm_mul_epu32(high, _mm_set1_epi32(10000)));
  const __m128i halves = _mm_slli_epi64(_mm_unpacklo_epi16(high, low), 2);
  const __m128i spread =
      _mm_unpacklo_epi32(_mm_unpacklo_epi16(halves, halves), _mm_unpacklo_epi16(halves, halves));
  const __m128i scaled = _mm_mulhi_epu16(
      spread, _mm_setr_epi16(8389, 5243, 13108, INT16_MIN, 8389, 5243, 13108, INT16_MIN));
  const __m128i quotients = _mm_mulhi_epu16(
      scaled,
      _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, INT16_MIN, 1 << 7, 1 << 11, 1 << 13, INT16_MIN));
  const __m128i tens = _mm_slli_epi64(_mm_mullo_epi16(quotients, _mm_set1_epi16(10)), 16);
  const __m128i lanes = _mm_sub_epi16(quotients, tens);
  return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(lanes, lanes)));
}
#else
// Splits in 64-bit lanes arithmetic: into two four-digit halves, each into
// two pairs, each pair into two digits, dividing by multiplying with a scaled
// reciprocal that is exact for the ranges involved (x / 100 = x * 10486 >> 20
// for x < 10^4, x / 10 = x * 103 >> 10 for x < 100).
uint64_t digitBytes(uint32_t digits) {
  uint64_t v = (digits / 10000) | (uint64_t{digits % 10000} << 32);
  const uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007Full;
  v = hundreds | ((v - hundreds * 100) << 16);
  const uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000Full;
  return tens | ((v - tens * 10) << 8);
}
#endif

constexpr uint64_t kZeroBytes = 0x3030303030303030ull;

static_assert(std::endian::native == std::endian::little,
              "the digit word is laid out for little-endian stores");

template <int Precision>
char* formatFloat(char* out, float value) {
  const auto bits = std::bit_cast<uint32_t>(value);
  *out = '-';
  out += bits >> 31;
  const uint32_t biased = (bits >> 23) & 0xff;
  const uint32_t fraction = bits & 0x7fffff;

  Decimal d;
  constexpr uint32_t kFastFirst = kFastFirstBiased<Precision>;
  // One comparison keeps zeros, denormals, infinities and NaNs out too.
  if (biased - kFastFirst <= kFastLastBiased<Precision> - kFastFirst) {
    d = roundFast<Precision>(fraction | 0x800000, biased);
  } else if (biased == 0xff) {
    std::memcpy(out, fraction != 0 ? "nan" : "inf", 3);
    return out + 3;
  } else if (biased != 0) {
    d = roundToDecimal<Precision>(fraction | 0x800000, static_cast<int>(biased) - 150);
  } else if (fraction != 0) {
    const int normalise = std::countl_zero(fraction) - 8;
    d = roundToDecimal<Precision>(fraction << normalise, -149 - normalise);
  } else {
    *out = '0';
    return out + 1;
  }

  static_assert(Precision == 6 || Precision == 8);
  // Eight digit positions: for six digits the last two are zeros.
  const uint64_t values = digitBytes(Precision == 8 ? d.digits : d.digits * 100);
  // The first digit is never 0, so `values` is not 0 and the significant
  // digits end with its highest nonzero byte, byte (64 - clz + 7) / 8; the
  // rest are trailing zeros.
  const auto n = static_cast<int>((71u - static_cast<unsigned>(__builtin_clzll(values))) / 8);
  const uint64_t text = values | kZeroBytes;
  const int x = d.exponent;

  // Whole words are stored; the bytes past the returned end are scratch
  // within the caller's room.
  if (x < -4 || x >= Precision) {
    out[0] = static_cast<char>(text);
    out[1] = '.';
    const uint64_t rest = text >> 8;
    std::memcpy(out + 2, &rest, 8);
    out += n > 1 ? n + 1 : 1;
    out[0] = 'e';
    out[1] = x < 0 ? '-' : '+';
    putPair(out + 2, static_cast<uint32_t>(x < 0 ? -x : x));  // |x| <= 45 for floats
    return out + 4;
  }
  if (x >= 0) {
    // The integer part has x + 1 <= Precision digits.
    std::memcpy(out, &text, 8);
    out += x + 1;
    if (n <= x + 1) return out;
    // n <= 8 digits, so x + 1 <= 7 and the shift stays inside the word.
    *out = '.';
    const uint64_t fraction = text >> (8 * (x + 1));
    std::memcpy(out + 1, &fraction, 8);
    return out + 1 + (n - x - 1);
  }
  std::memcpy(out, "0.000", 5);
  out += 1 - x;
  std::memcpy(out, &text, 8);
  return out + n;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
// Eight cells at a time with AVX2, chosen at run time. Left out on Windows,
// where GCC cannot align the stack for 32-byte spills.
#define CDT_FLOAT_CELLS_AVX2 1
#endif

#ifdef CDT_FLOAT_CELLS_AVX2

// The eight-cell path covers the biased exponents from 118 to 150: values
// from 2^-9 (0.00195) up to 2^24, whose decimal exponent x lies from -3 to 7,
// so that they always take the fixed form, and whose scaling power 10^(7 - x)
// is exact as a float (5^10 < 2^24). A value scaled to eight digits before
// the point is then an exact double: a 24-bit mantissa times a 24-bit one.
constexpr uint32_t kWideFirstBiased = 118;
constexpr uint32_t kWideLastBiased = 150;
static_assert(floorLog10Pow2(static_cast<int>(kWideFirstBiased) - 127) == -3);
static_assert(floorLog10Pow2(static_cast<int>(kWideLastBiased) - 127) == 6);

// The bits of the smallest float at or above 10^power, for power from -2 to
// 7 (such a float is in the binade of 10^power or is the next power of two).
constexpr uint32_t firstFloatReaching(int power) {
  const int log2 = floorLog2Pow10(power);
  const uint32_t mantissa = firstMantissaReaching(power, log2 - 23);
  return (static_cast<uint32_t>(log2 + 127) << 23) + (mantissa - kMantissaLimit / 2);
}
static_assert(firstFloatReaching(0) == 0x3f800000u && firstFloatReaching(7) == 0x4b189680u);
// 0.01f (0x3c23d70a) lies below 0.01, 0.1f (0x3dcccccd) above 0.1.
static_assert(firstFloatReaching(-2) == 0x3c23d70bu && firstFloatReaching(-1) == 0x3dcccccdu);

constexpr uint32_t floatBitsOfPow10(int k) {
  const int log2 = floorLog2Pow10(k);
  return (static_cast<uint32_t>(log2 + 127) << 23) +
         (static_cast<uint32_t>(pow5(k) << (23 - (log2 - k))) - kMantissaLimit / 2);
}
static_assert(floatBitsOfPow10(0) == 0x3f800000u && floatBitsOfPow10(10) == 0x501502f9u);

// Eight 32-bit lanes of a vector.
struct Lanes {
  alignas(32) uint32_t lane[8];
};

constexpr Lanes splat(uint32_t v) {
  return {{v, v, v, v, v, v, v, v}};
}
constexpr Lanes splat16(uint16_t v) {
  return splat(v | (uint32_t{v} << 16));
}
constexpr Lanes splat64(uint64_t v) {
  const auto low = static_cast<uint32_t>(v);
  const auto high = static_cast<uint32_t>(v >> 32);
  return {{low, high, low, high, low, high, low, high}};
}

// The vectors the eight-cell path uses, in one block that is reached through
// a pointer the compiler cannot see through: the instructions then take them
// from memory, instead of building each from immediates in every call (or
// turning multiplications by them into shifts and adds).
struct WideConstants {
  // One less than the bits of the smallest float reaching 10^(i - 2), i from
  // 0 to 9, and the bits of 10^i as floats, i from 0 to 10; eight a vector.
  Lanes reach[2] = {};
  Lanes pow10[2] = {};
  Lanes exponentMask = splat(0xff);
  Lanes wideFirst = splat(kWideFirstBiased);
  Lanes wideSpan = splat(kWideLastBiased - kWideFirstBiased);
  Lanes magnitude = splat(0x7fffffff);
  Lanes bias = splat(127);
  Lanes log10Of2 = splat(78913);  // 2^18 * log10(2)
  Lanes one = splat(1);
  Lanes two = splat(2);
  Lanes three = splat(3);
  Lanes seven = splat(7);
  Lanes half = splat64(0x3fe0000000000000ull);  // 0.5 as doubles
  Lanes byTenThousand = splat(0xd1b71759);
  Lanes tenThousand = splat(10000);
  Lanes byHundred = splat16(5243);
  Lanes hundred = splat16(100);
  Lanes byTen = splat16(6554);
  Lanes ten = splat16(10);
  // The float exponent bias, less 32 for the upper half of a 64-bit lane.
  Lanes halfExponentBias = {{127, 95, 127, 95, 127, 95, 127, 95}};
  Lanes zeroChars = splat(0x30303030);
  Lanes palette = splat64(0x302e2d2c);  // ",-.0" at source bytes 8 to 11
  // Bytes 0, 4, 8 and 12 of each 128-bit lane first, then those two words.
  Lanes lengthBytes = {{0x0c080400, 0x80808080, 0x80808080, 0x80808080, 0x0c080400, 0x80808080,
                        0x80808080, 0x80808080}};
  Lanes lengthWords = {{0, 4, 1, 1, 1, 1, 1, 1}};
};

constexpr WideConstants kWideConstants = [] {
  WideConstants c;
  for (int i = 0; i < 10; ++i) c.reach[i / 8].lane[i % 8] = firstFloatReaching(i - 2) - 1;
  for (int i = 0; i <= 10; ++i) c.pow10[i / 8].lane[i % 8] = floatBitsOfPow10(i);
  return c;
}();

// A cell's text as a byte shuffle of a 16-byte source: the number's eight
// digit characters, then the palette below. The shuffle depends on the
// decimal exponent and the sign only; the cell's length cuts off the
// trailing zeros.
constexpr uint8_t kComma = 8;
constexpr uint8_t kMinus = 9;
constexpr uint8_t kPoint = 10;
constexpr uint8_t kZero = 11;
struct CellShuffle {
  alignas(16) uint8_t bytes[16];
};

// Shuffles by code (x + 3) | (negative << 4), x from -3 to 7: ",-" then
// "d.ddddddd" to "dddddddd." (the point past the length) or "0.ddddddd" to
// "0.00dddddddd".
constexpr auto kCellShuffles = [] {
  std::array<CellShuffle, 32> shuffles{};
  for (int code = 0; code < 32; ++code) {
    const int x = (code & 15) - 3;
    if (x > 7) continue;
    CellShuffle& shuffle = shuffles[static_cast<std::size_t>(code)];
    for (uint8_t& b : shuffle.bytes) b = 0x80;  // a zero byte
    int n = 0;
    auto put = [&](uint8_t source) { shuffle.bytes[n++] = source; };
    put(kComma);
    if ((code >> 4) != 0) put(kMinus);
    if (x < 0) {
      put(kZero);
      put(kPoint);
      for (int i = 0; i < -x - 1; ++i) put(kZero);
      for (uint8_t d = 0; d < 8; ++d) put(d);
    } else {
      for (uint8_t d = 0; d < 8; ++d) {
        put(d);
        if (d == x) put(kPoint);
      }
    }
  }
  return shuffles;
}();

#define CDT_AVX2 __attribute__((target("avx2")))

CDT_AVX2 inline __m256i load(const Lanes& lanes) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.lane));
}

CDT_AVX2 inline __m256i loadEight(const unsigned char* values, std::size_t stride) {
  if (stride == 8) {
    // Floats at 0, 8, ..., 56: the even words of the first 32 bytes and the
    // odd words of the 32 bytes from 28, so that nothing past the last float
    // is read.
    const __m256 a = _mm256_loadu_ps(reinterpret_cast<const float*>(values));
    const __m256 b = _mm256_loadu_ps(reinterpret_cast<const float*>(values + 28));
    // [v0 v1 v4 v5 | v2 v3 v6 v7], then the middle quarters swapped.
    const __m256 mixed = _mm256_shuffle_ps(a, b, 0xd8);
    return _mm256_castpd_si256(_mm256_permute4x64_pd(_mm256_castps_pd(mixed), 0xd8));
  }
  uint32_t v[8];
  for (int i = 0; i < 8; ++i) std::memcpy(&v[i], values + static_cast<std::size_t>(i) * stride, 4);
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v));
}

// Whether all eight biased exponents lie in the wide run.
CDT_AVX2 inline bool allWide(__m256i bits, const WideConstants& c) {
  const __m256i offset = _mm256_sub_epi32(
      _mm256_and_si256(_mm256_srli_epi32(bits, 23), load(c.exponentMask)), load(c.wideFirst));
  const __m256i inside = _mm256_cmpeq_epi32(_mm256_min_epu32(offset, load(c.wideSpan)), offset);
  return _mm256_movemask_epi8(inside) == -1;
}

// The texts of eight cells, two to a vector: cells i and i + 4 in text[i];
// byte i of `ends` is where cell i ends, counted from the first.
struct EightCells {
  __m256i text[4];
  uint64_t ends;
};

// The cells of N blocks of eight floats whose biased exponents all lie in the
// wide run. The blocks go through each step together: the steps form one long
// chain of dependent instructions, and N independent chains side by side keep
// the processor busy while each waits.
template <int N>
CDT_AVX2 inline void makeEightCells(const __m256i (&bits)[N], EightCells (&cells)[N],
                                    const WideConstants& c) {
  __m256i negative[N];
  __m256i magnitude[N];
  __m256i x[N];
  __m256 scale[N];
  for (int j = 0; j < N; ++j) {
    negative[j] = _mm256_srli_epi32(bits[j], 31);
    magnitude[j] = _mm256_and_si256(bits[j], load(c.magnitude));
    const __m256i biased = _mm256_srli_epi32(magnitude[j], 23);
    // The decimal exponent: x0 from the binary one, plus one where the value
    // reaches 10^(x0 + 1). Tables of eight lanes, the upper entries in a
    // second.
    const __m256i x0 = _mm256_srai_epi32(
        _mm256_mullo_epi32(_mm256_sub_epi32(biased, load(c.bias)), load(c.log10Of2)), 18);
    const __m256i seven = load(c.seven);
    const __m256i reachIndex = _mm256_add_epi32(x0, load(c.three));  // 10^(x0+1), -2..7
    const __m256i reach =
        _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(load(c.reach[0]), reachIndex),
                           _mm256_permutevar8x32_epi32(load(c.reach[1]), reachIndex),
                           _mm256_cmpgt_epi32(reachIndex, seven));
    x[j] = _mm256_sub_epi32(x0, _mm256_cmpgt_epi32(magnitude[j], reach));
    // value * 10^(7 - x), in [10^7, 10^8).
    const __m256i k = _mm256_sub_epi32(seven, x[j]);
    scale[j] = _mm256_castsi256_ps(_mm256_blendv_epi8(
        _mm256_permutevar8x32_epi32(load(c.pow10[0]), k),
        _mm256_permutevar8x32_epi32(load(c.pow10[1]), k), _mm256_cmpgt_epi32(k, seven)));
  }

  // Round half up, then ties to even: the scaled value has at most 48
  // significant bits from 2^26 down, so adding one half is exact, truncation
  // is its floor, and an exact half leaves the sum an integer. All of it is
  // exact, whatever the floating-point environment's rounding mode.
  __m256i digits[N];
  for (int j = 0; j < N; ++j) {
    const __m256 value = _mm256_castsi256_ps(magnitude[j]);
    const __m256d half = _mm256_castsi256_pd(load(c.half));
    const __m256d sumLow =
        _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(value)),
                                    _mm256_cvtps_pd(_mm256_castps256_ps128(scale[j]))),
                      half);
    const __m256d sumHigh =
        _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(value, 1)),
                                    _mm256_cvtps_pd(_mm256_extractf128_ps(scale[j], 1))),
                      half);
    const __m128i upLow = _mm256_cvttpd_epi32(sumLow);
    const __m128i upHigh = _mm256_cvttpd_epi32(sumHigh);
    const __m256i up = _mm256_inserti128_si256(_mm256_castsi128_si256(upLow), upHigh, 1);
    // At a tie an odd half-up result is one more than the even neighbour.
    const __m256 tieLanes = _mm256_shuffle_ps(
        _mm256_castpd_ps(_mm256_cmp_pd(sumLow, _mm256_cvtepi32_pd(upLow), _CMP_EQ_OQ)),
        _mm256_castpd_ps(_mm256_cmp_pd(sumHigh, _mm256_cvtepi32_pd(upHigh), _CMP_EQ_OQ)), 0x88);
    const __m256i ties =
        _mm256_castpd_si256(_mm256_permute4x64_pd(_mm256_castps_pd(tieLanes), 0xd8));
    // No value rounds up to 10^8 (which would be 10^7 of the next exponent):
    // that needs it within 5 * 10^-9 of a power of ten, relative to it, and
    // floats of the wide run are at least 1.2 * 10^-8 from 10^j for j >= -1
    // (24-bit mantissas) and further than 2 * 10^-8 below 0.01.
    digits[j] = _mm256_sub_epi32(up, _mm256_and_si256(ties, _mm256_and_si256(up, load(c.one))));
  }

  // Digits to characters: each number into halves of four digits (d / 10^4
  // = d * 0xd1b71759 >> 45, for the even and the odd lanes), each half into
  // two pairs, each pair into two digits, in 16-bit lanes (x / 100 = x * 5243
  // >> 19 for x < 10^4, x / 10 = x * 6554 >> 16 for x < 100). Numbers 0, 1 |
  // 4, 5 in A and 2, 3 | 6, 7 in B, eight digits each, the first digit in the
  // lowest byte.
  __m256i digitsA[N];
  __m256i digitsB[N];
  for (int j = 0; j < N; ++j) {
    const __m256i magic = load(c.byTenThousand);
    const __m256i highEven = _mm256_srli_epi64(_mm256_mul_epu32(digits[j], magic), 45);
    const __m256i highOdd =
        _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(digits[j], 32), magic), 13);
    const __m256i high = _mm256_blend_epi32(highEven, highOdd, 0xaa);
    const __m256i low = _mm256_sub_epi32(digits[j], _mm256_madd_epi16(high, load(c.tenThousand)));
    const __m256i halves = _mm256_or_si256(high, _mm256_slli_epi32(low, 16));
    const __m256i hundreds = _mm256_srli_epi16(_mm256_mulhi_epu16(halves, load(c.byHundred)), 3);
    const __m256i pairs = _mm256_or_si256(
        hundreds, _mm256_slli_epi16(
                      _mm256_sub_epi16(halves, _mm256_mullo_epi16(hundreds, load(c.hundred))), 8));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i pairsA = _mm256_unpacklo_epi8(pairs, zero);
    const __m256i pairsB = _mm256_unpackhi_epi8(pairs, zero);
    const __m256i tensA = _mm256_mulhi_epu16(pairsA, load(c.byTen));
    const __m256i tensB = _mm256_mulhi_epu16(pairsB, load(c.byTen));
    digitsA[j] = _mm256_or_si256(
        tensA,
        _mm256_slli_epi16(_mm256_sub_epi16(pairsA, _mm256_mullo_epi16(tensA, load(c.ten))), 8));
    digitsB[j] = _mm256_or_si256(
        tensB,
        _mm256_slli_epi16(_mm256_sub_epi16(pairsB, _mm256_mullo_epi16(tensB, load(c.ten))), 8));
  }

  // The index of each number's last nonzero digit: per 32-bit half of its
  // eight, the highest set bit from the exponent of the half converted to
  // float (exact enough: digits are at most 9, so no half rounds up to the
  // next power of two), over 8, plus 4 for the upper half; a zero half gives
  // a negative index.
  const auto lastIndex = [&](__m256i d) CDT_AVX2 {
    const __m256i top = _mm256_srai_epi32(
        _mm256_sub_epi32(_mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(d)), 23),
                         load(c.halfExponentBias)),
        3);
    return _mm256_max_epi32(top, _mm256_shuffle_epi32(top, 0xb1));
  };
  alignas(32) uint32_t shuffleOffset[N][8];
  for (int j = 0; j < N; ++j) {
    const __m256i last =
        _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(lastIndex(digitsA[j])),
                                              _mm256_castsi256_ps(lastIndex(digitsB[j])), 0x88));
    // The length with the separator: 2 + sign + the integer part's x + 1
    // digits, or the digits through the last nonzero one and the point when
    // more, plus the zeros "0." and 1 - x - 2 zeros for x < 0:
    // 2 + s + max(last + (last > x), x) + max(-x, 0).
    const __m256i zero = _mm256_setzero_si256();
    const __m256i through = _mm256_sub_epi32(last, _mm256_cmpgt_epi32(last, x[j]));
    const __m256i length =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_max_epi32(through, x[j]),
                                          _mm256_max_epi32(_mm256_sub_epi32(zero, x[j]), zero)),
                         _mm256_add_epi32(negative[j], load(c.two)));
    // The eight lengths (at most 15) as the bytes of a word, then summed up
    // (at most 120).
    const __m256i lengthBytes = _mm256_permutevar8x32_epi32(
        _mm256_shuffle_epi8(length, load(c.lengthBytes)), load(c.lengthWords));
    cells[j].ends = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm256_castsi256_si128(lengthBytes))) *
                    0x0101010101010101ull;
    _mm256_store_si256(reinterpret_cast<__m256i*>(shuffleOffset[j]),
                       _mm256_or_si256(_mm256_slli_epi32(_mm256_add_epi32(x[j], load(c.three)), 4),
                                       _mm256_slli_epi32(negative[j], 8)));
  }

  // Each cell in a 128-bit lane: its digits, then the palette, shuffled.
  const auto* shuffles = reinterpret_cast<const unsigned char*>(kCellShuffles.data());
  for (int j = 0; j < N; ++j) {
    const __m256i charsA = _mm256_or_si256(digitsA[j], load(c.zeroChars));
    const __m256i charsB = _mm256_or_si256(digitsB[j], load(c.zeroChars));
    const __m256i palette = load(c.palette);
    const __m256i source[4] = {
        _mm256_unpacklo_epi64(charsA, palette), _mm256_unpackhi_epi64(charsA, palette),
        _mm256_unpacklo_epi64(charsB, palette), _mm256_unpackhi_epi64(charsB, palette)};
    for (int i = 0; i < 4; ++i) {
      const __m256i shuffle = _mm256_inserti128_si256(
          _mm256_castsi128_si256(
              _mm_load_si128(reinterpret_cast<const __m128i*>(shuffles + shuffleOffset[j][i]))),
          _mm_load_si128(reinterpret_cast<const __m128i*>(shuffles + shuffleOffset[j][i + 4])), 1);
      cells[j].text[i] = _mm256_shuffle_epi8(source[i], shuffle);
    }
  }
}

// Writes cells `first` to 7 and returns their end. Whole 16-byte texts are
// stored, in order, so that each next cell overwrites the scratch bytes of
// the one before.
CDT_AVX2 inline char* putEightCells(char* out, const EightCells& cells, int first) {
  const uint64_t starts = cells.ends << 8;
  char* const base = out - ((starts >> (8 * first)) & 0xff);
  const auto put = [&](int i, __m128i cell) CDT_AVX2 {
    if (i >= first) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(base + ((starts >> (8 * i)) & 0xff)), cell);
    }
  };
  for (int i = 0; i < 4; ++i) put(i, _mm256_castsi256_si128(cells.text[i]));
  for (int i = 0; i < 4; ++i) put(i + 4, _mm256_extracti128_si256(cells.text[i], 1));
  return base + (cells.ends >> 56);
}

// Cells `first` to 7 of the eight floats at `values`.
CDT_AVX2 inline char* formatEightCells(char* out, const unsigned char* values, std::size_t stride,
                                       int first, const WideConstants& c) {
  const __m256i bits[1] = {loadEight(values, stride)};
  if (allWide(bits[0], c)) {
    EightCells cells[1];
    makeEightCells<1>(bits, cells, c);
    return putEightCells(out, cells[0], first);
  }
  values += static_cast<std::size_t>(first) * stride;
  for (int i = first; i < 8; ++i, values += stride) {
    float value;
    std::memcpy(&value, values, sizeof value);
    *out++ = ',';
    out = formatFloat<8>(out, value);
  }
  return out;
}

// At least eight floats: sixteen at a time, then eight, the last eight
// overlapping the ones before when the count is no multiple of eight.
CDT_AVX2 char* formatCellsAvx2(char* out, const unsigned char* values, uint32_t count,
                               std::size_t stride) {
  const WideConstants* constants = &kWideConstants;
  asm("" : "+r"(constants));
  const WideConstants& c = *constants;
  uint32_t i = 0;
  for (; i + 16 <= count; i += 16, values += 16 * stride) {
    const __m256i bits[2] = {loadEight(values, stride), loadEight(values + 8 * stride, stride)};
    if (allWide(bits[0], c) && allWide(bits[1], c)) {
      EightCells cells[2];
      makeEightCells<2>(bits, cells, c);
      out = putEightCells(out, cells[0], 0);
      out = putEightCells(out, cells[1], 0);
    } else {
      out = formatEightCells(out, values, stride, 0, c);
      out = formatEightCells(out, values + 8 * stride, stride, 0, c);
    }
  }
  if (i + 8 <= count) {
    out = formatEightCells(out, values, stride, 0, c);
    i += 8;
    values += 8 * stride;
  }
  if (i < count) {
    const uint32_t back = 8 - (count - i);
    out = formatEightCells(out, values - back * stride, stride, static_cast<int>(back), c);
  }
  return out;
}

bool haveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2") != 0;
  return have;
}

#endif  // CDT_FLOAT_CELLS_AVX2

}  // namespace

char* formatFloatG8(char* out, float value) {
  return formatFloat<8>(out, value);
}

char* formatFloatG6(char* out, float value) {
  return formatFloat<6>(out, value);
}

char* formatFloatCellsG8(char* out, const unsigned char* values, uint32_t count,
                         std::size_t stride) {
#ifdef CDT_FLOAT_CELLS_AVX2
  if (count >= 8 && haveAvx2()) return formatCellsAvx2(out, values, count, stride);
#endif
  // One loop around the inlined formatter: no call per number, and the
  // constants stay in registers.
  for (uint32_t i = 0; i < count; ++i, values += stride) {
    float value;
    std::memcpy(&value, values, sizeof value);
    *out++ = ',';
    out = formatFloat<8>(out, value);
  }
  return out;
}

}  // namespace cdt
