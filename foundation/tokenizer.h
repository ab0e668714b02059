// The tokenizer: splits text into tokens at separators, with single-character
// tokens, quoting and escapes; and the whole-token number checks and parsers.
//
// Separator and single-character-token sets are terminated character lists
// (nullptr or "" for none). Escape and quote character 0 mean none. Quote and
// escape characters stay in the token's text; unquoting is a separate step.
#pragma once

#include <cstdint>

#include "foundation/counted_array.h"
#include "foundation/element_kinds.h"
#include "foundation/text_view.h"

namespace cdt {

// The scanning state over one text, which must stay unchanged while used.
struct Tokenizer {
  const char* text = nullptr;
  uint32_t length = 0;
  uint32_t cursor = 0;
  TextBuffer lastToken;

  Tokenizer() = default;
  Tokenizer(const char* t, uint32_t n) : text(t), length(n) {}
  // A tokenizer without text is always at its end.
  bool atEnd() const { return text == nullptr || cursor >= length; }
};

// The settings every scanning operation takes.
struct TokenRules {
  const char* separators = nullptr;  // characters that end a token and are consumed
  const char* singles = nullptr;     // characters that are a token on their own
  bool trim = false;                 // trim tokens; skip blank pieces before separators
  char escape = 0;                   // the next character is part of the token, whatever it is
  char quote = 0;                    // separators and singles between two of these are ordinary
};

// Tokens are views into the tokenizer's text. With trim on, runs of
// separators give no empty tokens, except that a text ending right after a
// skipped blank piece ("a  " with blank separators, "a,," with commas) gives
// one last token that is empty (no text); a text ending in one separator
// after its last token gives none. A NUL in the text is an ordinary
// character.

// The next token (empty at the end); the cursor moves past it and lastToken
// is set. A call that starts before the end always moves the cursor.
TextBuffer nextToken(Tokenizer& tokenizer, const TokenRules& rules);

// Up to n tokens into `tokens` (which may be nullptr); returns their count.
uint32_t splitTokens(Tokenizer& tokenizer, const TokenRules& rules, TextBuffer* tokens, uint32_t n);

// Every remaining token, into `tokens` (emptied first); returns their count.
inline constexpr ElementOps ViewArrayOps = rawElementOps(sizeof(TextBuffer));
using ViewArray = CountedArray<TextBuffer, &ViewArrayOps>;
uint32_t splitAllTokens(Tokenizer& tokenizer, const TokenRules& rules, ViewArray& tokens);

// Token k counted from the cursor (k >= 0) or back from the end (k < 0: -1 is
// the last); empty when there is no such token. The tokenizer is unchanged.
TextBuffer tokenAt(const Tokenizer& tokenizer, const TokenRules& rules, int32_t k);

// Whole-view number checks: the view holds one number as strtol (in `base`:
// 0 or 2 to 36; any other base accepts nothing) or strtod reads it, and
// otherwise only white space. Only the view's characters are read.
[[nodiscard]] bool isIntegerText(TextBuffer text, int base);
[[nodiscard]] bool isRealText(TextBuffer text);

// The view's value when the matching check holds, else `fallback`. Values out
// of range saturate as the C library's conversions do, with 32-bit `long`:
// parseInt32 at the signed 32-bit limits; parseUInt32 gives 4294967295 for a
// magnitude above 32 bits and negates a smaller one modulo 2^32 ("-1" gives
// 4294967295), as parseUInt64 does modulo 2^64. The conversions may change
// errno.
[[nodiscard]] int32_t parseInt32(TextBuffer text, int32_t fallback, int base);
[[nodiscard]] uint32_t parseUInt32(TextBuffer text, uint32_t fallback, int base);
[[nodiscard]] int64_t parseInt64(TextBuffer text, int64_t fallback, int base);
[[nodiscard]] uint64_t parseUInt64(TextBuffer text, uint64_t fallback, int base);
[[nodiscard]] double parseReal(TextBuffer text, double fallback);

}  // namespace cdt
