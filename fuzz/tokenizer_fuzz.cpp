// Splits arbitrary bytes into tokens under several rule sets and checks that
// the four ways of scanning agree: nextToken one by one, splitTokens in
// batches, splitAllTokens, and tokenAt counted from the cursor and back from
// the end. Every token is then given to the number checks and parsers, whose
// results are compared with the C library's conversions.
//
// Input: the whole input is the text for the fixed rule sets; when it holds
// at least four bytes, the first four are also a separator, a
// single-character token, an escape and a quote character for the rest,
// scanned with and without trimming.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "foundation/tokenizer.h"

namespace {

using cdt::TextBuffer;
using cdt::Tokenizer;
using cdt::TokenRules;

void check(bool condition) {
  if (!condition) std::abort();
}

// The same view: scanning is deterministic, so equal tokens are the same
// characters of the text, not merely equal ones.
bool sameToken(TextBuffer a, TextBuffer b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  return a.text == b.text && a.length == b.length;
}

bool insideText(TextBuffer token, const Tokenizer& t) {
  if (token.empty()) return true;
  return token.text >= t.text && token.length <= t.length &&
         token.text - t.text <= static_cast<std::ptrdiff_t>(t.length - token.length);
}

// --- Numbers ----------------------------------------------------------------

std::string terminated(TextBuffer text) {
  return std::string(text.view());
}

// What a parser with 32-bit `long` gives for an unsigned text that the check
// accepted: the magnitude saturates at 32 bits, and a negative sign negates
// it modulo 2^32.
uint32_t expectedUInt32(const std::string& text, int base) {
  const char* p = text.c_str();
  while (cdt::isSpaceChar(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  errno = 0;
  const unsigned long long magnitude = std::strtoull(p, nullptr, base);
  if (errno == ERANGE || magnitude > UINT32_MAX) return UINT32_MAX;
  const auto value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkIntegers(TextBuffer token, int base) {
  const bool valid = cdt::isIntegerText(token, base);
  const int32_t i32 = cdt::parseInt32(token, -11, base);
  const uint32_t u32 = cdt::parseUInt32(token, 12, base);
  const int64_t i64 = cdt::parseInt64(token, -13, base);
  const uint64_t u64 = cdt::parseUInt64(token, 14, base);
  const bool validBase = base == 0 || (base >= 2 && base <= 36);
  if (!valid || !validBase) {
    check(!valid);
    check(i32 == -11 && u32 == 12 && i64 == -13 && u64 == 14);
    return;
  }
  const std::string text = terminated(token);
  const long long wide = std::strtoll(text.c_str(), nullptr, base);
  check(i64 == wide);
  const long long clamped = wide > INT32_MAX ? INT32_MAX : (wide < INT32_MIN ? INT32_MIN : wide);
  check(i32 == clamped);
  check(u64 == std::strtoull(text.c_str(), nullptr, base));
  check(u32 == expectedUInt32(text, base));
}

void checkNumbers(TextBuffer token) {
  for (int base : {0, 10, 16, 2, 36, 1, 37}) checkIntegers(token, base);
  const bool real = cdt::isRealText(token);
  const double value = cdt::parseReal(token, 0.5);
  // A decimal integer is a real too.
  check(real || !cdt::isIntegerText(token, 10));
  if (!real) {
    check(sameBits(value, 0.5));
    return;
  }
  const std::string text = terminated(token);
  check(sameBits(value, std::strtod(text.c_str(), nullptr)));
}

void checkViews(TextBuffer token) {
  const TextBuffer trimmed = cdt::trimText(token);
  check(cdt::isBlankText(token) == trimmed.empty());
  if (!trimmed.empty()) {
    check(trimmed.text >= token.text && trimmed.text + trimmed.length <= token.text + token.length);
    check(!cdt::isSpaceChar(trimmed.text[0]) &&
          !cdt::isSpaceChar(trimmed.text[trimmed.length - 1]));
  }
  const TextBuffer stripped = cdt::stripQuotes(token, '"');
  check(stripped.size() == token.size() || stripped.size() + 2 == token.size());
  check(cdt::textEquals(token, TextBuffer(token.view())));
  (void)cdt::textColumn(token);
}

// --- Tokens -----------------------------------------------------------------

void checkRules(const char* text, uint32_t length, const TokenRules& rules) {
  Tokenizer start(text, length);

  Tokenizer all = start;
  cdt::ViewArray tokens;
  const uint32_t count = cdt::splitAllTokens(all, rules, tokens);
  check(count == tokens.size() && all.atEnd());

  // One by one: every call moves the cursor, and the tokens are the same.
  Tokenizer one = start;
  uint32_t n = 0;
  while (!one.atEnd()) {
    const uint32_t before = one.cursor;
    const TextBuffer token = cdt::nextToken(one, rules);
    check(one.cursor > before && one.cursor <= length);
    check(n < count && sameToken(token, tokens[n]) && sameToken(one.lastToken, token));
    check(insideText(token, one));
    ++n;
  }
  check(n == count);
  // At the end every further token is empty and the cursor stays.
  const uint32_t end = one.cursor;
  check(cdt::nextToken(one, rules).empty() && one.cursor == end);

  // In batches of three, the last batch short.
  Tokenizer batches = start;
  TextBuffer batch[3];
  n = 0;
  while (uint32_t got = cdt::splitTokens(batches, rules, batch, 3)) {
    check(got <= 3 && n + got <= count);
    for (uint32_t i = 0; i < got; ++i) check(sameToken(batch[i], tokens[n + i]));
    n += got;
  }
  check(n == count && cdt::splitTokens(batches, rules, nullptr, 5) == 0);

  // Counted from the cursor and back from the end, from the start and from
  // the middle; beyond the tokens, empty. Each call scans the text once or
  // twice, so a few indexes at the edges are checked.
  const uint32_t middle = count / 2;
  Tokenizer halfway = start;
  check(cdt::splitTokens(halfway, rules, nullptr, middle) == middle);
  const auto checkAt = [&](const Tokenizer& from, long long skipped, long long k) {
    const long long left = count - skipped;
    const TextBuffer token = cdt::tokenAt(from, rules, static_cast<int32_t>(k));
    if (k >= 0) {
      check(k < left ? sameToken(token, tokens[static_cast<uint32_t>(skipped + k)])
                     : token.empty());
    } else {
      check(-k <= left ? sameToken(token, tokens[static_cast<uint32_t>(count + k)])
                       : token.empty());
    }
  };
  for (long long k : {0LL, count - 1LL, 0LL + count, -1LL, -2LL, -1LL * count, -1LL - count}) {
    checkAt(start, 0, k);
  }
  const long long left = count - middle;
  for (long long k : {1LL, 0LL + INT32_MAX, -left, 0LL + INT32_MIN}) checkAt(halfway, middle, k);

  for (const TextBuffer& token : tokens) {
    checkViews(token);
    checkNumbers(token);
  }
}

// The configuration reader's rules, the path rules of the output name, a
// comma-separated line with quotes, and no rules at all.
const TokenRules kConfigRules{" \t\n\r", "=[]", true, '\\', '"'};
const TokenRules kPathRules{"\\/:", nullptr, true, 0, 0};
const TokenRules kCommaRules{",", "", false, 0, '"'};
const TokenRules kNoRules{};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX / 2) return 0;
  const auto* text = reinterpret_cast<const char*>(data);
  const auto length = static_cast<uint32_t>(size);
  for (const TokenRules* rules : {&kConfigRules, &kPathRules, &kCommaRules, &kNoRules}) {
    checkRules(text, length, *rules);
  }
  if (size >= 4) {
    const char separators[] = {text[0], '\0'};
    const char singles[] = {text[1], '\0'};
    for (bool trim : {false, true}) {
      const TokenRules rules{separators, singles, trim, text[2], text[3]};
      checkRules(text + 4, length - 4, rules);
    }
  }
  return 0;
}
